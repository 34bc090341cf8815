#include "cli/options.h"

#include "base/addresses.h"
#include "base/filestatus.h"
#include "base/printabletext.h"
#include "cli/names.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>
#include <utility>

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

std::string HelpText() {
    std::string text = HelpPage;
    const auto replace = [&text](std::string_view marker, std::string_view value) {
        for (size_t at; (at = text.find(marker)) != std::string::npos;)
            text.replace(at, marker.size(), value);
    };
    replace("@SUPPORT_EMAIL@", addresses::SupportEmail);
    replace("@HOME_PAGE@", addresses::HomePage);
    return text;
}

std::string VersionText() {
    return std::string("parvello-cli (Parvello) " PARVELLO_VERSION "\n"
                       "Copyright (C) 2025-2026 Kestrilon.\n"
                       "License: proprietary; all rights reserved.\n"
                       "Home page: <") +
           addresses::HomePage + ">\n";
}

QuoteRule ruleNamed(const std::string& name) {
    static const std::map<std::string, QuoteRule> rules = {
        {"remove-double", QuoteRule::RemoveDouble},
        {"remove-single", QuoteRule::RemoveSingle},
        {"double-to-single", QuoteRule::DoubleToSingle},
        {"single-to-double", QuoteRule::SingleToDouble},
        {"double-to-text", QuoteRule::DoubleToText},
        {"single-to-text", QuoteRule::SingleToText},
    };
    const auto found = rules.find(name);
    if (found == rules.end())
        throw UsageError{"unknown rule \"" + name + "\""};
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
std::string optionName(int code) {
    for (const option& o : LongOptions)
        if (o.name && o.val == code)
            return std::string("--") + o.name;
    return {};
}

// A whole number as --jobs takes it: blanks around it and a sign allowed; false when the
// text is no number or the number is beyond an int.
bool wholeNumber(std::string_view text, int& number) {
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    if (text.empty())
        return false;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > 1LL + INT_MAX)
            return false;
    }
    value = negative ? -value : value;
    if (value < INT_MIN || value > INT_MAX)
        return false;
    number = int(value);
    return true;
}

// Reads the command line with getopt_long (unique abbreviations, --opt=value, combined
// short options, "--" ending the options), one option or file at a time in the given
// order. The checks of what the options say together follow once every argument is read.
class Parser {
public:
    explicit Parser(const std::vector<std::string>& args);
    Options parse();

private:
    [[noreturn]] void refuse(int result) const;
    void takePath(const char* arg);
    void take(int code);
    void takeHowOption(int code);
    // The option's value, as its bytes.
    std::string value() const { return optarg ? std::string(optarg) : std::string(); }
    std::string name() const { return optionName(code_); }
    bool hasSource(Source::Kind kind) const;

    void checkSources() const;
    void checkFilter() const;
    void checkAction();

    std::vector<std::string> bytes_;
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

Parser::Parser(const std::vector<std::string>& args) {
    bytes_.emplace_back("parvello-cli");
    bytes_.insert(bytes_.end(), args.begin(), args.end());
    for (std::string& arg : bytes_)
        argv_.push_back(arg.data());
    argv_.push_back(nullptr);
}

// The parser is used once: what it gathered is moved out, not copied (a list of thousands of
// names would be copied whole).
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
        return std::move(options_);
    checkSources();
    if (stdinPath_) {
        checkFilter();
        options_.mode = Mode::Filter;
        return std::move(options_);
    }
    checkAction();
    return std::move(options_);
}

// An option that getopt_long could not take: unknown, ambiguous, missing its value or
// given one it does not take.
void Parser::refuse(int result) const {
    if (result == ':')
        throw UsageError{optionName(optopt) + " needs a value"};
    // A known option given a value it does not take was given in its long form.
    if (optopt != 0 && !optionName(optopt).empty() && optind > 0 &&
        bytes_[size_t(optind - 1)].starts_with("--"))
        throw UsageError{optionName(optopt) + " takes no value"};
    if (optopt != 0) // the option's character as the one UTF-16 unit its value stands for
        throw UsageError{"unknown option -" +
                         Utf8Of(std::u16string(1, char16_t(unsigned(optopt) & 0xFFFF)))};
    const std::string given(argv_[size_t(optind - 1)]);
    const std::string spelled = given.substr(0, given.find('='));
    const std::string stem = spelled.size() > 2 ? spelled.substr(2) : std::string();
    std::string matches;
    int found = 0;
    for (const option& o : LongOptions)
        if (o.name && !stem.empty() && std::string_view(o.name).starts_with(stem)) {
            matches += (found++ > 0 ? ", --" : "--") + std::string(o.name);
        }
    if (found > 1)
        throw UsageError{"option --" + stem + " is ambiguous: " + matches};
    throw UsageError{"unknown option " + spelled};
}

void Parser::takePath(const char* arg) {
    options_.sources.push_back({Source::Kind::Path, arg});
    stdinPath_ = stdinPath_ || std::string_view(arg) == "-";
}

bool Parser::hasSource(Source::Kind kind) const {
    return std::any_of(options_.sources.begin(), options_.sources.end(),
                       [&](const Source& source) { return source.kind == kind; });
}

void Parser::take(int code) {
    switch (code) {
    case Help:
        options_.help = true;
        break;
    case Version:
        options_.version = true;
        break;
    case Rule:
        if (haveRule_)
            throw UsageError{"--rule given twice"};
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
            throw UsageError{"--out given twice"};
        options_.outDir = PathOfBytes(value());
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
        const std::string list = value();
        if (list == "-") {
            if (stdinList_)
                throw UsageError{"standard input can be read only once"};
            stdinList_ = true;
        }
        options_.sources.push_back({Source::Kind::FilesFrom, list});
        break;
    }
    case Null:
        options_.nullSeparated = true;
        break;
    case Recursive:
        options_.sources.push_back({Source::Kind::Recursive, value()});
        break;
    case Ext:
        options_.extension = value();
        if (options_.extension.empty())
            throw UsageError{"--ext needs an extension, or * for every file"};
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
        static const std::map<std::string, LineEnds> ends = {
            {"crlf", LineEnds::CrLf}, {"keep", LineEnds::Keep}, {"lf", LineEnds::Lf}};
        const auto found = ends.find(value());
        if (found == ends.end())
            throw UsageError{"--line-ends takes crlf, keep or lf, not \"" + value() + "\""};
        options_.lineEnds = found->second;
        break;
    }
    case Backup:
        options_.backupSuffix = optarg ? value() : "~";
        if (options_.backupSuffix.empty() || options_.backupSuffix.find('/') != std::string::npos)
            throw UsageError{"--backup needs a suffix without /"};
        break;
    case Color: {
        const std::string when = optarg ? value() : "always";
        if (when == "auto")
            options_.colour = Colour::Auto;
        else if (when == "always")
            options_.colour = Colour::Always;
        else if (when == "never")
            options_.colour = Colour::Never;
        else
            throw UsageError{"--color takes auto, always or never, not \"" + when + "\""};
        break;
    }
    case Report:
        if (const std::string format = value(); format != "json")
            throw UsageError{"unknown report format \"" + format + "\"; the format is json"};
        options_.json = true;
        break;
    case Jobs:
        if (!wholeNumber(value(), options_.jobs) || options_.jobs < 1)
            throw UsageError{name() + " needs a whole number of at least 1"};
        break;
    case Quiet:
        options_.quiet = true;
        options_.verbose = false;
        break;
    case Verbose:
        options_.verbose = true;
        options_.quiet = false;
        break;
    default:
        throw UsageError{"unknown option " + name()};
    }
}

// A rule is named, and the options that qualify a kind of source come with one.
void Parser::checkSources() const {
    if (!haveRule_)
        throw UsageError{"--rule is required"};
    if (haveExt_ && !hasSource(Source::Kind::Recursive))
        throw UsageError{"--ext applies to --recursive, which is not given"};
    if (options_.nullSeparated && !hasSource(Source::Kind::FilesFrom))
        throw UsageError{"-0 applies to --files-from, which is not given"};
}

// "-" filters standard input, alone and with nothing else to do.
void Parser::checkFilter() const {
    if (options_.sources.size() != 1)
        throw UsageError{"- (standard input) must be the only file"};
    if (check_ || diff_ || haveOut_ || options_.inPlace || options_.json ||
        !options_.backupSuffix.empty())
        throw UsageError{"- filters standard input to standard output; it takes none of --out, "
                         "--in-place, --check, --diff, --backup and --report"};
}

// Exactly one thing to do, files to do it to, and an --out folder that exists.
void Parser::checkAction() {
    if (check_ || diff_) {
        options_.mode = diff_ ? Mode::Diff : Mode::Check;
        options_.failOnChange = check_;
        const std::string flag = diff_ ? "--diff" : "--check";
        if (haveOut_ || options_.inPlace)
            throw UsageError{flag + " writes nothing; it takes neither --out nor --in-place"};
        if (!options_.backupSuffix.empty())
            throw UsageError{flag + " writes nothing; --backup applies to --out and --in-place"};
        if (options_.mode == Mode::Diff && options_.json)
            throw UsageError{"--diff and --report json both write to standard output; give one "
                             "of them"};
    } else if (haveOut_ == options_.inPlace) {
        throw UsageError{"exactly one of --out, --in-place, --check, --diff and - is required"};
    } else {
        options_.mode = Mode::Write;
    }
    if (haveOut_ && !FileStatus::Of(options_.outDir).isFolder())
        throw UsageError{"Folder does not exist: " + PrintablePath(options_.outDir)};
    if (options_.sources.empty())
        throw UsageError{"no files given"};
}

} // namespace

Options parse(const std::vector<std::string>& args) {
    return Parser(args).parse();
}

} // namespace parvello::cli
