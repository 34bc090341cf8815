#!/usr/bin/env bash
# Completes parvello-cli's words as bash does on <TAB>: sources the completion file and
# calls its function with COMP_WORDS and COMP_CWORD set, in a folder holding names with
# spaces; then runs shellcheck over the file (which must be installed).
# Usage: completion_bash.sh COMPLETION_FILE
completion=$(realpath "$1") || exit 1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir "sub dir" && touch "my notes.txt" sugar.txt || exit 1
# shellcheck source=/dev/null
source "$completion" || exit 1
failures=0

# check EXPECTED WORD...: the last WORD is completed; EXPECTED holds the candidates,
# sorted and joined by "|".
check() {
    local expected=$1 got
    shift
    COMP_WORDS=(parvello-cli "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _parvello_cli
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd '|')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: parvello-cli $* <TAB> gave [$got], expected [$expected]"
        failures=$((failures + 1))
    fi
}

check "sub dir" --out su               # folders only, one candidate with its space
check "sub dir" -o su
check "sub dir" --recursive = su       # "--recursive=su" as bash splits it
check "sub dir" -r su
check "my notes.txt" my                # a file argument
check "my notes.txt" --rule remove-double 'my\ n'
check "my notes.txt" -- --rule 'my no' # after "--" even an option's name is a file
check "remove-double|remove-single" --rule = re
check "--rule=remove-double|--rule=remove-single" --rule=re
check "remove-double|remove-single" --rule re
check "crlf|keep|lf" --line-ends =
check "crlf|keep|lf" --line-ends ''
check "always|auto" --color = a
check "my notes.txt" --color my        # --color takes its value only after "="
check "--report=json" --report=j
check "sub dir|sugar.txt" --files-from su
check "--recursive=|--report=" --re
check "--backup|--backup=" --ba
check "" --jobs ''

if ! command -v shellcheck >/dev/null; then
    echo "FAIL: shellcheck is not installed"
    failures=$((failures + 1))
elif ! shellcheck "$completion"; then
    failures=$((failures + 1))
fi
[[ $failures -eq 0 ]] && echo "All completions as expected; shellcheck clean."
exit $((failures > 0))
