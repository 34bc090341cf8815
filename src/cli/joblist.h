// The files of a parvello-cli run: gathered from the command line's sources, each looked at
// once, paired with its output and grouped so that files sharing a path run in order.
#pragma once

#include "cli/options.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace parvello {
class StderrPrompts;
}

namespace parvello::cli {

// Turns the sources into the list of files, in order (options.paths, options.leftOut,
// options.scanLeftOut). A list that cannot be read and a folder that does not exist are
// usage errors; nothing has been read or written yet.
void gather(Options& options, StderrPrompts& prompts);

// What a path given as a file names, found with one status call: whether it is a folder
// (a link to a folder counts, as for IsFolder), and the name under which the path is
// recognised when it comes again: device and inode for a file that exists (hard and
// symbolic links included), else the cleaned absolute path. (A pipe, socket or device is
// left untouched by the engine, as in the window.)
struct PathStatus {
    bool folder = false;
    bool exists = false;
    bool regular = false;
    std::int64_t size = 0; // a regular file's size when it was looked at
    std::string identity;
};

PathStatus statusOf(const std::filesystem::path& path);

struct Job {
    std::filesystem::path source;
    std::filesystem::path output;
    PathStatus sourceStatus;
    PathStatus outputStatus;
};

// The jobs of a run, in the order given, and the names left out before the engine sees
// them, in the order they are to be named.
struct JobList {
    std::vector<Job> jobs;
    std::vector<LeftOut> leftOut;
};

// The gathered files as jobs: each path with its output (the path itself in place and
// when only comparing, else the file of its name in the --out folder). Left out: the names
// gather() left out, folders, and (when writing) each job whose result would replace a
// file that a later job still has to read, so that no named file is lost before it is read.
// `paths` are the gathered files (options.paths), taken over by the jobs.
JobList jobsOf(std::vector<std::filesystem::path> paths, const Options& options, bool examine);

// Groups the jobs so that jobs sharing a path (one's output is another's source or output)
// run one after another in their given order; different groups may run side by side. When
// only comparing, nothing is written, so every job is a group of its own.
std::vector<std::vector<size_t>> chainsOf(const std::vector<Job>& jobs, bool examine);

} // namespace parvello::cli
