#!/usr/bin/env bash
# A program's manual page against its --help: the long options the help lists are exactly
# those the page documents as list entries; with "commands", also the commands (entries of
# the page's COMMANDS section), with "faults" the fault kinds (entries of FAULTS). Also
# --version prints "<program> <version>". No display is needed for any of it.
# Usage: check_options.sh PROGRAM PAGE VERSION [commands] [faults]
set -euo pipefail

prog=$1 page=$2 version=$3
shift 3
name=$(basename "$prog")
status=0

run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prog" "$@"; }

help=$(run --help)
said=$(run --version)
if [[ $said != "$name $version" ]]; then
    echo "$name --version printed \"$said\", not \"$name $version\""
    status=1
fi

# The page's list entries (the line after .TP or .TQ) as plain text, each after its section
# name and a tab.
entries() {
    awk '
        /^\.SH / { section = substr($0, 5); gsub(/"/, "", section); next }
        /^\.T[PQ]/ { tag = 1; next }
        tag && /^\.(PD|HP)/ { next }
        tag {
            tag = 0
            line = $0
            sub(/^\.[A-Z]+ /, "", line)
            gsub(/\\f[BIRP]/, "", line)
            gsub(/\\-/, "-", line)
            gsub(/\\[~&%]/, "", line)
            gsub(/"/, "", line)
            print section "\t" line
        }' "$page"
}

long_options() { grep -oE -- '--[a-z][a-z0-9-]*' | sort -u; }

# compare WHAT HELP_SET PAGE_SET
compare() {
    local what=$1 listed=$2 documented=$3
    if [[ -z $listed || -z $documented ]]; then
        echo "no $what found in $name --help or in $(basename "$page")"
        status=1
        return
    fi
    local missing extra
    missing=$(comm -23 <(echo "$listed") <(echo "$documented"))
    extra=$(comm -13 <(echo "$listed") <(echo "$documented"))
    for item in $missing; do
        echo "$(basename "$page") does not document the $what $item"
        status=1
    done
    for item in $extra; do
        echo "$(basename "$page") documents the $what $item, which $name --help does not list"
        status=1
    done
}

compare option "$(long_options <<<"$help")" "$(entries | cut -f2 | long_options)"

for extra in "$@"; do
    case $extra in
        commands)
            listed=$(awk '/^Commands:/ { on = 1; next } on && /^$/ { exit }
                          on && /^  [a-z]/ { print $1 }' <<<"$help" | sort -u)
            documented=$(entries | awk -F'\t' '$1 == "COMMANDS" { split($2, w, " "); print w[1] }' |
                         sort -u)
            compare command "$listed" "$documented"
            ;;
        faults)
            listed=$(grep -oE '^  [a-z][a-z-]*\[:WHERE\]' <<<"$help" | sed 's/^  //; s/\[.*//' |
                     sort -u)
            documented=$(entries | awk -F'\t' '$1 == "FAULTS" { sub(/[[ ].*/, "", $2); print $2 }' |
                         sort -u)
            compare "fault kind" "$listed" "$documented"
            ;;
        *)
            echo "unknown check $extra"
            exit 2
            ;;
    esac
done
exit $status
