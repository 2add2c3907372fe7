#!/usr/bin/env bash
# Runs the command examples of the documents as a reader would paste them, against virtual
# modems, and fails naming the file and line of every example that fails.
#
# Usage: run_examples.sh ZBCTL ZBSIM FILE...   (Markdown, manual page sources, HTML pages)
#
# What counts as an example:
# - Markdown: a fenced block whose language is sh, bash, shell or console and that holds a
#   zbctl or zbsim command. Every line of it runs (in a console block only the lines after
#   a "$ " prompt). Synopses and output go in blocks without a language and are not run.
# - Manual pages: a .EX ... .EE block that holds a zbctl or zbsim command; every line runs.
# - Help pages (HTML): a <pre> block that holds a zbctl or zbsim command; every line runs.
# - An example that cannot run as pasted (it needs real hardware, or the window) is marked
#   on a line of its own anywhere before it (after the example before it), with the reason:
#     Markdown, HTML:  <!-- example: not run (needs a modem on a real serial port) -->
#     manual page:     .\" example: not run (needs a display)
#
# How it runs: each example in a fresh temporary folder (its current folder), with HOME
# there too, so that ~/.config/zbconfig/ports is a port map of its own, and ZBCONFIG_LOCK_DIR
# beside it; ZBCONFIG_PORTS is unset. The programs under test come first on PATH. An example
# that starts no virtual modems of its own runs against a bank of 256 (zbsim --count 256
# --no-pacing) in that port map: COM1 to COM256. A zbsim that an example starts with --count
# is waited for until it prints "ready"; one started in the foreground is then stopped as a
# reader would stop it, with Ctrl-C. Every other command must exit with 0, and every zbsim
# must exit with 0 when stopped. So must a `zbctl watch`, stopped once it watches.
set -uo pipefail

if [ $# -lt 3 ]; then
    echo "usage: run_examples.sh ZBCTL ZBSIM FILE..." >&2
    exit 2
fi
zbctl=$(cd "$(dirname "$1")" && pwd)
zbsim=$(cd "$(dirname "$2")" && pwd)
shift 2
bank_size=256
example_timeout=300

# The examples of the files, one record a line, tab-separated:
#   B <file> <line> <reason not run, or empty>   an example starts
#   C <line> <command>                           one command, continuation lines joined
extract() {
    awk '
        function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
        # roff escapes that the examples use, as the reader sees them
        function unroff(s) {
            gsub(/\\-/, "-", s); gsub(/\\\(aq/, "\047", s); gsub(/\\\(dq/, "\"", s)
            gsub(/\\\(ti/, "~", s); gsub(/\\~/, " ", s); gsub(/\\&/, "", s)
            gsub(/\\f[BIRP]/, "", s); gsub(/\\e/, "\\", s)
            return s
        }
        function is_command(s,   words, n, i) {
            n = split(s, words, /[ \t]+/)
            for (i = 1; i <= n; i++) {
                if (words[i] == "") continue
                if (words[i] ~ /^[A-Za-z_][A-Za-z0-9_]*=/) continue
                return words[i] == "zbctl" || words[i] == "zbsim"
            }
            return 0
        }
        function add(text, line) {
            if (pending != "") {
                pending = pending " " trim(text)
            } else {
                pending = text; pending_line = line
            }
            if (pending ~ /\\$/) { sub(/\\$/, "", pending); return }
            if (trim(pending) != "") {
                commands[++ncommands] = pending_line "\t" pending
                if (is_command(pending)) runnable = 1
            }
            pending = ""
        }
        function begin(line) { start = line; ncommands = 0; runnable = 0; pending = "" }
        function finish(   i) {
            if (runnable) {
                print "B\t" FILENAME "\t" start "\t" skip
                for (i = 1; i <= ncommands; i++) print "C\t" commands[i]
                skip = ""
            }
            inblock = 0
        }
        function unhtml(s) {
            gsub(/<[^>]*>/, "", s)
            gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s)
            gsub(/&#39;/, "\047", s); gsub(/&amp;/, "\\&", s)
            return s
        }
        FNR == 1 {
            inblock = 0; skip = ""
            man = FILENAME ~ /\.[1-9]$/; html = FILENAME ~ /\.html?$/
        }
        # HTML: <pre> to </pre>, the tags on the lines of the text
        html && !inblock && /<pre[ >]/ { inblock = 1; begin(FNR); sub(/^.*<pre[^>]*>/, "") }
        html && inblock {
            last = sub(/<\/pre>.*$/, "")
            add(unhtml($0), FNR)
            if (last) finish()
            next
        }
        # Markdown and HTML
        !man && /^[ \t]*<!-- example: not run/ {
            skip = $0; sub(/^.*not run[ \t]*/, "", skip); sub(/[ \t]*-->.*$/, "", skip)
            if (skip == "") skip = "not run"
            next
        }
        !man && !html && /^[ \t]*(```|~~~)/ {
            if (inblock) { finish(); next }
            info = $0; sub(/^[ \t]*(```|~~~)[ \t]*/, "", info); split(info, words, /[ \t]+/)
            lang = words[1]
            inblock = 1; shell = lang ~ /^(sh|bash|shell|console)$/; console = lang == "console"
            begin(FNR)
            next
        }
        !man && !html && inblock && shell {
            text = $0
            if (console) {
                if (pending == "" && text !~ /^[ \t]*\$ /) next
                sub(/^[ \t]*\$ /, "", text)
            }
            add(text, FNR)
            next
        }
        # Manual pages
        man && /^\.\\" example: not run/ {
            skip = $0; sub(/^.*not run[ \t]*/, "", skip)
            if (skip == "") skip = "not run"
            next
        }
        man && /^\.EX/ { inblock = 1; begin(FNR); next }
        man && /^\.EE/ { finish(); next }
        man && inblock && !/^\./ { add(unroff($0), FNR); next }
    ' "$@"
}

quote() { printf '%q' "$1"; }

# Writes the script of one example: the helpers, then each command guarded by its line.
write_script() {  # file, script; reads the commands from the array "lines"
    local file=$1 script=$2 entry line command rest
    {
        cat <<'EOF'
__zb_servers=()
__zb_failed() {  # where, status, command
    printf '%s: exit status %s: %s\n' "$1" "$2" "$3" >>"$__zb_failures"
    exit 1
}
__zb_serve() {  # where, zbsim's arguments: starts it and waits for "ready"
    local where=$1 out
    shift
    out=$(mktemp "$__zb_tmp/zbsim.XXXXXX")
    zbsim "$@" >"$out" 2>&1 &
    local pid=$!
    __zb_servers+=("$pid:$where")
    until grep -qx ready "$out"; do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            printf '%s: zbsim exited with status %s before it was ready: %s\n' \
                "$where" "$?" "$(tail -n 3 "$out" | tr '\n' ' ')" >>"$__zb_failures"
            exit 1
        fi
        sleep 0.1
    done
}
__zb_stop() {  # stops every zbsim started here, each must exit with 0
    local entry pid status
    for entry in "${__zb_servers[@]}"; do
        pid=${entry%%:*}
        kill -INT "$pid" 2>/dev/null
        wait "$pid"
        status=$?
        [ "$status" -eq 0 ] ||
            printf '%s: zbsim exited with status %s when stopped\n' "${entry#*:}" "$status" \
                >>"$__zb_failures"
    done
    __zb_servers=()
}
__zb_watch() {  # where, command: a station runs until Ctrl-C; it must start, then stop with 0
    local where=$1 command=$2 out
    out=$(mktemp "$__zb_tmp/watch.XXXXXX")
    eval "exec $command" >"$out" 2>&1 &
    local pid=$!
    until grep -q 'watching for ports' "$out"; do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    # A job started with & in a script ignores SIGINT; zbctl stops on SIGTERM the same way.
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" || __zb_failed "$where" $? "$command"
}
trap __zb_stop EXIT
EOF
        for entry in "${lines[@]}"; do
            line=${entry%%$'\t'*}
            command=${entry#*$'\t'}
            local where="$file:$line"
            if [[ $command =~ ^[[:space:]]*zbsim[[:space:]](.*--count.*)$ ]]; then
                rest=${BASH_REMATCH[1]}
                if [[ $rest =~ ^(.*[^[:space:]])[[:space:]]*\&[[:space:]]*$ ]]; then
                    echo "__zb_serve $(quote "$where") ${BASH_REMATCH[1]}"
                else
                    # In the foreground it runs until Ctrl-C: it must start, and then stop.
                    echo "__zb_serve $(quote "$where") $rest"
                    echo "__zb_stop"
                fi
            elif [[ $command =~ ^[[:space:]]*zbctl[[:space:]](.*[[:space:]])?watch([[:space:]]|$) ]]; then
                echo "__zb_watch $(quote "$where") $(quote "$command")"
            else
                printf '{ %s\n} || __zb_failed %s $? %s\n' "$command" "$(quote "$where")" \
                    "$(quote "$command")"
            fi
        done
    } >"$script"
}

# Runs one example; prints what failed and returns 1 on failure.
run_example() {  # file, line
    local file=$1 start=$2 tmp status=0 bank_pid=""
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/zb-example.XXXXXX")
    mkdir -p "$tmp/home/.config/zbconfig/ports" "$tmp/work" "$tmp/lock"
    local serves=0 entry
    for entry in "${lines[@]}"; do
        [[ ${entry#*$'\t'} =~ ^[[:space:]]*zbsim[[:space:]].*--count ]] && serves=1
    done
    write_script "$file" "$tmp/example.sh"
    (
        export HOME=$tmp/home ZBCONFIG_LOCK_DIR=$tmp/lock PATH="$zbctl:$zbsim:$PATH"
        unset ZBCONFIG_PORTS
        cd "$tmp/work" || exit 1
        if [ "$serves" -eq 0 ]; then
            zbsim --count "$bank_size" --no-pacing --ports-dir "$HOME/.config/zbconfig/ports" \
                >"$tmp/bank.out" 2>&1 &
            bank_pid=$!
            until grep -qx ready "$tmp/bank.out"; do
                kill -0 "$bank_pid" 2>/dev/null ||
                    { echo "$file:$start: the bank of virtual modems did not start:" \
                        "$(tail -n 3 "$tmp/bank.out")" >>"$tmp/failures"; exit 1; }
                sleep 0.1
            done
        fi
        __zb_tmp=$tmp __zb_failures=$tmp/failures \
            timeout "$example_timeout" bash "$tmp/example.sh" >"$tmp/output" 2>&1
        status=$?
        if [ "$status" -eq 124 ]; then
            echo "$file:$start: the example did not end within $example_timeout s" \
                >>"$tmp/failures"
        elif [ "$status" -ne 0 ] && [ ! -s "$tmp/failures" ]; then
            echo "$file:$start: the example ended with status $status" >>"$tmp/failures"
        fi
        if [ -n "$bank_pid" ]; then
            kill -INT "$bank_pid" 2>/dev/null
            wait "$bank_pid"
        fi
    )
    if [ -s "$tmp/failures" ]; then
        cat "$tmp/failures"
        echo "  its output, last lines:"
        tail -n 15 "$tmp/output" | sed 's/^/  | /'
        status=1
    fi
    rm -rf "$tmp"
    return "$status"
}

records=$(extract "$@") || exit 2
ran=0 skipped=0 failed=0
lines=()
file="" start="" reason=""
flush() {
    [ -n "$file" ] || return 0
    if [ -n "$reason" ]; then
        echo "$file:$start: not run $reason"
        skipped=$((skipped + 1))
    elif run_example "$file" "$start"; then
        echo "$file:$start: ok"
        ran=$((ran + 1))
    else
        failed=$((failed + 1))
    fi
    lines=()
}
while IFS= read -r record; do
    case "$record" in
        B$'\t'*)
            flush
            IFS=$'\t' read -r _ file start reason <<<"$record"
            ;;
        C$'\t'*) lines+=("${record#C$'\t'}") ;;
    esac
done <<<"$records"
flush

echo "examples: $ran ran, $skipped marked not run, $failed failed"
[ "$failed" -eq 0 ] && [ "$ran" -gt 0 ]
