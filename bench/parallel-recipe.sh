#!/bin/sh
# Runs the README's recipe for spreading one large job over several machines, on this
# machine only: GNU parallel hands the names from find to several parvello-cli processes
# (`-S :` is this machine through the same route a remote host takes; -j 4 processes).
# Makes a tree of text files in several encodings, with odd names and a few files that
# are not text, treats one copy with a single parvello-cli run and another with the
# recipe, and checks that both copies end up byte for byte the same.
#   bench/parallel-recipe.sh                 # 2000 files
#   FILES=20000 bench/parallel-recipe.sh     # more
#   PARVELLO_CLI=/usr/bin/parvello-cli bench/parallel-recipe.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cli=${PARVELLO_CLI:-$root/build/bin/parvello-cli}
files=${FILES:-2000}

if ! command -v parallel >/dev/null 2>&1; then
    echo "parallel-recipe.sh: skipped: GNU parallel is not installed (Debian: apt-get install parallel)"
    exit 0
fi
[ -x "$cli" ] || { echo "parallel-recipe.sh: no parvello-cli at $cli (build it, or set PARVELLO_CLI)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/tree"
mkdir -p "$tree"
i=0
while [ "$i" -lt "$files" ]; do
    dir="$tree/d$((i % 17))/sub $((i % 5))"
    mkdir -p "$dir"
    case $((i % 6)) in
    0) printf '"plain" line %d\nsecond "line"\n' "$i" >"$dir/f$i.txt" ;;
    1) printf '\357\273\277\342\200\234marked\342\200\235 %d\r\n' "$i" >"$dir/name with space $i.txt" ;;
    2) printf '\377\376"\000u\000"\000\n\000' >"$dir/utf16-$i.txt" ;;
    3) printf '\223code page\224 "%d"\r\n' "$i" >"$dir/-dash-$i.txt" ;;
    4) printf 'no quotes %d\r\n' "$i" >"$dir/line
break $i.txt" ;;
    5) printf '"binary\000%d"' "$i" >"$dir/bin-$i.dat" ;;
    esac
    i=$((i + 1))
done
cp -a "$tree" "$work/single"
cp -a "$tree" "$work/split"

# One run over every file.
set +e
(cd "$work/single" && find . -type f -print0 | "$cli" --rule remove-double --in-place --files-from - -0 2>/dev/null)
single=$?
# The recipe: -X packs as many names into each command as fit, -j 4 runs four at once;
# `--` keeps a name that begins with "-" a name.
(cd "$work/split" && find . -type f -print0 |
    parallel -0 -X -j 4 -S : --joblog "$work/jobs.log" "$cli" --rule remove-double --in-place -- 2>/dev/null)
split=$?
set -e

usage=$(awk 'NR > 1 && $7 == 2' "$work/jobs.log" | wc -l)
jobs=$(($(wc -l <"$work/jobs.log") - 1))
echo "single run: exit $single; recipe: $jobs parvello-cli runs, parallel exit $split, usage errors $usage"
[ "$usage" -eq 0 ] || { echo "parallel-recipe.sh: a run ended with a usage error" >&2; exit 1; }
# The non-text files are left untouched in both copies, so both report them (status 1).
[ "$single" -eq 1 ] && [ "$split" -ge 1 ] || { echo "parallel-recipe.sh: unexpected exit status" >&2; exit 1; }
diff -r "$work/single" "$work/split" >/dev/null || { echo "parallel-recipe.sh: the outputs differ" >&2; exit 1; }
cmp -s "$tree/d0/sub 0/f0.txt" "$work/split/d0/sub 0/f0.txt" && { echo "parallel-recipe.sh: nothing was changed" >&2; exit 1; }
echo "parallel-recipe.sh: the recipe's outputs equal a single run's"
