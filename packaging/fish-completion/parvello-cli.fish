# fish completion for parvello-cli: its options, the values of --rule, --line-ends,
# --color, --report and --ext, folders after -o/--out and -r/--recursive, files after
# --files-from and as arguments.

# True while no word before the cursor is "--", after which every word is a file.
function __parvello_cli_options_allowed
    not contains -- -- (commandline -opc)
end

set -l opt -c parvello-cli -n __parvello_cli_options_allowed

# What to do
complete $opt -s i -l in-place -d 'Replace each file with its result'
complete $opt -s o -l out -x -a '(__fish_complete_directories (commandline -ct))' \
    -d 'Write results into the existing folder DIR'
complete $opt -s n -l check -d 'Write nothing; name files that would change'
complete $opt -s d -l diff -d 'Write nothing; print a unified diff of each file that would change'

# Which files
complete $opt -s r -l recursive -x -a '(__fish_complete_directories (commandline -ct))' \
    -d 'The files of DIR and its subfolders'
complete $opt -l ext -x -a 'txt md csv \*' -d 'The extension --recursive takes'
complete $opt -l files-from -r -F -d 'Names listed in FILE, one a line (-: standard input)'
complete $opt -s 0 -l null -d 'Names in --files-from end with NUL'

# The rule and its texts
complete $opt -l rule -x -a "
    remove-double\t'Delete every double quote'
    remove-single\t'Delete every single quote'
    double-to-single\t'Double quotes become single quotes'
    single-to-double\t'Single quotes become double quotes'
    double-to-text\t'Double quotes become the text of --double-text'
    single-to-text\t'Single quotes become the text of --single-text'" -d 'The quote rule'
complete $opt -l double-text -x -d 'Replacement for double-to-text'
complete $opt -l single-text -x -d 'Replacement for single-to-text'

# Output
complete $opt -l line-ends -x -a "crlf\t'CR LF (default)' keep\t'As they stand' lf\t'LF'" \
    -d 'How lines end'
# The value of --backup and --color is optional, so it is given only as --opt=VALUE.
complete $opt -l backup -f -d 'Keep the original under NAME+SUFFIX (default suffix ~)'
complete $opt -l color -f -a 'auto always never' -d 'Colour of --diff'
complete $opt -l report -x -a json -d 'One JSON line per file on standard output'
complete $opt -s j -l jobs -x -d 'Files processed at the same time'
complete $opt -s q -l quiet -d 'Only problems on standard error'
complete $opt -s v -l verbose -d 'One line per file with its outcome and quote count'
complete $opt -s h -l help -d 'Show the help'
complete $opt -s V -l version -d 'Show the version'
