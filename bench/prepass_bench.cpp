// What a read-only first pass over mark-less files would cost: each file is read in the
// engine's blocks and checked as UTF-8 exactly as the engine's first road checks it, and
// nothing is written. Prints the median time over the runs (run by compare.py).
//   prepass_bench RUNS FILE...
#include "textio/textsource.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace parvello;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: prepass_bench RUNS FILE...\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<qint64> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        for (int k = 2; k < argc; ++k) {
            SourceFile source = OpenSource(std::filesystem::path(argv[k]));
            SourceBlocks blocks(source, LoadAs::Ansi, true);
            // A file that proves not to be UTF-8 ends the pass there (Restart).
            while (blocks.next() == SourceBlocks::Next::Block) {
            }
        }
        times.push_back(clock.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    std::printf("%.4f\n", double(times[times.size() / 2]) / 1e9);
    return 0;
}
