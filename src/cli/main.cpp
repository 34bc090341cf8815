// parvello-cli: the quote rules of Parvello for scripts and large jobs. Every file goes
// through the same engine as the window's "Start Removing"; the settings store is never
// read or written. The command line is read in cli/options, the files gathered and
// ordered in cli/joblist, each file processed in cli/onefile and reported in cli/report.
#include "base/portable.h"
#include "base/printabletext.h"
#include "cli/joblist.h"
#include "cli/names.h"
#include "cli/onefile.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/scratchfolder.h"
#include "cli/standardoutput.h"
#include "cli/stderrprompts.h"
#include "quotes/fileengine.h"
#include "textio/codepage.h"
#include "textio/fileerror.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(PARVELLO_OS_UNIX)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace parvello;
using namespace parvello::cli;

namespace {

// How many results' worth of groups each worker holds at most: one group filling while
// those before it are flushed and put in place.
constexpr size_t GroupsPerWorker = CommitGroup::GroupsInFlight + 1;

// How many results each of the workers may keep waiting for a shared flush: up to 256. On a
// disk each flush costs the same however few files it covers, and where the disk is busy
// the run waits mostly for flushes one after another: groups of 256 took 6 to 9% less time
// than groups of 128 there, and the same where it was quiet. Each waiting result holds three
// open files (its source, its temporary file and their folder) and each worker
// GroupsPerWorker groups' worth, so the limit on open files is first raised to what the
// largest groups need, where the system allows it (a soft limit of 1024 is the usual
// default, far below what the system will give); under a lower limit the groups are smaller.
size_t groupCapacity(int workers) {
    constexpr size_t Largest = 256;
    constexpr size_t FilesPerResult = 4; // three, and room for the run's own
    const size_t groups = GroupsPerWorker * size_t(std::max(workers, 1));
    size_t limit = 1024;
#if defined(PARVELLO_OS_UNIX)
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        // (At most 65536, where a machine with many processors would want more.)
        const rlim_t wanted =
            rlim_t(std::min<size_t>(128 + FilesPerResult * Largest * groups, 65536));
        if (files.rlim_cur < wanted &&
            (files.rlim_max == RLIM_INFINITY || files.rlim_max > files.rlim_cur)) {
            rlimit raised = files;
            raised.rlim_cur =
                files.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, files.rlim_max);
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                files = raised;
        }
        limit = files.rlim_cur == RLIM_INFINITY ? size_t(wanted) : size_t(files.rlim_cur);
    }
#endif
    const size_t spare = limit > 128 ? (limit - 128) / FilesPerResult : 1;
    return std::clamp<size_t>(spare / groups, 1, Largest);
}

// Makes the process's table of open files large enough for `count` of them at once, while
// this thread is still the only one. Linux grows the table of a process with several threads
// only after a wait for every processor to pass a quiescent point, milliseconds each time
// while every thread that opens a file waits: a run whose workers grew it step by step from
// 64 to 1024 entries spent a fifth of its time on a disk so. Grown once, it stays.
void reserveOpenFiles(size_t count) {
#if defined(PARVELLO_OS_UNIX)
    rlimit files{};
    if (count < 2 || ::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return;
    const rlim_t allowed = files.rlim_cur == RLIM_INFINITY ? rlim_t(count) : files.rlim_cur;
    const rlim_t highest = std::min<rlim_t>(rlim_t(count), allowed) - 1;
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe < 0)
        return;
    if (const int high = ::fcntl(probe, F_DUPFD_CLOEXEC, int(highest)); high >= 0)
        ::close(high);
    ::close(probe);
#else
    (void)count; // the C runtime's descriptors do not grow this way
#endif
}

// Runs the chains of jobs side by side (the jobs of one chain in their order) on as many
// threads as --jobs asks or the machine has processors, this one among them; returns which
// jobs made their result. Standard output gets each job's text in the order of the jobs.
std::vector<char> runJobs(const FileWork& work, const std::vector<Job>& jobs,
                          const std::vector<std::vector<size_t>>& chains) {
    const int jobsOption = work.options.jobs;
    // As many as the machine has processors; one where it cannot tell.
    const int processors = std::max(1, int(std::thread::hardware_concurrency()));
    const int workers =
        std::max(1, std::min<int>(jobsOption > 0 ? jobsOption : processors, int(chains.size())));
    // Which jobs made their result (each job's own element: no two threads share one).
    std::vector<char> resultMade(jobs.size(), 0);
    std::atomic<size_t> nextChain{0};
    InOrder out(jobs.size());
    FileWork ordered = work;
    ordered.order = &out;
    // Each worker's results wait in a group for one flush to the disk (see CommitGroup),
    // flushed and put in place by a thread of its own while the worker goes on; a
    // chain of jobs that share a path runs outside the group, each job's result in place
    // before the next job reads it. Once standard output has failed, what is left to do
    // would go nowhere: the run stops taking files.
    const bool writing = work.options.mode == Mode::Write;
    const size_t groupSize = groupCapacity(workers);
    // Each result waiting holds three open files.
    if (writing)
        reserveOpenFiles(size_t(workers) * GroupsPerWorker * groupSize * 3 + 64);
    const auto worker = [&] {
        CommitGroup group(groupSize, true);
        for (size_t c = nextChain++; c < chains.size() && !StdoutFailed(); c = nextChain++) {
            const bool alone = chains[c].size() == 1;
            if (!alone)
                group.commit();
            for (const size_t j : chains[c])
                processJob(ordered, jobs[j], j, resultMade[j], alone && writing ? &group : nullptr,
                           [&out, j](std::string text) { out.put(j, std::move(text)); });
        }
        group.finish();
    };
    // A thread the system will not give (a limit on processes or on memory) is one
    // worker fewer: the work goes on with those there are, at least this one.
    std::vector<std::thread> threads;
    try {
        for (int t = 1; t < workers; ++t)
            threads.emplace_back(worker);
    } catch (const std::system_error&) {
    }
    worker();
    for (std::thread& thread : threads)
        thread.join();
    if (work.progress)
        work.progress->clear();
    return resultMade;
}

int run(Options& options) {
    StderrPrompts prompts;
    const QuoteReplacer rule(options.rule, Utf16Of(options.doubleText),
                             Utf16Of(options.singleText));
    if (options.mode == Mode::Filter)
        return runFilter(rule, prompts, options.lineEnds);
    // --check and --diff compare each file with the result it would get in place.
    const bool examine = options.mode == Mode::Check || options.mode == Mode::Diff;
    const JobList list = jobsOf(std::move(options.paths), options, examine);
    for (const LeftOut& name : list.leftOut)
        nameLeftOut(prompts, options.json, name);

    // The results --diff shows are made in a private temporary folder, one file at a time
    // each, and removed as soon as they are compared; the folder goes when the run ends,
    // whether it ends here or by a signal (ScratchFolder). --check makes none, and only
    // removes those that runs killed outright left.
    std::optional<ScratchFolder> scratch;
    if (options.mode == Mode::Diff) {
        scratch.emplace();
        if (!scratch->isValid()) {
            prompts.printLine("no temporary folder could be made: " + scratch->errorString());
            return ExitSomeUntouched;
        }
    } else if (examine) {
        RemoveLeftScratchFolders();
    }

    Tally tally;
    tally.untouched = int(list.leftOut.size());
    std::int64_t totalBytes = 0;
    for (const Job& job : list.jobs)
        totalBytes += job.sourceStatus.size;
    const bool onTerminal = prompts.stderrIsTerminal() && !options.quiet;
    RunProgress progress(prompts, totalBytes, onTerminal);
    const FileWork work{options, rule, prompts, tally, scratch ? &*scratch : nullptr, &progress};
    const std::vector<char> resultMade = runJobs(work, list.jobs, chainsOf(list.jobs, examine));
    if (!options.inPlace && !examine)
        nameReplacedResults(prompts, list.jobs, resultMade);
    if (options.mode == Mode::Diff)
        writeDiffSummary(tally, list.jobs.size());
    else if (onTerminal && !StdoutFailed())
        prompts.printLine(SummaryLine(tally, options.mode == Mode::Check));
    if (tally.untouched > 0 || options.scanLeftOut ||
        (options.failOnChange && tally.wouldChange > 0))
        return ExitSomeUntouched;
    return ExitAllWritten;
}

// The status of the run, once standard output is closed: when it failed, the failure named
// and status 2.
int finish(int status) {
    if (const std::string failure = FinishStdout(); !failure.empty()) {
        WriteStderr("parvello-cli: standard output: " + failure + "\n");
        return ExitUsage;
    }
    return status;
}

// The whole run over the arguments as their bytes (names.h).
int runArguments(const std::vector<std::string>& args) {
    InstallSignalCleanup();
    Options options;
    try {
        options = parse(args);
        if (options.help || options.version) {
            WriteStdout(options.help ? HelpText() : VersionText());
            return finish(ExitAllWritten);
        }
        CodePage::ansi(); // a misnamed code page is a usage error, before any file is read
        StderrPrompts prompts;
        gather(options, prompts);
    } catch (const UsageError& error) {
        WriteStderr("parvello-cli: " + PrintableLine(error.message) +
                    "\nTry 'parvello-cli --help' for more information.\n");
        return ExitUsage;
    } catch (const FileError& failure) { // the code page named by PARVELLO_CODEPAGE
        WriteStderr("parvello-cli: " + PrintableLine(failure.description()) + "\n");
        return ExitUsage;
    } catch (const std::exception& failure) {
        // A limit met before any file was read (no memory for the list of files).
        WriteStderr(std::string("parvello-cli: ") + failure.what() + "\n");
        return ExitSomeUntouched;
    }
    try {
        return finish(run(options));
    } catch (const std::exception& failure) {
        // A limit met outside the work on one file.
        WriteStderr(std::string("parvello-cli: ") + failure.what() + "\n");
        return finish(ExitSomeUntouched);
    }
}

} // namespace

#if defined(PARVELLO_OS_WINDOWS)
// The arguments come as UTF-16, as Windows holds names: each becomes the bytes the options
// are read from (NameBytes), from which every name comes back exactly.
int wmain(int argc, wchar_t* argv[]) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(NameBytes(std::filesystem::path(argv[i])));
    return runArguments(args);
}
#else
int main(int argc, char* argv[]) {
    return runArguments(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
