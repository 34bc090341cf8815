// What parvello-cli is asked to do: its command line read into Options, and the texts of
// --help and --version.
#pragma once

#include "quotes/fileengine.h"
#include "quotes/quoterule.h"

#include <filesystem>
#include <string>
#include <vector>

namespace parvello::cli {

// The exit status of a run (as --help lists them).
constexpr int ExitAllWritten = 0;
constexpr int ExitSomeUntouched = 1;
constexpr int ExitUsage = 2;

// The texts of --help and --version.
std::string HelpText();
std::string VersionText();

enum class Mode {
    Write,  // --out or --in-place
    Check,  // --check
    Diff,   // --diff
    Filter, // - : standard input to standard output
};

// Where files come from, in the order given on the command line; each name as the bytes
// it was given as (names.h), whatever they are.
struct Source {
    enum class Kind { Path, FilesFrom, Recursive } kind;
    std::string value;
};

// A name left out before the engine sees it: as --report json gives it (JsonName), as the
// lines on standard error print it, and why.
struct LeftOut {
    std::string path;
    std::string shown;
    std::string outcome;
    std::string reason;
};

// When --diff colours its lines.
enum class Colour { Auto, Always, Never };

struct Options {
    QuoteRule rule = QuoteRule::None;
    std::string doubleText = "'"; // UTF-8
    std::string singleText = "\"";
    std::filesystem::path outDir;
    bool inPlace = false;
    Mode mode = Mode::Write;
    bool failOnChange = false; // --check (alone or with --diff): status 1 when a file would change
    int jobs = 0;
    bool json = false;
    LineEnds lineEnds = LineEnds::CrLf; // --line-ends
    std::string backupSuffix;           // --backup[=SUFFIX], its bytes: empty without it
    Colour colour = Colour::Auto;       // --color
    bool quiet = false;                 // -q: only problems on standard error
    bool verbose = false;               // -v: one line per file with its outcome
    bool nullSeparated = false;
    std::string extension = "*"; // UTF-8
    std::vector<Source> sources;
    // Filled in from the sources by gather(): the files, and what is left out before any
    // file is opened (lists read no further).
    std::vector<std::filesystem::path> paths;
    std::vector<LeftOut> leftOut;
    // A --recursive scan left a folder or link out (each named on standard error).
    bool scanLeftOut = false;
    bool help = false;
    bool version = false;
};

// A command line that cannot be run: nothing is read or written, the status is ExitUsage.
struct UsageError {
    std::string message; // UTF-8, names in it as they were given
};

// The rule of a --rule name; an unknown name is a UsageError.
QuoteRule ruleNamed(const std::string& name);

// The arguments (after the program's name) as their bytes: on Unix as the system gave them,
// on Windows in UTF-8 (NameBytes). Throws UsageError.
Options parse(const std::vector<std::string>& args);

} // namespace parvello::cli
