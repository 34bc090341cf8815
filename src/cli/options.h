// What parvello-cli is asked to do: its command line read into Options, and the texts of
// --help and --version.
#pragma once

#include "quotes/fileengine.h"
#include "quotes/quoterule.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

namespace parvello::cli {

// The exit status of a run (as --help lists them).
constexpr int ExitAllWritten = 0;
constexpr int ExitSomeUntouched = 1;
constexpr int ExitUsage = 2;

// The texts of --help and --version.
QByteArray HelpText();
QByteArray VersionText();

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

// When --diff colours its lines.
enum class Colour { Auto, Always, Never };

struct Options {
    QuoteRule rule = QuoteRule::None;
    QString doubleText = QStringLiteral("'");
    QString singleText = QStringLiteral("\"");
    QString outDir;
    bool inPlace = false;
    Mode mode = Mode::Write;
    bool failOnChange = false; // --check (alone or with --diff): status 1 when a file would change
    int jobs = 0;
    bool json = false;
    LineEnds lineEnds = LineEnds::CrLf; // --line-ends
    QString backupSuffix;               // --backup[=SUFFIX]: empty without it
    Colour colour = Colour::Auto;       // --color
    bool quiet = false;                 // -q: only problems on standard error
    bool verbose = false;               // -v: one line per file with its outcome
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

// A command line that cannot be run: nothing is read or written, the status is ExitUsage.
struct UsageError {
    QString message;
};

// The rule of a --rule name; an unknown name is a UsageError.
QuoteRule ruleNamed(const QString& name);

// The arguments as text; `raw` holds their bytes, to tell for each whether its bytes come
// back unchanged from that text (empty: all do). Throws UsageError.
Options parse(const QStringList& args, const QList<QByteArray>& raw = {});

} // namespace parvello::cli
