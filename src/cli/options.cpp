#include "cli/options.h"

#include "base/pathhelpers.h"
#include "base/printablename.h"

#include <algorithm>
#include <map>

namespace parvello::cli {

const char HelpText[] =
    R"(Usage: parvello-cli --rule NAME [OPTIONS] (--out DIR | --in-place) FILES...
       parvello-cli --rule NAME [OPTIONS] (--check | --diff) FILES...
       parvello-cli --rule NAME [--double-text TEXT] [--single-text TEXT] -
       parvello-cli --help | --version

Removes or replaces quotation marks in text files, with the rules of Parvello.

Files are read and written in blocks, so memory does not grow with a file's size (only
--diff holds a file that would change whole, to compare its lines). A file's encoding is recognised from its byte-order mark (UTF-8,
UTF-16 or UTF-32), a mark-less file that is valid UTF-8 with non-ASCII characters is
read as UTF-8, and any other mark-less file is read in the ANSI code page (windows-1252,
or the single-byte code page named by the environment variable PARVELLO_CODEPAGE,
such as IBM437 or ISO-8859-7; multi-byte and stateful encodings are refused).
Every line of the result ends with CR LF. A file with the UTF-8 mark is written back as
UTF-8 with the mark, a UTF-16 or UTF-32 file as UTF-16 little-endian with its mark, a
mark-less UTF-8 file as UTF-8 without a mark, any other file in the code page.

Rules (--rule NAME); each works on one family of quotes, the straight, left and right
double quotes (" U+201C U+201D) or single quotes (' U+2018 U+2019):
  remove-double      delete every double quote
  remove-single      delete every single quote
  double-to-single   replace each double quote by the single quote of the same kind
  single-to-double   replace each single quote by the double quote of the same kind
  double-to-text     replace each double quote by the text of --double-text
                     (default: ')
  single-to-text     replace each single quote by the text of --single-text
                     (default: ")
  --double-text TEXT the replacement of double-to-text, used exactly as given
  --single-text TEXT the replacement of single-to-text, used exactly as given

What to do (exactly one):
  --out DIR          write each result into the existing folder DIR under the source
                     file's name (two sources of the same name: the later one remains)
  --in-place         replace each file with its result
  --check            write nothing; name on standard output each file whose result
                     would differ from what it holds, with its count of quotes changed
  --diff             write nothing; print a unified diff of each file that would change,
                     then a one-line summary. Old and new text are shown in UTF-8
                     whatever the file's encoding; on removed and added lines a CR is
                     shown as the sign U+240D, so changed line ends are visible
  -                  as the only FILES: filter standard input to standard output; input
                     that is not text is copied unchanged and named on standard error

Which files (in the order given; any mix):
  PATH               a file
  --files-from FILE  the names listed in FILE, one a line ("-": standard input); names
                     are taken as bytes, exactly as they stand; a name longer than the
                     system's longest path ends the reading of the list
  -0, --null         names in --files-from end with NUL instead of a line break
  --recursive DIR    the files that "Add All File(s) In Folder" adds for DIR: DIR and
                     all its subfolders, hidden system folders, "~" names and hidden
                     files left out, each folder and file once; links leading out of
                     DIR and folders that cannot be read or are too deep are named
                     (exit status 1); may be repeated
  --ext EXT          the extension --recursive takes: txt, md, ... or * for every file
                     (default: *)

Other options:
  --report json      one JSON object per line on standard output for each file: path,
                     outcome, encoding, written_as, quotes, bytes_in, bytes_out and, for a
                     file left untouched, reason; other lines stay on standard error
  --jobs N           files processed at the same time (default: the number of
                     processors); files that share a source or output path are
                     always processed one after another, in the order given
  --help             show this text
  --version          show the program's version
  --                 every later argument is a PATH

Outputs are written to a temporary file beside the target and moved over it when
complete, and only if the target is still the file that was read, unchanged; a file
that changes meanwhile is left as it is. In place, a symbolic link stays a link and the
file it leads to receives the result; in the --out folder, a link at the result's name
is replaced, never followed. A read-only target is refused unless it already holds its
result. A result identical to what the target already holds is not written. A file
that is not text (a NUL byte in a mark-less file, bytes that do not decode in the
encoding of its mark), a file whose code page cannot hold the replacement, a file that
cannot be read or changes while it is processed, an output that cannot be written, a
pipe, socket or device (given, or at a result's name in the --out folder), and a file
whose result would replace a file named after it (not yet processed, so not yet read)
are left untouched and named on standard error, one line each, as are the failures
behind them. With --out, a result that a later file's result of the same name replaced
is named on standard error too ("replaced: OUT: the result of A was replaced by the
result of B"). --check and --diff put each result in a private temporary folder,
removed afterwards, and compare it with the file (the filter keeps its input and result
there); the folder goes also when SIGINT, SIGTERM, SIGHUP or SIGPIPE ends the run.
A name that holds a control character, a line break or bytes that are not UTF-8 is
printed quoted with C escapes ("a\nb.txt", "caf\351.txt"), one line for each name.
On a terminal a progress line is shown while a long job runs.

Exit status:
  0  every file was written or already held its result; --check: no file would
     change; --diff: every file could be compared
  1  any file was left untouched; --check: also when any file would change
  2  usage error (nothing is read or written), or standard output failed
)";

const char VersionText[] = "parvello-cli " PARVELLO_VERSION "\n";

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

// Reads the command line one argument at a time: a path, "--", or an option that one of
// the groups below takes (each answers whether the option is one of its own). The checks
// of what the options say together follow once every argument is read.
class Parser {
public:
    Parser(const QStringList& args, const QList<QByteArray>& raw) : args_(args), raw_(raw) {}
    Options parse();

private:
    // Whether the bytes of argument i come back unchanged from its text.
    bool exact(qsizetype i) const { return raw_.isEmpty() || NameRoundTrips(raw_[i]); }
    void takePath(const QString& arg);
    void splitOption(const QString& arg);
    QString takeValue();
    void noValue() const;
    QString takeName();
    bool hasSource(Source::Kind kind) const;

    bool infoOption();   // --help, --version
    bool ruleOption();   // --rule, --double-text, --single-text
    bool actionOption(); // --out, --in-place, --check, --diff
    bool filesOption();  // --files-from, -0, --recursive, --ext
    bool otherOption();  // --report, --jobs

    void checkSources() const;
    void checkFilter() const;
    void checkAction() const;

    const QStringList& args_;
    const QList<QByteArray>& raw_;
    qsizetype i_ = 0;
    Options options_;
    // The option being read: --name VALUE or --name=VALUE.
    QString name_;
    QString value_;
    bool inlineValue_ = false;
    bool haveRule_ = false;
    bool haveOut_ = false;
    bool haveExt_ = false;
    int modes_ = 0;
    bool stdinPath_ = false;
    bool stdinList_ = false;
    bool onlyPaths_ = false;
};

Options Parser::parse() {
    for (i_ = 0; i_ < args_.size(); ++i_) {
        const QString& arg = args_[i_];
        if (onlyPaths_ || !arg.startsWith(QLatin1Char('-')) || arg == u"-") {
            takePath(arg);
            continue;
        }
        if (arg == u"--") {
            onlyPaths_ = true;
            continue;
        }
        splitOption(arg);
        if (!infoOption() && !ruleOption() && !actionOption() && !filesOption() && !otherOption())
            throw UsageError{QStringLiteral("unknown option %1").arg(name_)};
    }
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

void Parser::takePath(const QString& arg) {
    if (!exact(i_))
        options_.sources.push_back(
            {Source::Kind::Unrepresentable, EscapedName(raw_[i_]), PrintableName(raw_[i_])});
    else
        options_.sources.push_back({Source::Kind::Path, arg});
    stdinPath_ = stdinPath_ || (arg == u"-" && !onlyPaths_);
}

void Parser::splitOption(const QString& arg) {
    name_ = arg;
    value_.clear();
    inlineValue_ = false;
    if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
        name_ = arg.left(eq);
        value_ = arg.mid(eq + 1);
        inlineValue_ = true;
    }
}

QString Parser::takeValue() {
    if (inlineValue_)
        return value_;
    if (i_ + 1 >= args_.size())
        throw UsageError{QStringLiteral("%1 needs a value").arg(name_)};
    return args_[++i_];
}

void Parser::noValue() const {
    if (inlineValue_)
        throw UsageError{QStringLiteral("%1 takes no value").arg(name_)};
}

// A value that names a file or folder must name it exactly.
QString Parser::takeName() {
    const QString taken = takeValue();
    if (!inlineValue_ && !exact(i_))
        throw UsageError{QStringLiteral("the name after %1 cannot be held exactly: %2")
                             .arg(name_, PrintableName(raw_[i_]))};
    return taken;
}

bool Parser::hasSource(Source::Kind kind) const {
    return std::any_of(options_.sources.begin(), options_.sources.end(),
                       [&](const Source& source) { return source.kind == kind; });
}

bool Parser::infoOption() {
    if (name_ == u"--help" || name_ == u"-h") {
        noValue();
        options_.help = true;
    } else if (name_ == u"--version") {
        noValue();
        options_.version = true;
    } else {
        return false;
    }
    return true;
}

bool Parser::ruleOption() {
    if (name_ == u"--rule") {
        if (haveRule_)
            throw UsageError{QStringLiteral("--rule given twice")};
        options_.rule = ruleNamed(takeValue());
        haveRule_ = true;
    } else if (name_ == u"--double-text") {
        options_.doubleText = takeValue();
    } else if (name_ == u"--single-text") {
        options_.singleText = takeValue();
    } else {
        return false;
    }
    return true;
}

bool Parser::actionOption() {
    if (name_ == u"--out") {
        if (haveOut_)
            throw UsageError{QStringLiteral("--out given twice")};
        options_.outDir = takeName();
        haveOut_ = true;
    } else if (name_ == u"--in-place") {
        noValue();
        options_.inPlace = true;
    } else if (name_ == u"--check" || name_ == u"--diff") {
        noValue();
        const Mode mode = name_ == u"--check" ? Mode::Check : Mode::Diff;
        if (options_.mode != mode)
            ++modes_;
        options_.mode = mode;
    } else {
        return false;
    }
    return true;
}

bool Parser::filesOption() {
    if (name_ == u"--files-from") {
        const QString list = takeName();
        if (list == u"-") {
            if (stdinList_)
                throw UsageError{QStringLiteral("standard input can be read only once")};
            stdinList_ = true;
        }
        options_.sources.push_back({Source::Kind::FilesFrom, list});
    } else if (name_ == u"-0" || name_ == u"--null") {
        noValue();
        options_.nullSeparated = true;
    } else if (name_ == u"--recursive") {
        options_.sources.push_back({Source::Kind::Recursive, takeName()});
    } else if (name_ == u"--ext") {
        options_.extension = takeValue();
        if (options_.extension.isEmpty())
            throw UsageError{QStringLiteral("--ext needs an extension, or * for every file")};
        haveExt_ = true;
    } else {
        return false;
    }
    return true;
}

bool Parser::otherOption() {
    if (name_ == u"--report") {
        if (const QString format = takeValue(); format != u"json")
            throw UsageError{
                QStringLiteral("unknown report format \"%1\"; the format is json").arg(format)};
        options_.json = true;
    } else if (name_ == u"--jobs") {
        bool ok = false;
        options_.jobs = takeValue().toInt(&ok);
        if (!ok || options_.jobs < 1)
            throw UsageError{QStringLiteral("--jobs needs a whole number of at least 1")};
    } else {
        return false;
    }
    return true;
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
    if (modes_ > 0 || haveOut_ || options_.inPlace || options_.json)
        throw UsageError{QStringLiteral("- filters standard input to standard output; it "
                                        "takes none of --out, --in-place, --check, --diff "
                                        "and --report")};
}

// Exactly one thing to do, files to do it to, and an --out folder that exists.
void Parser::checkAction() const {
    if (modes_ > 1)
        throw UsageError{QStringLiteral("--check and --diff cannot be given together")};
    if (modes_ == 1) {
        const QString flag =
            options_.mode == Mode::Check ? QStringLiteral("--check") : QStringLiteral("--diff");
        if (haveOut_ || options_.inPlace)
            throw UsageError{QStringLiteral("%1 writes nothing; it takes neither --out nor "
                                            "--in-place")
                                 .arg(flag)};
        if (options_.mode == Mode::Diff && options_.json)
            throw UsageError{QStringLiteral("--diff and --report json both write to standard "
                                            "output; give one of them")};
    } else if (haveOut_ == options_.inPlace) {
        throw UsageError{
            QStringLiteral("exactly one of --out, --in-place, --check, --diff and - is required")};
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
