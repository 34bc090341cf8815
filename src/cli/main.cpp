// parvello-cli: the quote rules of Parvello for scripts and large jobs. Every file goes
// through the same engine as the window's "Start Removing"; the settings store is never
// read or written.
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "base/platform.h"
#include "base/printablename.h"
#include "cli/scratchfolder.h"
#include "cli/standardoutput.h"
#include "cli/stderrprompts.h"
#include "cli/unifieddiff.h"
#include "filelist/folderaccess.h"
#include "filelist/foldertree.h"
#include "quotes/fileengine.h"
#include "quotes/unreadsources.h"
#include "textio/codepage.h"
#include "textio/reading.h"
#include "textio/textencoder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QThread>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <climits>
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

using namespace parvello;

namespace {

constexpr int ExitAllWritten = 0;
constexpr int ExitSomeUntouched = 1;
constexpr int ExitUsage = 2;

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

enum class Mode {
    Write,  // --out or --in-place
    Check,  // --check
    Diff,   // --diff
    Filter, // - : standard input to standard output
};

// Where files come from, in the order given on the command line.
struct Source {
    enum class Kind { Path, Unrepresentable, FilesFrom, Recursive } kind;
    QString value;
    QString shown = {}; // Unrepresentable: the name's bytes as printed
};

// A name left out before the engine sees it: as --report json gives it, as the lines on
// standard error print it, and why.
struct LeftOut {
    QString path;
    QString shown;
    QString outcome;
    QString reason;
};

// The longest name a list may hold: the system's limit on a path. A list that holds a
// longer stretch without a name's end (a device that gives zeros, say) is read no further.
#ifdef PATH_MAX
constexpr qsizetype NameLimit = PATH_MAX;
#else
constexpr qsizetype NameLimit = 32767;
#endif

struct Options {
    QuoteRule rule = QuoteRule::None;
    QString doubleText = QStringLiteral("'");
    QString singleText = QStringLiteral("\"");
    QString outDir;
    bool inPlace = false;
    Mode mode = Mode::Write;
    int jobs = 0;
    bool json = false;
    bool nullSeparated = false;
    QString extension = QStringLiteral("*");
    std::vector<Source> sources;
    // Filled in from the sources by gather(): the files, and what is left out before any
    // file is opened: names whose bytes cannot be held exactly as text (the text would name
    // another file or none) and lists read no further.
    QStringList paths;
    std::vector<LeftOut> leftOut;
    // A --recursive scan left a folder or link out (each named on standard error).
    bool scanLeftOut = false;
    bool help = false;
    bool version = false;
};

struct UsageError {
    QString message;
};

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

// The arguments as text; `exact` tells for each whether its bytes come back unchanged from
// that text (empty: all do).
Options parse(const QStringList& args, const QList<QByteArray>& raw = {}) {
    const auto exact = [&](qsizetype i) { return raw.isEmpty() || NameRoundTrips(raw[i]); };
    Options options;
    bool haveRule = false;
    bool haveOut = false;
    bool haveExt = false;
    int modes = 0;
    bool stdinPath = false;
    bool stdinList = false;
    bool onlyPaths = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (onlyPaths || !arg.startsWith(QLatin1Char('-')) || arg == u"-") {
            if (!exact(i))
                options.sources.push_back(
                    {Source::Kind::Unrepresentable, EscapedName(raw[i]), PrintableName(raw[i])});
            else
                options.sources.push_back({Source::Kind::Path, arg});
            stdinPath = stdinPath || (arg == u"-" && !onlyPaths);
            continue;
        }
        if (arg == u"--") {
            onlyPaths = true;
            continue;
        }
        // --name VALUE or --name=VALUE
        QString name = arg;
        QString value;
        bool inlineValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            inlineValue = true;
        }
        const auto takeValue = [&] {
            if (inlineValue)
                return value;
            if (i + 1 >= args.size())
                throw UsageError{QStringLiteral("%1 needs a value").arg(name)};
            return args[++i];
        };
        const auto noValue = [&] {
            if (inlineValue)
                throw UsageError{QStringLiteral("%1 takes no value").arg(name)};
        };
        // A value that names a file or folder must name it exactly.
        const auto takeName = [&] {
            const QString taken = takeValue();
            if (!inlineValue && !exact(i))
                throw UsageError{QStringLiteral("the name after %1 cannot be held exactly: %2")
                                     .arg(name, PrintableName(raw[i]))};
            return taken;
        };
        if (name == u"--help" || name == u"-h") {
            noValue();
            options.help = true;
        } else if (name == u"--version") {
            noValue();
            options.version = true;
        } else if (name == u"--rule") {
            if (haveRule)
                throw UsageError{QStringLiteral("--rule given twice")};
            options.rule = ruleNamed(takeValue());
            haveRule = true;
        } else if (name == u"--double-text") {
            options.doubleText = takeValue();
        } else if (name == u"--single-text") {
            options.singleText = takeValue();
        } else if (name == u"--out") {
            if (haveOut)
                throw UsageError{QStringLiteral("--out given twice")};
            options.outDir = takeName();
            haveOut = true;
        } else if (name == u"--in-place") {
            noValue();
            options.inPlace = true;
        } else if (name == u"--check" || name == u"--diff") {
            noValue();
            const Mode mode = name == u"--check" ? Mode::Check : Mode::Diff;
            if (options.mode != mode)
                ++modes;
            options.mode = mode;
        } else if (name == u"--files-from") {
            const QString list = takeName();
            if (list == u"-") {
                if (stdinList)
                    throw UsageError{QStringLiteral("standard input can be read only once")};
                stdinList = true;
            }
            options.sources.push_back({Source::Kind::FilesFrom, list});
        } else if (name == u"-0" || name == u"--null") {
            noValue();
            options.nullSeparated = true;
        } else if (name == u"--recursive") {
            options.sources.push_back({Source::Kind::Recursive, takeName()});
        } else if (name == u"--ext") {
            options.extension = takeValue();
            if (options.extension.isEmpty())
                throw UsageError{QStringLiteral("--ext needs an extension, or * for every file")};
            haveExt = true;
        } else if (name == u"--report") {
            if (const QString format = takeValue(); format != u"json")
                throw UsageError{
                    QStringLiteral("unknown report format \"%1\"; the format is json").arg(format)};
            options.json = true;
        } else if (name == u"--jobs") {
            bool ok = false;
            options.jobs = takeValue().toInt(&ok);
            if (!ok || options.jobs < 1)
                throw UsageError{QStringLiteral("--jobs needs a whole number of at least 1")};
        } else {
            throw UsageError{QStringLiteral("unknown option %1").arg(name)};
        }
    }
    if (options.help || options.version)
        return options;
    if (!haveRule)
        throw UsageError{QStringLiteral("--rule is required")};
    const auto hasSource = [&](Source::Kind kind) {
        return std::any_of(options.sources.begin(), options.sources.end(),
                           [&](const Source& source) { return source.kind == kind; });
    };
    if (haveExt && !hasSource(Source::Kind::Recursive))
        throw UsageError{QStringLiteral("--ext applies to --recursive, which is not given")};
    if (options.nullSeparated && !hasSource(Source::Kind::FilesFrom))
        throw UsageError{QStringLiteral("-0 applies to --files-from, which is not given")};
    if (stdinPath) {
        if (options.sources.size() != 1)
            throw UsageError{QStringLiteral("- (standard input) must be the only file")};
        if (modes > 0 || haveOut || options.inPlace || options.json)
            throw UsageError{QStringLiteral("- filters standard input to standard output; it "
                                            "takes none of --out, --in-place, --check, --diff "
                                            "and --report")};
        options.mode = Mode::Filter;
        return options;
    }
    if (modes > 1)
        throw UsageError{QStringLiteral("--check and --diff cannot be given together")};
    if (modes == 1) {
        const QString flag =
            options.mode == Mode::Check ? QStringLiteral("--check") : QStringLiteral("--diff");
        if (haveOut || options.inPlace)
            throw UsageError{QStringLiteral("%1 writes nothing; it takes neither --out nor "
                                            "--in-place")
                                 .arg(flag)};
        if (options.mode == Mode::Diff && options.json)
            throw UsageError{QStringLiteral("--diff and --report json both write to standard "
                                            "output; give one of them")};
    } else if (haveOut == options.inPlace) {
        throw UsageError{
            QStringLiteral("exactly one of --out, --in-place, --check, --diff and - is required")};
    }
    if (haveOut && !IsFolder(options.outDir))
        throw UsageError{
            QStringLiteral("Folder does not exist: %1").arg(PrintablePath(options.outDir))};
    if (options.sources.empty())
        throw UsageError{QStringLiteral("no files given")};
    return options;
}

// The names of a --files-from list, a block at a time, each handed to `take` as its bytes.
// A name longer than NameLimit is no file's name: reading stops there, so a list without
// ends of names (zeros from a device, say) never fills the memory. False then.
bool readNameList(QIODevice& list, char separator,
                  const std::function<void(const QByteArray&)>& take) {
    QByteArray name;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 got; (got = list.read(block.data(), block.size())) > 0;) {
        for (qsizetype from = 0; from < got;) {
            const qsizetype end = block.first(got).indexOf(separator, from);
            name.append(block.constData() + from, (end < 0 ? got : end) - from);
            if (name.size() >= NameLimit)
                return false;
            if (end < 0)
                break;
            if (!name.isEmpty())
                take(std::exchange(name, QByteArray()));
            from = end + 1;
        }
    }
    if (!name.isEmpty())
        take(name);
    return true;
}

// The real file system for the folder scan; the cli asks nothing else of the platform.
class CliPlatform final : public Platform {
public:
    QString programFolder() override { return {}; }
    QString desktopFolder() override { return {}; }
    int fileAttributes(const QString& path) override { return FileAttributes(path); }
    QPoint cursorPosition() override { return {}; }
    double randomDraw() override { return 0; }
};

// A name whose bytes cannot be held exactly as text.
LeftOut unheld(const QString& escaped, const QString& shown) {
    return {escaped, shown, QStringLiteral("unrepresentable-name"),
            QStringLiteral("its name cannot be held exactly, so it could name another file")};
}

// Turns the sources into the list of files, in order. A list that cannot be read and a
// folder that does not exist are usage errors; nothing has been read or written yet.
void gather(Options& options, StderrPrompts& prompts) {
    CliPlatform platform;
    const std::shared_ptr<FolderAccess> folders = LocalFolderAccess(platform);
    for (const Source& source : options.sources) {
        switch (source.kind) {
        case Source::Kind::Path:
            options.paths << source.value;
            break;
        case Source::Kind::Unrepresentable:
            options.leftOut.push_back(unheld(source.value, source.shown));
            break;
        case Source::Kind::FilesFrom: {
            QFile file(source.value);
#ifdef Q_OS_WIN
            if (source.value == u"-")
                _setmode(_fileno(stdin), _O_BINARY);
#endif
            const bool open = source.value == u"-"
                                  ? file.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered)
                                  : file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            if (!open)
                throw UsageError{QStringLiteral("cannot read the list %1: %2")
                                     .arg(PrintablePath(source.value), file.errorString())};
            const char separator = options.nullSeparated ? '\0' : '\n';
            const bool whole = readNameList(file, separator, [&](const QByteArray& name) {
                if (NameRoundTrips(name))
                    options.paths << QFile::decodeName(name);
                else
                    options.leftOut.push_back(unheld(EscapedName(name), PrintableName(name)));
            });
            if (!whole)
                options.leftOut.push_back(
                    {source.value, QStringLiteral("--files-from ") + PrintablePath(source.value),
                     QStringLiteral("name-too-long"),
                     QStringLiteral("a name in it is longer than %1 bytes, the longest path the "
                                    "system takes; the rest of the list is not read")
                         .arg(NameLimit)});
            break;
        }
        case Source::Kind::Recursive: {
            if (!IsFolder(source.value))
                throw UsageError{QStringLiteral("Folder does not exist: %1").arg(source.value)};
            // The folder as the browse dialog gives it: a root keeps its separator.
            QString chosen = source.value;
            while (chosen.size() > 1 && chosen.endsWith(Separator()))
                chosen.chop(1);
            ScanServices services{prompts, *folders, [] {}};
            Trap trap(prompts, ModuleTag(QStringLiteral("Cli"), QStringLiteral("Recursive")));
            AddFilesInFolderTree(services, trap, chosen, options.extension,
                                 [&](const QString& path) { options.paths << path; });
            for (const QString& name : services.unrepresentable)
                options.leftOut.push_back(unheld(name, PrintablePath(name)));
            for (const ScanSkip& left : std::as_const(services.skipped))
                prompts.printLine(QStringLiteral("left out of the scan: %1: %2")
                                      .arg(PrintablePath(left.path), left.reason));
            options.scanLeftOut = options.scanLeftOut || !services.skipped.isEmpty();
            break;
        }
        }
    }
}

// What one look at a path tells: whether it is a folder (a link to a folder counts, as for
// IsFolder), and the name under which the path is recognised when it comes again: device
// and inode for a file that exists (hard and symbolic links included), else the cleaned
// absolute path.
// What a path given as a file names, found with one status call. (A pipe, socket or device
// is left untouched by the engine, as in the window.)
struct PathStatus {
    bool folder = false;
    bool exists = false;
    bool regular = false;
    QString identity;
};

PathStatus statusOf(const QString& path) {
    PathStatus result;
#ifdef Q_OS_UNIX
    struct stat status {};
    if (!path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &status) == 0) {
        result.folder = S_ISDIR(status.st_mode);
        result.regular = S_ISREG(status.st_mode);
        result.exists = true;
        result.identity = QStringLiteral("inode:%1:%2").arg(status.st_dev).arg(status.st_ino);
        return result;
    }
#else
    result.folder = IsFolder(path);
    result.regular = QFileInfo(path).isFile();
    if (const QString canonical = QFileInfo(path).canonicalFilePath(); !canonical.isEmpty()) {
        result.exists = true;
        result.identity = canonical;
        return result;
    }
#endif
    result.identity = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return result;
}

struct Job {
    QString source;
    QString output;
    PathStatus sourceStatus;
    PathStatus outputStatus;
};

// Groups the jobs so that jobs sharing a path (one's output is another's source or output)
// run one after another in their given order; different groups may run side by side.
std::vector<std::vector<size_t>> chainsOf(const std::vector<Job>& jobs) {
    std::vector<size_t> parent(jobs.size());
    std::iota(parent.begin(), parent.end(), size_t(0));
    const auto root = [&](size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    QHash<QString, size_t> owner;
    for (size_t i = 0; i < jobs.size(); ++i) {
        for (const QString& name : {jobs[i].sourceStatus.identity, jobs[i].outputStatus.identity}) {
            const auto found = owner.constFind(name);
            if (found == owner.cend())
                owner.insert(name, i);
            else
                parent[root(i)] = root(*found);
        }
    }
    std::map<size_t, size_t> chainOfRoot;
    std::vector<std::vector<size_t>> chains;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const auto [it, added] = chainOfRoot.try_emplace(root(i), chains.size());
        if (added)
            chains.emplace_back();
        chains[it->second].push_back(i);
    }
    return chains;
}

// Boxes that say nothing: for the look the cli takes at a file before or after the engine
// has processed it, whose failures the engine itself reports.
class QuietPrompts final : public Prompts {
public:
    void message(const QString&) override {}
    bool askYesNo(const QString&) override { return false; }
    void applicationError(const QString&) override {}
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }
    QString openFiles(const QString&, const QString&) override { return {}; }
    QString browseForFolder(const QString&, const QString&) override { return {}; }
    void shellOpen(const QString&) override {}
};

// What the reader finds in a file: its encoding, the encoding its result is written in and
// how many of its quotes the rule changes. Found block by block, so that memory does not
// grow with the file.
struct SourceFacts {
    bool read = false;
    SourceFormat format = SourceFormat::CodePage;
    OutputEncoding writtenAs = OutputEncoding::CodePage;
    qint64 bytes = 0;
    qint64 quotes = 0;
};

SourceFacts factsOf(const QString& path, const QuoteReplacer& rule) {
    QuietPrompts quiet;
    SourceFacts facts;
    facts.bytes = QFileInfo(path).size();
    const std::array<char16_t, 3>& family = rule.family();
    std::array<bool, 3> changes{};
    for (size_t q = 0; q < 3; ++q)
        changes[q] = rule.result(int(q)) != QString(QChar(family[q]));
    StreamedRead read(path, quiet, false);
    qint64 quotes = 0;
    while (read.status() == ReadStatus::Read) {
        const SourceBlocks::Next next = read.next();
        if (read.status() != ReadStatus::Read || next == SourceBlocks::Next::NotText)
            return facts;
        if (next == SourceBlocks::Next::End)
            break;
        if (next == SourceBlocks::Next::Restart) { // read again in the code page
            quotes = 0;
            continue;
        }
        for (const QChar c : read.blocks().units())
            for (size_t q = 0; q < 3; ++q)
                quotes += c.unicode() == family[q] && changes[q];
    }
    read.finish();
    if (read.status() != ReadStatus::Read)
        return facts;
    facts.read = true;
    facts.quotes = quotes;
    facts.format = read.blocks().format();
    facts.writtenAs = read.fileIsUtf8()                    ? OutputEncoding::Utf8WithMark
                      : read.fileIsUnicode()               ? OutputEncoding::Utf16LE
                      : facts.format == SourceFormat::Utf8 ? OutputEncoding::Utf8
                                                           : OutputEncoding::CodePage;
    return facts;
}

// Whether two files hold the same bytes, compared a block at a time (nullopt when either
// cannot be read).
std::optional<bool> sameBytes(const QString& a, const QString& b) {
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return std::nullopt;
    constexpr qint64 Block = 1 << 18;
    QByteArray x(Block, Qt::Uninitialized);
    QByteArray y(Block, Qt::Uninitialized);
    for (;;) {
        const qint64 gotX = first.read(x.data(), Block);
        const qint64 gotY = second.read(y.data(), Block);
        if (gotX < 0 || gotY < 0)
            return std::nullopt;
        if (gotX != gotY || std::memcmp(x.constData(), y.constData(), size_t(gotX)) != 0)
            return false;
        if (gotX == 0)
            return true;
    }
}

// The result's bytes as text, in the encoding the engine wrote them in.
QString decodeResult(const QByteArray& bytes, OutputEncoding encoding) {
    switch (encoding) {
    case OutputEncoding::CodePage: {
        QString text(bytes.size(), Qt::Uninitialized);
        CodePage::ansi().decode(bytes.constData(), bytes.size(),
                                reinterpret_cast<char16_t*>(text.data()));
        return text;
    }
    case OutputEncoding::Utf8:
        return QString::fromUtf8(bytes);
    case OutputEncoding::Utf8WithMark:
        return QString::fromUtf8(bytes.mid(3));
    case OutputEncoding::Utf16LE:
        return QStringDecoder(QStringConverter::Utf16LE)(bytes.mid(2));
    }
    return {};
}

QString formatName(SourceFormat format) {
    switch (format) {
    case SourceFormat::CodePage:
        return QStringLiteral("code-page");
    case SourceFormat::Utf8:
        return QStringLiteral("utf-8");
    case SourceFormat::Utf8WithMark:
        return QStringLiteral("utf-8-mark");
    case SourceFormat::Utf16LE:
        return QStringLiteral("utf-16le");
    case SourceFormat::Utf16BE:
        return QStringLiteral("utf-16be");
    case SourceFormat::Utf32LE:
        return QStringLiteral("utf-32le");
    case SourceFormat::Utf32BE:
        return QStringLiteral("utf-32be");
    }
    return {};
}

QString encodingName(OutputEncoding encoding) {
    switch (encoding) {
    case OutputEncoding::CodePage:
        return QStringLiteral("code-page");
    case OutputEncoding::Utf8:
        return QStringLiteral("utf-8");
    case OutputEncoding::Utf8WithMark:
        return QStringLiteral("utf-8-mark");
    case OutputEncoding::Utf16LE:
        return QStringLiteral("utf-16le");
    }
    return {};
}

QString outcomeName(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Written:
        return QStringLiteral("written");
    case FileOutcome::Unchanged:
        return QStringLiteral("unchanged");
    case FileOutcome::NotText:
        return QStringLiteral("not-text");
    case FileOutcome::CannotHold:
        return QStringLiteral("cannot-hold");
    case FileOutcome::NotRead:
        return QStringLiteral("not-read");
    case FileOutcome::NotWritten:
        return QStringLiteral("not-written");
    case FileOutcome::NotAFile:
        return QStringLiteral("not-a-file");
    case FileOutcome::Changed:
        return QStringLiteral("changed");
    case FileOutcome::InUse:
        return QStringLiteral("in-use");
    }
    return {};
}

// One line of --report json.
QByteArray jsonLine(const QString& path, const QString& outcome, const SourceFacts* facts,
                    std::optional<qint64> bytesOut, const QString& reason) {
    QJsonObject record{{QStringLiteral("path"), path}, {QStringLiteral("outcome"), outcome}};
    if (facts) {
        record.insert(QStringLiteral("bytes_in"), facts->bytes);
        if (facts->read) {
            const SourceFormat format = facts->format;
            record.insert(QStringLiteral("encoding"), formatName(format));
            if (format == SourceFormat::CodePage)
                record.insert(QStringLiteral("codepage"), CodePage::ansi().name());
            record.insert(QStringLiteral("written_as"), encodingName(facts->writtenAs));
            record.insert(QStringLiteral("quotes"), facts->quotes);
        }
    }
    if (bytesOut)
        record.insert(QStringLiteral("bytes_out"), *bytesOut);
    if (!reason.isEmpty())
        record.insert(QStringLiteral("reason"), reason);
    return QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
}

// Standard output for results that finish in any order: each job's text is written once
// every job before it has written its own.
class InOrder {
public:
    explicit InOrder(size_t jobs) : pending_(jobs) {}
    void put(size_t job, QByteArray text) {
        const std::lock_guard lock(mutex_);
        pending_[job] = std::move(text);
        for (; next_ < pending_.size() && pending_[next_]; ++next_) {
            if (!pending_[next_]->isEmpty())
                WriteStdout(*pending_[next_]);
            pending_[next_].reset();
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::optional<QByteArray>> pending_;
    size_t next_ = 0;
};

// Copies the file to standard output a block at a time, up to limit bytes, unless standard
// output fails.
void fileToStdout(const QString& path, qint64 limit = std::numeric_limits<qint64>::max()) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 got;
         limit > 0 && (got = file.read(block.data(), std::min<qint64>(block.size(), limit))) > 0;
         limit -= got)
        if (!WriteStdout(block.first(got)))
            return;
}

// Standard input through the engine to standard output. The text goes through a private
// temporary folder, a block at a time, so it takes exactly the road a file would and memory
// does not grow with it; input the engine leaves untouched is copied through unchanged.
// The folder goes when the run ends, whether it ends here or by a signal (ScratchFolder).
int runFilter(const QuoteReplacer& rule, StderrPrompts& prompts) {
#ifdef Q_OS_WIN
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    ScratchFolder scratch;
    const QString in = scratch.filePath(QStringLiteral("standard-input"));
    const QString out = scratch.filePath(QStringLiteral("standard-output"));
    QString reason = QStringLiteral("no temporary folder could be made");
    // The input as far as it was kept, and a block that could not be kept after it.
    qint64 kept = 0;
    QByteArray notKept;
    bool whole = false;
    char buffer[65536];
    if (scratch.isValid()) {
        QFile file(in);
        whole = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        for (size_t n; whole && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
            if (file.write(buffer, qint64(n)) == qint64(n)) {
                kept += qint64(n);
            } else {
                notKept = QByteArray(buffer, qsizetype(n));
                whole = false;
            }
        }
        whole = whole && std::ferror(stdin) == 0;
        file.close();
        if (!whole)
            reason = QStringLiteral("it could not be kept in a temporary file");
    }
    if (whole) {
        NamedPrompts named(prompts, {in, out});
        const FileReport report = ProcessFile(in, out, rule, named);
        if (report.succeeded() && QFile::exists(out)) {
            fileToStdout(out);
            return ExitAllWritten;
        }
        reason = report.reason;
    }
    fileToStdout(in, kept);
    WriteStdout(notKept);
    for (size_t n; !StdoutFailed() && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        WriteStdout(QByteArrayView(buffer, qsizetype(n)));
    prompts.printLine(
        QStringLiteral("left untouched: -: %1; copied to standard output unchanged").arg(reason));
    return ExitSomeUntouched;
}

int run(const Options& options) {
    StderrPrompts prompts;
    const QuoteReplacer rule(options.rule, options.doubleText, options.singleText);
    if (options.mode == Mode::Filter)
        return runFilter(rule, prompts);
    // --check and --diff compare each file with the result it would get in place.
    const bool examine = options.mode == Mode::Check || options.mode == Mode::Diff;

    std::vector<Job> jobs;
    jobs.reserve(size_t(options.paths.size()));
    int skipped = 0;
    // A file left untouched before the engine sees it: named on standard error and, with
    // --report json, on standard output.
    const auto skip = [&](const QString& path, const QString& shown, const QString& outcome,
                          const QString& reason) {
        prompts.printLine(QStringLiteral("left untouched: %1: %2").arg(shown, reason));
        if (options.json)
            WriteStdout(jsonLine(path, outcome, nullptr, std::nullopt, reason));
        ++skipped;
    };
    for (const LeftOut& name : options.leftOut)
        skip(name.path, name.shown, name.outcome, name.reason);
    for (const QString& path : options.paths) {
        PathStatus status = statusOf(path);
        if (status.folder) {
            skip(path, PrintablePath(path), QStringLiteral("folder"),
                 QStringLiteral("it is a folder, not a file"));
            continue;
        }
        QString output = path;
        PathStatus outputStatus = status;
        if (!options.inPlace && !examine) {
            output = CollapseBackslashes(options.outDir + Separator() + NameAfterLastSlash(path));
            outputStatus = statusOf(output);
        }
        jobs.push_back({path, output, std::move(status), std::move(outputStatus)});
    }

    // A job whose result would replace a file that a later job still has to read is left
    // untouched, so that no named file is lost before it is read. (Nothing is replaced when
    // only comparing.)
    std::vector<bool> replacing(jobs.size(), false);
    if (!examine) {
        QStringList sources;
        QStringList outputs;
        for (const Job& job : jobs) {
            sources << (job.sourceStatus.exists ? job.sourceStatus.identity : QString());
            outputs << (job.outputStatus.exists ? job.outputStatus.identity : QString());
        }
        replacing = RowsReplacingUnreadFiles(sources, outputs);
    }
    std::vector<Job> kept;
    kept.reserve(jobs.size());
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (!replacing[j])
            kept.push_back(std::move(jobs[j]));
        else
            skip(jobs[j].source, PrintablePath(jobs[j].source),
                 QStringLiteral("replaces-unread-file"), ReplacesUnreadFileReason());
    }
    jobs = std::move(kept);

    // Compared results are made in a private temporary folder, one file at a time each, and
    // removed as soon as they are compared; the folder goes when the run ends, whether it
    // ends here or by a signal (ScratchFolder).
    std::optional<ScratchFolder> scratch;
    if (examine) {
        scratch.emplace();
        if (!scratch->isValid()) {
            prompts.printLine(QStringLiteral("no temporary folder could be made: %1")
                                  .arg(scratch->errorString()));
            return ExitSomeUntouched;
        }
    }

    // Nothing is written while comparing, so every job may then run on its own.
    std::vector<std::vector<size_t>> chains;
    if (examine)
        for (size_t j = 0; j < jobs.size(); ++j)
            chains.push_back({j});
    else
        chains = chainsOf(jobs);
    const int workers =
        std::max(1, std::min<int>(options.jobs > 0 ? options.jobs : QThread::idealThreadCount(),
                                  int(chains.size())));
    std::atomic<size_t> nextChain{0};
    std::atomic<int> untouched{skipped};
    std::atomic<int> wouldChange{0};
    std::atomic<qint64> quotesChanged{0};
    std::atomic<size_t> done{0};
    QElapsedTimer clock;
    clock.start();
    std::mutex progressMutex;
    qint64 lastProgress = 0;
    InOrder out(jobs.size());

    const auto leftUntouched = [&](const Job& job, const FileReport& report) {
        ++untouched;
        prompts.printLine(
            QStringLiteral("left untouched: %1: %2").arg(PrintablePath(job.source), report.reason));
    };

    // Which jobs made their result (each job's own element: no two threads share one).
    std::vector<char> resultMade(jobs.size(), 0);

    // --out or --in-place.
    const auto write = [&](const Job& job, size_t j) {
        std::optional<SourceFacts> facts;
        if (options.json && job.sourceStatus.regular)
            facts = factsOf(job.source, rule);
        NamedPrompts named(prompts, {job.source, job.output});
        const FileReport report = ProcessFile(job.source, job.output, rule, named);
        if (!report.succeeded())
            leftUntouched(job, report);
        else
            resultMade[j] = 1;
        if (!options.json)
            return QByteArray();
        std::optional<qint64> bytesOut;
        if (report.succeeded())
            bytesOut = QFileInfo(job.output).size();
        return jsonLine(job.source, outcomeName(report.outcome), facts ? &*facts : nullptr,
                        bytesOut, report.reason);
    };

    // --check and --diff.
    const auto compare = [&](const Job& job, size_t j) {
        const QString resultPath = scratch->filePath(QString::number(j));
        NamedPrompts named(prompts, {job.source, resultPath});
        FileReport report = ProcessFile(job.source, resultPath, rule, named);
        SourceFacts facts;
        std::optional<bool> same;
        const qint64 resultSize = QFileInfo(resultPath).size();
        if (report.succeeded()) {
            facts = factsOf(job.source, rule);
            same = sameBytes(resultPath, job.source);
            if (!facts.read || !same)
                report = {FileOutcome::Changed,
                          QStringLiteral("it changed while it was being processed")};
        }
        // Only a diff needs the texts whole.
        QString resultText;
        LineArray sourceLines;
        if (report.succeeded() && options.mode == Mode::Diff && !*same) {
            QFile file(resultPath);
            if (file.open(QIODevice::ReadOnly))
                resultText = decodeResult(file.readAll(), facts.writtenAs);
            QuietPrompts quiet;
            sourceLines = ReadFileToStringLine(job.source, quiet, LineForm::Text);
        }
        QFile::remove(resultPath);
        if (!report.succeeded()) {
            leftUntouched(job, report);
            return options.json ? jsonLine(job.source, outcomeName(report.outcome), nullptr,
                                           std::nullopt, report.reason)
                                : QByteArray();
        }
        const bool differs = !*same;
        QByteArray text;
        if (differs) {
            ++wouldChange;
            quotesChanged += facts.quotes;
            if (options.mode == Mode::Diff) {
                const QString shown = PrintablePath(job.source);
                text = UnifiedDiff(shown, shown, sourceLines.text, resultText);
            } else {
                const QString line =
                    facts.quotes > 0
                        ? QStringLiteral("%1: %2 quote(s) would change")
                              .arg(PrintablePath(job.source))
                              .arg(facts.quotes)
                        : QStringLiteral("%1: no quotes, but its line ends or encoding would "
                                         "change")
                              .arg(PrintablePath(job.source));
                if (options.json)
                    prompts.printLine(line);
                else
                    text = line.toLocal8Bit() + '\n';
            }
        }
        if (options.json)
            text = jsonLine(job.source,
                            differs ? QStringLiteral("would-change") : QStringLiteral("unchanged"),
                            &facts, resultSize, {});
        return text;
    };

    // One job; a limit met on the way (no memory to be had) leaves its file untouched and
    // the run goes on.
    const auto doJob = [&](size_t j) {
        const Job& job = jobs[j];
        try {
            return examine ? compare(job, j) : write(job, j);
        } catch (const std::exception& failure) {
            ++untouched;
            prompts.printLine(
                QStringLiteral("left untouched: %1: it could not be processed (%2)")
                    .arg(PrintablePath(job.source), QString::fromLocal8Bit(failure.what())));
            return QByteArray();
        }
    };
    // Once standard output has failed, what is left to do would go nowhere: the run stops
    // taking files.
    const auto work = [&] {
        for (size_t c = nextChain++; c < chains.size() && !StdoutFailed(); c = nextChain++) {
            for (const size_t j : chains[c]) {
                const Job& job = jobs[j];
                out.put(j, doJob(j));
                const size_t finished = ++done;
                if (prompts.stderrIsTerminal() && clock.elapsed() > 1000) {
                    const std::lock_guard lock(progressMutex);
                    if (clock.elapsed() - lastProgress >= 200) {
                        lastProgress = clock.elapsed();
                        prompts.showProgress(
                            QStringLiteral("[%1/%2] %3")
                                .arg(finished)
                                .arg(jobs.size())
                                .arg(PrintablePath(NameAfterLastSlash(job.source))));
                    }
                }
            }
        }
    };
    // A thread the system will not give (a limit on processes or on memory) is one worker
    // fewer: the work goes on with those there are, at least this one.
    std::vector<std::thread> threads;
    try {
        for (int t = 1; t < workers; ++t)
            threads.emplace_back(work);
    } catch (const std::system_error&) {
    }
    work();
    for (std::thread& thread : threads)
        thread.join();
    prompts.showProgress(QString());
    // Into one folder, a later file's result of the same name replaces an earlier one's
    // (jobs sharing an output ran in their given order): each replaced result is named.
    if (!options.inPlace && !examine) {
        QHash<QString, size_t> holder;
        for (size_t j = 0; j < jobs.size(); ++j) {
            if (!resultMade[j])
                continue;
            const auto earlier = holder.constFind(jobs[j].output);
            if (earlier != holder.cend() && jobs[*earlier].source != jobs[j].source)
                prompts.printLine(QStringLiteral("replaced: %1: the result of %2 was replaced by "
                                                 "the result of %3")
                                      .arg(PrintablePath(jobs[j].output),
                                           PrintablePath(jobs[*earlier].source),
                                           PrintablePath(jobs[j].source)));
            holder.insert(jobs[j].output, j);
        }
    }
    if (options.mode == Mode::Diff) {
        QString summary = QStringLiteral("%1 of %2 file(s) would change, %3 quote(s) in all")
                              .arg(wouldChange.load())
                              .arg(jobs.size())
                              .arg(quotesChanged.load());
        if (untouched > 0)
            summary += QStringLiteral("; %1 left untouched").arg(untouched.load());
        WriteStdout(summary.toLocal8Bit() + '\n');
    }
    if (untouched > 0 || options.scanLeftOut || (options.mode == Mode::Check && wouldChange > 0))
        return ExitSomeUntouched;
    return ExitAllWritten;
}

// The status of the run, once standard output is closed: when it failed, the failure named
// and status 2.
int finish(int status) {
    if (const QString failure = FinishStdout(); !failure.isEmpty()) {
        std::fprintf(stderr, "parvello-cli: standard output: %s\n",
                     failure.toLocal8Bit().constData());
        return ExitUsage;
    }
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    InstallSignalCleanup();
    QStringList args;
    QList<QByteArray> raw;
    for (int i = 1; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
        raw << QByteArray(argv[i]);
    }
#ifndef Q_OS_UNIX
    raw.clear(); // file names are Unicode: every name the system gives can be held
#endif
    Options options;
    try {
        options = parse(args, raw);
        if (options.help || options.version) {
            WriteStdout(options.help ? HelpText : "parvello-cli " PARVELLO_VERSION "\n");
            return finish(ExitAllWritten);
        }
        CodePage::ansi(); // a misnamed code page is a usage error, before any file is read
        StderrPrompts prompts;
        gather(options, prompts);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "parvello-cli: %s\nTry 'parvello-cli --help' for more information.\n",
                     PrintableLine(error.message).toLocal8Bit().constData());
        return ExitUsage;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "parvello-cli: %s\n",
                     PrintableLine(failure.description()).toLocal8Bit().constData());
        return ExitUsage;
    } catch (const std::exception& failure) {
        // A limit met before any file was read (no memory for the list of files).
        std::fprintf(stderr, "parvello-cli: %s\n", failure.what());
        return ExitSomeUntouched;
    }
    try {
        return finish(run(options));
    } catch (const std::exception& failure) {
        // A limit met outside the work on one file.
        std::fprintf(stderr, "parvello-cli: %s\n", failure.what());
        return finish(ExitSomeUntouched);
    }
}
