#!/usr/bin/env bash
# zbconfig.exe end to end under Wine on Xvfb, driven by the keyboard through XTEST (Qt ignores
# synthetic events): two Linux virtual modems on COM3 and COM4, listed in the registry's
# serial device map as Windows lists its ports; Ins and the Add Connection Port dialog add
# both, the simulator's log shows each one's connection check and its twenty reads; Ctrl+F
# and the configuration dialog rename COM3, and the Linux zbctl reads the new name back.
#   tests/windows/zbconfig_wine.sh ZBSIM ZBCONFIG_EXE ZBCTL [SCREENSHOT.png]
# Needs WINEPREFIX (a private prefix); with SCREENSHOT it also saves a picture of the window
# with both modems read.
set -euo pipefail
zbsim=$1
zbconfig=$2
zbctl=$3
screenshot=${4:-}
: "${WINEPREFIX:?WINEPREFIX must name a private Wine prefix}"
export WINEDEBUG=-all
here=$(cd "$(dirname "$0")" && pwd)
title='ZigBee Modem Configurator'

work=$(mktemp -d /tmp/zbconfig-wine-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -f "$WINEPREFIX/dosdevices/com3" "$WINEPREFIX/dosdevices/com4"
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial3' /f >/dev/null 2>&1 || true
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial4' /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "zbconfig_wine: $*" >&2
  [ -s "$work/zbconfig.err" ] && tail -20 "$work/zbconfig.err" >&2
  exit 1
}
# Polls `$@` every 0.1 s for at most $1 seconds.
wait_for() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# A Wine server already running may have started its desktop process without a display
# (a console program that loads shell32 does), and then no window opens: a server of our own.
wineserver -k 2>/dev/null || true
wineserver -w
# The display first, so that any Wine program started from here on, the services that the
# first one may start included, draws on it.
# -displayfd picks a free display and writes its number once the server accepts clients;
# -fbdir keeps the screen in a file, for the screenshot.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -fbdir "$work" 3>"$work/display" \
  2>/dev/null &
pids+=($!)
wait_for 10 grep -qs . "$work/display" || fail "Xvfb did not start"
display=$(cat "$work/display")
export DISPLAY=:$display
root=$(xwininfo -root | awk '/Window id:/{print $4}')

"$zbsim" --count 2 --first-com 3 --ports-dir "$work/ports" --log "$work/zbsim.log" \
  >"$work/zbsim.out" &
pids+=($!)
wait_for 10 grep -qs '^ready' "$work/zbsim.out" || fail "zbsim did not start"
mkdir -p "$WINEPREFIX/dosdevices"
while read -r com path; do
  [[ $com == COM* ]] || continue
  ln -sfn "$path" "$WINEPREFIX/dosdevices/${com,,}"
done <"$work/zbsim.out"
# Wine lists only the ports it made itself; the values go in once its server runs.
for n in 3 4; do
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Serial$n" /t REG_SZ \
    /d "COM$n" /f >/dev/null 2>&1 || fail "the registry took no COM$n"
done

# Wine's own fonts are a package of their own; without them it draws its dialog font,
# Tahoma, with the first font it finds (a serif one). DejaVu Sans comes with Qt's packages.
for face in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2'; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ \
    /d 'DejaVu Sans' /f >/dev/null 2>&1 || fail "the registry took no font replacement"
done

# Runs from its own folder, as from the zip: the Qt DLLs and plug-ins lie beside it.
(cd "$(dirname "$zbconfig")" && exec wine "$(basename "$zbconfig")") \
  >"$work/zbconfig.out" 2>"$work/zbconfig.err" &
app=$!
pids+=("$app")

# The first visible window whose name matches, waited for at most 60 s.
window() {
  timeout 60 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1 || true
}
# Without a window manager nobody hands the focus back to a window when a dialog closes, and
# a window with the X focus already gets no focus event; so the focus visits the root first.
keys() {
  local win=$1
  shift
  xdotool windowfocus "$root" 2>/dev/null || true
  xdotool windowfocus --sync "$win" 2>/dev/null && xdotool key --delay 50 "$@"
}
# Wine does not always make the main window active again when it gets the X focus back after
# a job window. A click on its status bar does; moving the X focus after it would undo that.
main_keys() {
  local HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$main" | grep '^HEIGHT=')"
  xdotool mousemove --window "$main" 40 $((HEIGHT - 5)) click 1 && sleep 0.2 &&
    xdotool key --delay 50 "$@"
}
# The read requests in the simulator's log for COM n ("COM3 ?GSB00001").
reads() {
  grep -cE "^COM$1 .{2}(SB|SD|SS|SP|SI|DS|BN|ZC|ZE|ZP|ZO|ZT|ZM|ZA|ZU|ZN|ZF|ZS|@V)" \
    "$work/zbsim.log" 2>/dev/null || true
}
alone() { [ "$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | wc -l)" -eq 1 ]; }
both_read() { [ "$(reads 3)" -ge 20 ] && [ "$(reads 4)" -ge 20 ]; }

main=$(window "^$title\$")
if [ -z "$main" ]; then
  kill -0 "$app" 2>/dev/null || fail "zbconfig.exe ended before its window opened on $DISPLAY"
  fail "the main window did not open on $DISPLAY"
fi
keys "$main" Insert || fail "Ins did not reach the window"
dialog=$(window '^Add Connection Port')
[ -n "$dialog" ] || fail "Ins opened no Add Connection Port dialog"
# COM3 and COM4 are the last two ports offered (after any COM1 and COM2 of Wine's own).
keys "$dialog" End shift+Up Return || fail "the dialog took no keys"
wait_for 60 both_read || fail "the modems were not read: COM3 $(reads 3), COM4 $(reads 4) reads"
for n in 3 4; do
  # The connection check ("?VXT00000") comes first, then the twenty reads.
  first=$(grep -m1 "^COM$n " "$work/zbsim.log" | cut -d' ' -f2)
  [ "${first:2:2}" = XT ] || fail "COM$n got no connection check first (but $first)"
  [ "$(reads "$n")" -eq 20 ] || fail "COM$n got $(reads "$n") reads, not 20"
  echo "COM$n: the connection check and $(reads "$n") reads"
done

if [ -n "$screenshot" ]; then
  # The job window, of the same title, closes by itself once both modems are read.
  wait_for 30 alone || fail "the job window did not close"
  xdotool mousemove 0 0
  eval "$(xdotool getwindowgeometry --shell "$main")"
  python3 "$here/xwd_to_png.py" "$work/Xvfb_screen0" "$screenshot" "$X" "$Y" "$WIDTH" "$HEIGHT" ||
    fail "no screenshot"
fi

# Ctrl+Home, Down and Up select the first row (COM3); Ctrl+F reads it and opens the dialog
# with the name box focused. The keys reach the main window once the add's job window has
# closed; until then they are sent again.
config=
end=$((SECONDS + 60))
while [ -z "$config" ] && [ "$SECONDS" -lt "$end" ]; do
  main_keys ctrl+Home Down Up ctrl+f || true
  config=$(timeout 5 xdotool search --sync --onlyvisible --name '^Configurations$' 2>/dev/null |
    head -1 || true)
done
[ -n "$config" ] || fail "Ctrl+F opened no configuration dialog"
keys "$config" ctrl+a L i n e space 9 Return || fail "the dialog took no keys"
summary=$(window '^Information$')
[ -n "$summary" ] || fail "the configuration showed no summary"
keys "$summary" Return || fail "the summary took no key"

# Alt+F4 reaches the main window once the job window has closed; until then it is sent again.
end=$((SECONDS + 60))
while kill -0 "$app" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do
  main_keys alt+F4 || true
  wait_for 2 sh -c "! kill -0 $app 2>/dev/null" || true
done
kill -0 "$app" 2>/dev/null && fail "Alt+F4 did not close the window"
wait "$app" || fail "zbconfig.exe ended with status $?"

# What the modems hold now, asked of them directly.
"$zbctl" --no-pauses --ports-dir "$work/ports" read 3 4 >"$work/read.out" 2>&1 ||
  { cat "$work/read.out" >&2; fail "zbctl could not read the modems"; }
grep -q '^COM3  ok .* Line 9 ' "$work/read.out" || { cat "$work/read.out" >&2; fail "COM3 was not renamed"; }
grep -q '^COM4  ok .* SIM-4 ' "$work/read.out" || { cat "$work/read.out" >&2; fail "COM4 changed"; }
echo "zbconfig_wine: add, read and rename passed"
