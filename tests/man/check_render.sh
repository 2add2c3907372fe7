#!/usr/bin/env bash
# Every manual page renders without a warning, and no rendered line is wider than the
# 80 columns of a terminal.
# Usage: check_render.sh PAGE...
set -euo pipefail

command -v groff >/dev/null || { echo "groff is not installed"; exit 1; }
status=0
for page in "$@"; do
    warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1 >/dev/null)
    if [[ -n $warnings ]]; then
        echo "$(basename "$page"):"
        echo "$warnings"
        status=1
    fi
    wide=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null | awk 'length > 80 { print NR ": " $0 }')
    if [[ -n $wide ]]; then
        echo "$(basename "$page") renders lines wider than 80 columns:"
        echo "$wide"
        status=1
    fi
done
exit $status
