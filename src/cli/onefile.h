// The work on one file of a parvello-cli run, in each of its modes: written (--out,
// --in-place), compared with its result (--check, --diff) or filtered from standard input.
#pragma once

#include "cli/joblist.h"
#include "cli/options.h"
#include "cli/report.h"
#include "quotes/quoterule.h"

#include <functional>
#include <string>

namespace parvello {
class CommitGroup;
class ScratchFolder;
class StderrPrompts;
} // namespace parvello

namespace parvello::cli {

class RunProgress;

// What the work on each file of a run shares.
struct FileWork {
    const Options& options;
    const QuoteReplacer& rule;
    StderrPrompts& prompts;
    Tally& tally;
    // --diff: the private folder in which each result is made and compared.
    const ScratchFolder* scratch = nullptr;
    // The progress line on a terminal (null: none).
    RunProgress* progress = nullptr;
    // Standard output in the order of the jobs; a long --diff writes to it directly once
    // its turn has come.
    InOrder* order = nullptr;
};

// One job of the run (jobs[index]): written or compared as the options ask, its failures
// named on standard error and counted; its text for standard output (the --check line, the
// diff, the --report json line) goes to deliver. A written job given a group waits there for
// the group's flush: its report is told and its text delivered when the group commits.
// resultMade is set when a written job made its result. A limit met on the way (no memory to
// be had) leaves the file untouched and the run goes on.
void processJob(const FileWork& work, const Job& job, size_t index, char& resultMade,
                CommitGroup* group, const std::function<void(std::string)>& deliver);

// Standard input through the engine to standard output, its lines ended as asked; the run's
// exit status.
int runFilter(const QuoteReplacer& rule, StderrPrompts& prompts,
              LineEnds lineEnds = LineEnds::CrLf);

} // namespace parvello::cli
