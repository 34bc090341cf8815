#include "cli/options.h"

#include "base/addresses.h"
#include "base/pathhelpers.h"
#include "base/printablename.h"

#include <algorithm>
#include <map>

#include <getopt.h>

namespace parvello::cli {

namespace {
constexpr char HelpPage[] =
    R"(Usage: parvello-cli --rule=NAME [OPTION]... (-i | -o DIR | -n | -d) FILE...
       parvello-cli --rule=NAME [OPTION]... -
Remove or replace quotation marks in text files, keeping each file's encoding.

Rules (--rule=NAME), each on one family of quotes, the straight, left and right
double quotes (" U+201C U+201D) or single quotes (' U+2018 U+2019):
  remove-double, remove-single      delete every quote of the family
  double-to-single, single-to-double
                                    replace each quote by the one of the other
                                    family of the same kind
  double-to-text, single-to-text    replace each quote by the text of
                                    --double-text or --single-text
      --double-text=TEXT  replacement of double-to-text (default: ')
      --single-text=TEXT  replacement of single-to-text (default: ")

What to do (one; --check and --diff may go together):
  -i, --in-place        replace each file with its result
  -o, --out=DIR         write each result into the existing folder DIR, under
                          the source's name
  -n, --check           write nothing; name each file that would change, with
                          its count of quotes (exit status 1 if any would)
  -d, --diff            write nothing; print a unified diff of each file that
                          would change, then a summary
  -                     as the only FILE: filter standard input to standard
                          output (input that is not text is copied unchanged)

Which files (in the order given; any mix):
  FILE                  a file
  -r, --recursive=DIR   the files of DIR and its subfolders (hidden files and
                          folders left out); may be repeated
      --ext=EXT         the extension --recursive takes: txt, md, ... or * for
                          every file (default: *)
      --files-from=FILE the names listed in FILE, one a line (- : standard
                          input), taken as the bytes they are
  -0, --null            names in --files-from end with NUL, not a line break

How:
      --line-ends=WHEN  crlf: every line ends with CR LF (default); keep: line
                          breaks stay as they are; lf: every line ends with LF
      --backup[=SUFFIX] keep each replaced file under its name followed by
                          SUFFIX (default: ~)
      --color[=WHEN]    colour --diff: auto (on a terminal, unless NO_COLOR is
                          set), always (the default of --color alone), never
      --report=json     one JSON object a line on standard output for each file
  -j, --jobs=N          files processed at the same time (default: the number
                          of processors)
  -q, --quiet           name only problems on standard error
  -v, --verbose         also name each file with its outcome and its quotes
  -h, --help            show this help and exit
  -V, --version         show the version and exit
      --                every later argument is a FILE

A file's encoding comes from its byte-order mark; a mark-less file is read as
UTF-8 when it is valid UTF-8, else in the code page (windows-1252, or the
single-byte code page named by PARVELLO_CODEPAGE). The result keeps the
encoding: UTF-16 and UTF-32 come out as UTF-16 little-endian with its mark.
Each result is written to a temporary file and moved over its target only
when complete, and only if the target is still the file that was read. A file
left untouched is named on standard error, one line each:
  parvello-cli: notes.txt: cannot read: Permission denied

Exit status:
  0  every file was done or already held its result (--check: none would
     change)
  1  some file was left untouched, or (--check) some file would change
  2  usage error, or standard output failed

Full documentation: man parvello-cli
Report problems to <@SUPPORT_EMAIL@>.
Home page: <@HOME_PAGE@>
)";
} // namespace

QByteArray HelpText() {
    return QByteArray(HelpPage)
        .replace("@SUPPORT_EMAIL@", addresses::SupportEmail)
        .replace("@HOME_PAGE@", addresses::HomePage);
}

QByteArray VersionText() {
    return QByteArray("parvello-cli (Parvello) " PARVELLO_VERSION "\n"
                      "Copyright (C) 2025-2026 Kestrilon.\n"
                      "License: proprietary; all rights reserved.\n"
                      "Home page: <") +
           addresses::HomePage + ">\n";
}

QuoteRule ruleNamed(const QString& name) {
    static const std::map<QString, QuoteRule> rules = {
        {QStringLiteral("remove-double"), QuoteRule::RemoveDouble},
        {QStringLiteral("remove-single"), QuoteRule::RemoveSingle},
        {QStringLiteral("double-to-single"), QuoteRule::DoubleToSingle},
        {QStringLiteral("single-to-double"), QuoteRule::SingleToDouble},
        {QStringLiteral("double-to-text"), QuoteRule::DoubleToText},
        {QStringLiteral("single-to-text"), QuoteRule::SingleToText},
    };
    const auto found = rules.find(name);
    if (found == rules.end())
        throw UsageError{QStringLiteral("unknown rule \"%1\"").arg(name)};
    return found->second;
}

namespace {

// The options, each with the code getopt_long gives for it: a short option's own letter,
// or a number above every character for a long-only one.
enum Code : int {
    InPlace = 'i',
    Out = 'o',
    Check = 'n',
    Diff = 'd',
    Recursive = 'r',
    Null = '0',
    Jobs = 'j',
    Quiet = 'q',
    Verbose = 'v',
    Help = 'h',
    Version = 'V',
    Rule = 0x100,
    DoubleText,
    SingleText,
    Ext,
    FilesFrom,
    LineEndsCode,
    Backup,
    Color,
    Report,
};

// "-" first: every argument that is not an option comes back in its place (code 1), so
// files and lists keep their order; ":" next: a missing value is told apart (code ':').
constexpr char ShortOptions[] = "-:io:ndr:0j:qvhV";

const option LongOptions[] = {
    {"in-place", no_argument, nullptr, InPlace},
    {"out", required_argument, nullptr, Out},
    {"check", no_argument, nullptr, Check},
    {"diff", no_argument, nullptr, Diff},
    {"recursive", required_argument, nullptr, Recursive},
    {"null", no_argument, nullptr, Null},
    {"jobs", required_argument, nullptr, Jobs},
    {"quiet", no_argument, nullptr, Quiet},
    {"verbose", no_argument, nullptr, Verbose},
    {"help", no_argument, nullptr, Help},
    {"version", no_argument, nullptr, Version},
    {"rule", required_argument, nullptr, Rule},
    {"double-text", required_argument, nullptr, DoubleText},
    {"single-text", required_argument, nullptr, SingleText},
    {"ext", required_argument, nullptr, Ext},
    {"files-from", required_argument, nullptr, FilesFrom},
    {"line-ends", required_argument, nullptr, LineEndsCode},
    {"backup", optional_argument, nullptr, Backup},
    {"color", optional_argument, nullptr, Color},
    {"colour", optional_argument, nullptr, Color},
    {"report", required_argument, nullptr, Report},
    {nullptr, 0, nullptr, 0},
};

// How an option is named in a message: by its long name (empty for a code of none).
QString optionName(int code) {
    for (const option& o : LongOptions)
        if (o.name && o.val == code)
            return QStringLiteral("--") + QLatin1String(o.name);
    return {};
}

// Reads the command line with getopt_long (unique abbreviations, --opt=value, combined
// short options, "--" ending the options), one option or file at a time in the given
// order. The checks of what the options say together follow once every argument is read.
class Parser {
public:
    Parser(const QStringList& args, const QList<QByteArray>& raw);
    Options parse();

private:
    QString text(const char* bytes) const {
        return raw_.isEmpty() ? QString::fromUtf8(bytes) : QString::fromLocal8Bit(bytes);
    }
    // Whether these bytes come back unchanged from their text.
    bool exact(const char* bytes) const { return raw_.isEmpty() || NameRoundTrips(bytes); }
    [[noreturn]] void refuse(int result) const;
    void takePath(const char* arg);
    void take(int code);
    void takeHowOption(int code);
    // The option's value; a value that names a file or folder must name it exactly.
    QString value() const { return text(optarg); }
    QString name() const { return optionName(code_); }
    bool hasSource(Source::Kind kind) const;

    void checkSources() const;
    void checkFilter() const;
    void checkAction();

    const QList<QByteArray>& raw_;
    std::vector<QByteArray> bytes_;
    std::vector<char*> argv_;
    int code_ = 0;
    Options options_;
    bool haveRule_ = false;
    bool haveOut_ = false;
    bool haveExt_ = false;
    bool check_ = false;
    bool diff_ = false;
    bool stdinPath_ = false;
    bool stdinList_ = false;
};

Parser::Parser(const QStringList& args, const QList<QByteArray>& raw) : raw_(raw) {
    bytes_.emplace_back("parvello-cli");
    for (qsizetype i = 0; i < args.size(); ++i)
        bytes_.push_back(raw.isEmpty() ? args[i].toUtf8() : raw[i]);
    for (QByteArray& arg : bytes_)
        argv_.push_back(arg.data());
    argv_.push_back(nullptr);
}

Options Parser::parse() {
    opterr = 0;
    optind = 0; // starts getopt_long afresh
    const int argc = int(argv_.size()) - 1;
    for (int result;
         (result = getopt_long(argc, argv_.data(), ShortOptions, LongOptions, nullptr)) != -1;) {
        if (result == 1) {
            takePath(optarg);
            continue;
        }
        if (result == '?' || result == ':')
            refuse(result);
        code_ = result;
        take(result);
    }
    for (int i = optind; i < argc; ++i) // after "--"
        takePath(argv_[size_t(i)]);
    if (options_.help || options_.version)
        return options_;
    checkSources();
    if (stdinPath_) {
        checkFilter();
        options_.mode = Mode::Filter;
        return options_;
    }
    checkAction();
    return options_;
}

// An option that getopt_long could not take: unknown, ambiguous, missing its value or
// given one it does not take.
void Parser::refuse(int result) const {
    if (result == ':')
        throw UsageError{QStringLiteral("%1 needs a value").arg(optionName(optopt))};
    // A known option given a value it does not take was given in its long form.
    if (optopt != 0 && !optionName(optopt).isEmpty() && optind > 0 &&
        bytes_[size_t(optind - 1)].startsWith("--"))
        throw UsageError{QStringLiteral("%1 takes no value").arg(optionName(optopt))};
    if (optopt != 0)
        throw UsageError{QStringLiteral("unknown option -%1").arg(QChar(optopt))};
    const QString given = text(argv_[size_t(optind - 1)]);
    const QString stem = given.section(QLatin1Char('='), 0, 0).mid(2);
    QStringList matches;
    for (const option& o : LongOptions)
        if (o.name && QLatin1String(o.name).startsWith(stem) && !stem.isEmpty())
            matches << QStringLiteral("--") + QLatin1String(o.name);
    if (matches.size() > 1)
        throw UsageError{QStringLiteral("option --%1 is ambiguous: %2")
                             .arg(stem, matches.join(QStringLiteral(", ")))};
    throw UsageError{
        QStringLiteral("unknown option %1").arg(given.section(QLatin1Char('='), 0, 0))};
}

void Parser::takePath(const char* arg) {
    const QByteArray bytes(arg);
    if (!exact(arg))
        options_.sources.push_back(
            {Source::Kind::Unrepresentable, EscapedName(bytes), PrintableName(bytes)});
    else
        options_.sources.push_back({Source::Kind::Path, text(arg)});
    stdinPath_ = stdinPath_ || bytes == "-";
}

bool Parser::hasSource(Source::Kind kind) const {
    return std::any_of(options_.sources.begin(), options_.sources.end(),
                       [&](const Source& source) { return source.kind == kind; });
}

void Parser::take(int code) {
    const auto nameValue = [&] {
        if (!exact(optarg))
            throw UsageError{QStringLiteral("the name after %1 cannot be held exactly: %2")
                                 .arg(name(), PrintableName(QByteArray(optarg)))};
        return value();
    };
    switch (code) {
    case Help:
        options_.help = true;
        break;
    case Version:
        options_.version = true;
        break;
    case Rule:
        if (haveRule_)
            throw UsageError{QStringLiteral("--rule given twice")};
        options_.rule = ruleNamed(value());
        haveRule_ = true;
        break;
    case DoubleText:
        options_.doubleText = value();
        break;
    case SingleText:
        options_.singleText = value();
        break;
    case Out:
        if (haveOut_)
            throw UsageError{QStringLiteral("--out given twice")};
        options_.outDir = nameValue();
        haveOut_ = true;
        break;
    case InPlace:
        options_.inPlace = true;
        break;
    case Check:
        check_ = true;
        break;
    case Diff:
        diff_ = true;
        break;
    case FilesFrom: {
        const QString list = nameValue();
        if (list == u"-") {
            if (stdinList_)
                throw UsageError{QStringLiteral("standard input can be read only once")};
            stdinList_ = true;
        }
        options_.sources.push_back({Source::Kind::FilesFrom, list});
        break;
    }
    case Null:
        options_.nullSeparated = true;
        break;
    case Recursive:
        options_.sources.push_back({Source::Kind::Recursive, nameValue()});
        break;
    case Ext:
        options_.extension = value();
        if (options_.extension.isEmpty())
            throw UsageError{QStringLiteral("--ext needs an extension, or * for every file")};
        haveExt_ = true;
        break;
    default:
        takeHowOption(code);
    }
}

// The options of how the files are treated and told about.
void Parser::takeHowOption(int code) {
    switch (code) {
    case LineEndsCode: {
        static const std::map<QString, LineEnds> ends = {{QStringLiteral("crlf"), LineEnds::CrLf},
                                                         {QStringLiteral("keep"), LineEnds::Keep},
                                                         {QStringLiteral("lf"), LineEnds::Lf}};
        const auto found = ends.find(value());
        if (found == ends.end())
            throw UsageError{
                QStringLiteral("--line-ends takes crlf, keep or lf, not \"%1\"").arg(value())};
        options_.lineEnds = found->second;
        break;
    }
    case Backup:
        options_.backupSuffix = optarg ? value() : QStringLiteral("~");
        if (options_.backupSuffix.isEmpty() || options_.backupSuffix.contains(QLatin1Char('/')))
            throw UsageError{QStringLiteral("--backup needs a suffix without /")};
        break;
    case Color: {
        const QString when = optarg ? value() : QStringLiteral("always");
        if (when == u"auto")
            options_.colour = Colour::Auto;
        else if (when == u"always")
            options_.colour = Colour::Always;
        else if (when == u"never")
            options_.colour = Colour::Never;
        else
            throw UsageError{
                QStringLiteral("--color takes auto, always or never, not \"%1\"").arg(when)};
        break;
    }
    case Report:
        if (const QString format = value(); format != u"json")
            throw UsageError{
                QStringLiteral("unknown report format \"%1\"; the format is json").arg(format)};
        options_.json = true;
        break;
    case Jobs: {
        bool ok = false;
        options_.jobs = value().toInt(&ok);
        if (!ok || options_.jobs < 1)
            throw UsageError{QStringLiteral("%1 needs a whole number of at least 1").arg(name())};
        break;
    }
    case Quiet:
        options_.quiet = true;
        options_.verbose = false;
        break;
    case Verbose:
        options_.verbose = true;
        options_.quiet = false;
        break;
    default:
        throw UsageError{QStringLiteral("unknown option %1").arg(name())};
    }
}

// A rule is named, and the options that qualify a kind of source come with one.
void Parser::checkSources() const {
    if (!haveRule_)
        throw UsageError{QStringLiteral("--rule is required")};
    if (haveExt_ && !hasSource(Source::Kind::Recursive))
        throw UsageError{QStringLiteral("--ext applies to --recursive, which is not given")};
    if (options_.nullSeparated && !hasSource(Source::Kind::FilesFrom))
        throw UsageError{QStringLiteral("-0 applies to --files-from, which is not given")};
}

// "-" filters standard input, alone and with nothing else to do.
void Parser::checkFilter() const {
    if (options_.sources.size() != 1)
        throw UsageError{QStringLiteral("- (standard input) must be the only file")};
    if (check_ || diff_ || haveOut_ || options_.inPlace || options_.json ||
        !options_.backupSuffix.isEmpty())
        throw UsageError{QStringLiteral("- filters standard input to standard output; it "
                                        "takes none of --out, --in-place, --check, --diff, "
                                        "--backup and --report")};
}

// Exactly one thing to do, files to do it to, and an --out folder that exists.
void Parser::checkAction() {
    if (check_ || diff_) {
        options_.mode = diff_ ? Mode::Diff : Mode::Check;
        options_.failOnChange = check_;
        const QString flag = diff_ ? QStringLiteral("--diff") : QStringLiteral("--check");
        if (haveOut_ || options_.inPlace)
            throw UsageError{QStringLiteral("%1 writes nothing; it takes neither --out nor "
                                            "--in-place")
                                 .arg(flag)};
        if (!options_.backupSuffix.isEmpty())
            throw UsageError{QStringLiteral("%1 writes nothing; --backup applies to --out "
                                            "and --in-place")
                                 .arg(flag)};
        if (options_.mode == Mode::Diff && options_.json)
            throw UsageError{QStringLiteral("--diff and --report json both write to standard "
                                            "output; give one of them")};
    } else if (haveOut_ == options_.inPlace) {
        throw UsageError{
            QStringLiteral("exactly one of --out, --in-place, --check, --diff and - is required")};
    } else {
        options_.mode = Mode::Write;
    }
    if (haveOut_ && !IsFolder(options_.outDir))
        throw UsageError{
            QStringLiteral("Folder does not exist: %1").arg(PrintablePath(options_.outDir))};
    if (options_.sources.empty())
        throw UsageError{QStringLiteral("no files given")};
}

} // namespace

Options parse(const QStringList& args, const QList<QByteArray>& raw) {
    return Parser(args, raw).parse();
}

} // namespace parvello::cli
