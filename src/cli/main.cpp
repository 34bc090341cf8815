// parvello-cli: the quote rules of Parvello for scripts and large jobs. Every file goes
// through the same engine as the window's "Start Removing"; the settings store is never
// read or written.
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "cli/stderrprompts.h"
#include "quotes/fileengine.h"
#include "quotes/unreadsources.h"
#include "textio/codepage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace parvello;

namespace {

constexpr int ExitAllWritten = 0;
constexpr int ExitSomeUntouched = 1;
constexpr int ExitUsage = 2;

const char HelpText[] =
    R"(Usage: parvello-cli --rule NAME [--double-text TEXT] [--single-text TEXT]
                    (--out DIR | --in-place) [--jobs N] PATH...

Removes or replaces quotation marks in text files, with the rules of Parvello.

Each file is read whole; its encoding is recognised from its byte-order mark (UTF-8,
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

Where the results go (exactly one is required):
  --out DIR          write each result into the existing folder DIR under the source
                     file's name (two sources of the same name: the later one remains)
  --in-place         replace each file with its result

Other options:
  --double-text TEXT the replacement of double-to-text, used exactly as given
  --single-text TEXT the replacement of single-to-text, used exactly as given
  --jobs N           files processed at the same time (default: the number of
                     processors); files that share a source or output path are
                     always processed one after another, in the order given
  --help             show this text
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
behind them.
On a terminal a progress line is shown while a long job runs.

Exit status: 0 when every file was written (or already held its result), 1 when any
file was left untouched, 2 on a usage error.
)";

struct Options {
    QuoteRule rule = QuoteRule::None;
    QString doubleText = QStringLiteral("'");
    QString singleText = QStringLiteral("\"");
    QString outDir;
    bool inPlace = false;
    int jobs = 0;
    QStringList paths;
    // Paths whose bytes cannot be held exactly as text, escaped for showing: never opened,
    // since the text would name another file or none.
    QStringList unrepresentable;
    bool help = false;
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
    bool onlyPaths = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (onlyPaths || !arg.startsWith(QLatin1Char('-')) || arg == u"-") {
            if (exact(i))
                options.paths << arg;
            else
                options.unrepresentable << EscapedName(raw[i]);
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
        if (name == u"--help" || name == u"-h") {
            noValue();
            options.help = true;
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
            options.outDir = takeValue();
            if (!inlineValue && !exact(i))
                throw UsageError{QStringLiteral("the folder name cannot be held exactly: %1")
                                     .arg(EscapedName(raw[i]))};
            haveOut = true;
        } else if (name == u"--in-place") {
            noValue();
            options.inPlace = true;
        } else if (name == u"--jobs") {
            bool ok = false;
            options.jobs = takeValue().toInt(&ok);
            if (!ok || options.jobs < 1)
                throw UsageError{QStringLiteral("--jobs needs a whole number of at least 1")};
        } else {
            throw UsageError{QStringLiteral("unknown option %1").arg(name)};
        }
    }
    if (options.help)
        return options;
    if (!haveRule)
        throw UsageError{QStringLiteral("--rule is required")};
    if (haveOut == options.inPlace)
        throw UsageError{QStringLiteral("exactly one of --out and --in-place is required")};
    if (haveOut && !IsFolder(options.outDir))
        throw UsageError{QStringLiteral("Folder does not exist: %1").arg(options.outDir)};
    if (options.paths.isEmpty() && options.unrepresentable.isEmpty())
        throw UsageError{QStringLiteral("no files given")};
    return options;
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
    QString identity;
};

PathStatus statusOf(const QString& path) {
    PathStatus result;
#ifdef Q_OS_UNIX
    struct stat status {};
    if (!path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &status) == 0) {
        result.folder = S_ISDIR(status.st_mode);
        result.exists = true;
        result.identity = QStringLiteral("inode:%1:%2").arg(status.st_dev).arg(status.st_ino);
        return result;
    }
#else
    result.folder = IsFolder(path);
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

int run(const Options& options) {
    StderrPrompts prompts;
    const QuoteReplacer rule(options.rule, options.doubleText, options.singleText);

    std::vector<Job> jobs;
    int skipped = 0;
    for (const QString& name : options.unrepresentable) {
        prompts.printLine(QStringLiteral("left untouched: %1: its name cannot be held exactly, "
                                         "so it could name another file")
                              .arg(name));
        ++skipped;
    }
    for (const QString& path : options.paths) {
        PathStatus status = statusOf(path);
        if (status.folder) {
            prompts.printLine(
                QStringLiteral("left untouched: %1: it is a folder, not a file").arg(path));
            ++skipped;
            continue;
        }
        QString output = path;
        PathStatus outputStatus = status;
        if (!options.inPlace) {
            output = CollapseBackslashes(options.outDir + Separator() + NameAfterLastSlash(path));
            outputStatus = statusOf(output);
        }
        jobs.push_back({path, output, std::move(status), std::move(outputStatus)});
    }

    // A job whose result would replace a file that a later job still has to read is left
    // untouched, so that no named file is lost before it is read.
    QStringList sources;
    QStringList outputs;
    for (const Job& job : jobs) {
        sources << (job.sourceStatus.exists ? job.sourceStatus.identity : QString());
        outputs << (job.outputStatus.exists ? job.outputStatus.identity : QString());
    }
    const std::vector<bool> replacing = RowsReplacingUnreadFiles(sources, outputs);
    std::vector<Job> kept;
    kept.reserve(jobs.size());
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (!replacing[j]) {
            kept.push_back(std::move(jobs[j]));
            continue;
        }
        prompts.printLine(QStringLiteral("left untouched: %1: %2")
                              .arg(jobs[j].source, ReplacesUnreadFileReason()));
        ++skipped;
    }
    jobs = std::move(kept);

    const std::vector<std::vector<size_t>> chains = chainsOf(jobs);
    const int workers =
        std::max(1, std::min<int>(options.jobs > 0 ? options.jobs : QThread::idealThreadCount(),
                                  int(chains.size())));
    std::atomic<size_t> nextChain{0};
    std::atomic<int> untouched{skipped};
    std::atomic<size_t> done{0};
    QElapsedTimer clock;
    clock.start();
    std::mutex progressMutex;
    qint64 lastProgress = 0;

    const auto work = [&] {
        for (size_t c = nextChain++; c < chains.size(); c = nextChain++) {
            for (const size_t j : chains[c]) {
                const Job& job = jobs[j];
                const FileReport report = ProcessFile(job.source, job.output, rule, prompts);
                if (!report.succeeded()) {
                    ++untouched;
                    prompts.printLine(
                        QStringLiteral("left untouched: %1: %2").arg(job.source, report.reason));
                }
                const size_t finished = ++done;
                if (prompts.stderrIsTerminal() && clock.elapsed() > 1000) {
                    const std::lock_guard lock(progressMutex);
                    if (clock.elapsed() - lastProgress >= 200) {
                        lastProgress = clock.elapsed();
                        prompts.showProgress(QStringLiteral("[%1/%2] %3")
                                                 .arg(finished)
                                                 .arg(jobs.size())
                                                 .arg(NameAfterLastSlash(job.source)));
                    }
                }
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < workers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    prompts.showProgress(QString());
    return untouched > 0 ? ExitSomeUntouched : ExitAllWritten;
}

} // namespace

int main(int argc, char* argv[]) {
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
        if (options.help) {
            std::fputs(HelpText, stdout);
            return ExitAllWritten;
        }
        CodePage::ansi(); // a misnamed code page is a usage error, before any file is read
    } catch (const UsageError& error) {
        std::fprintf(stderr, "parvello-cli: %s\nTry 'parvello-cli --help' for more information.\n",
                     error.message.toLocal8Bit().constData());
        return ExitUsage;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "parvello-cli: %s\n", failure.description().toLocal8Bit().constData());
        return ExitUsage;
    }
    return run(options);
}
