#!/usr/bin/env bash
# Uses the real program as a person would, on a virtual display: "Add File(s)" with two
# files typed into the open dialog, "..." to choose the output folder, "Start Removing",
# then a screenshot of the "Done." box. Needs xdotool, Xvfb and ImageMagick.
#   tools/try_two_files.sh [program]   (default build/bin/parvello)
set -euo pipefail
program=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/bin/parvello}
work=$(mktemp -d)
mkdir -p "$work/home/Desktop" "$work/in" "$work/out"
chmod 700 "$work/home"
printf 'He said "hello".\r\nIt\xe2\x80\x99s \xe2\x80\x9cfine\xe2\x80\x9d.\n' >"$work/in/a.txt"
printf '"one"\n"two"' >"$work/in/b.txt"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/home"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -e
    "$1" & program=$!
    sleep 2
    window=$(xdotool search --name "^Parvello$" | head -1)
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove $((X + 136)) $((Y + 230)) click 1      # Add File(s)
    sleep 2
    xdotool type --delay 20 "$2/in/"; xdotool key Return; sleep 1
    xdotool type --delay 20 "\"a.txt\" \"b.txt\""; xdotool key Return; sleep 1
    xdotool mousemove $((X + 476)) $((Y + 518)) click 1      # ...
    sleep 2
    xdotool key ctrl+a; xdotool type --delay 20 "$2/out"; xdotool key Return; sleep 1
    xdotool mousemove $((X + 268)) $((Y + 595)) click 1      # Start Removing
    sleep 2
    import -window root "$2/done.png"
    xdotool key Return; sleep 1
    kill $program' _ "$program" "$work"
echo "Results in $work/out, screenshot $work/done.png"
od -c "$work/out/a.txt"
od -c "$work/out/b.txt"
