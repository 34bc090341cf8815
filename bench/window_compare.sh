#!/usr/bin/env bash
# "Start Removing" through the real window (offscreen, scripted boxes) beside parvello-cli
# and sed -i on the same files: 10,000 small files and one 256 MiB file, rule
# "Remove all double quotes", results into one folder. Prints medians over RUNS runs.
#   bench/window_compare.sh          (RUNS=5 by default; BENCH_DIR=/dev/shm/parvello-window)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-bench}
bench=${BENCH_DIR:-/dev/shm/parvello-window}
runs=${RUNS:-5}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVELLO_BUILD_TESTS=OFF \
    -DPARVELLO_BUILD_BENCH=ON >/dev/null
ninja -C "$build" parvello-cli parvello-window-bench >/dev/null
if [ ! -f "$bench/corpus/.complete" ]; then
    echo "Making the corpus in $bench/corpus ..."
    rm -rf "$bench/corpus"
    python3 "$here/make_corpus.py" "$bench/corpus" --big-count 0 --huge-mib 256 --small-count 10000
    touch "$bench/corpus/.complete"
fi
find "$bench/corpus/small" -type f | sort >"$bench/small.list"
echo "$bench/corpus/huge/huge.txt" >"$bench/huge.list"

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
seconds() { # seconds of one command, wall clock
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
fresh() { rm -rf "$bench/out" && mkdir -p "$bench/out"; }

measure() { # name list-file
    local name=$1 list=$2 window=() cli1=() cli=() sed=()
    local files bytes
    files=$(wc -l <"$list")
    bytes=$(xargs -d '\n' stat -c %s <"$list" | awk '{s+=$1} END {print s}')
    for _ in $(seq "$runs"); do
        fresh; window+=("$(seconds "$build/bin/parvello-window-bench" "$bench/out" "$list")")
        fresh; cli1+=("$(seconds xargs -d '\n' "$build/bin/parvello-cli" --jobs 1 --rule remove-double --out "$bench/out" <"$list")")
        fresh; cli+=("$(seconds xargs -d '\n' "$build/bin/parvello-cli" --rule remove-double --out "$bench/out" <"$list")")
        # sed edits copies in place: delete the three double quotes, end lines in CR LF.
        rm -rf "$bench/sed" && mkdir -p "$bench/sed" && xargs -d '\n' cp -t "$bench/sed" <"$list" 2>/dev/null ||
            (rm -rf "$bench/sed" && cp -r "$(dirname "$(head -1 "$list")")" "$bench/sed")
        sed+=("$(seconds find "$bench/sed" -type f -exec sed -i -e 's/["“”]//g' -e 's/\r*$/\r/' {} +)")
    done
    local w c1 c s
    w=$(printf '%s\n' "${window[@]}" | median)
    c1=$(printf '%s\n' "${cli1[@]}" | median)
    c=$(printf '%s\n' "${cli[@]}" | median)
    s=$(printf '%s\n' "${sed[@]}" | median)
    printf '%s: %d files, %.1f MB, medians of %d runs\n' "$name" "$files" "$(echo "$bytes / 1000000" | bc -l)" "$runs"
    for row in "window:$w" "cli --jobs 1:$c1" "cli (2 jobs):$c" "sed -i:$s"; do
        t=${row##*:}
        printf '  %-14s %8.3f s  %9.0f files/s  %7.1f MB/s\n' "${row%%:*}" "$t" \
            "$(echo "$files / $t" | bc -l)" "$(echo "$bytes / 1000000 / $t" | bc -l)"
    done
    printf '  window / cli --jobs 1 = %.2f   window / cli = %.2f   sed / window = %.2f\n' \
        "$(echo "$w / $c1" | bc -l)" "$(echo "$w / $c" | bc -l)" "$(echo "$s / $w" | bc -l)"
}

measure "small files" "$bench/small.list"
measure "one 256 MiB file" "$bench/huge.list"
rm -rf "$bench/out" "$bench/sed"
