#!/usr/bin/env bash
# zbctl.exe under Wine against Linux virtual modems: Wine's COM3 and COM4 are links to two
# modems' pseudo-terminals. Reads them, gives each its own name, reads the names back,
# exports their configuration files, and loads a firmware image into both. Also: the help
# tells of the Windows build, and watch configures a third modem whose COM5 appears while it
# runs.
#   tests/windows/zbctl_wine.sh ZBSIM ZBCTL_EXE
# Needs WINEPREFIX (a private prefix; created on first use).
set -euo pipefail
zbsim=$1
zbctl=$2
: "${WINEPREFIX:?WINEPREFIX must name a private Wine prefix}"
export WINEDEBUG=-all

work=$(mktemp -d /tmp/zbctl-wine-XXXXXX)
"$zbsim" --count 3 --first-com 3 --ports-dir "$work/ports" >"$work/zbsim.out" &
sim=$!
serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
watch=
cleanup() {
  for pid in $watch $sim; do kill "$pid" 2>/dev/null || true; done
  for pid in $watch $sim; do wait "$pid" 2>/dev/null || true; done
  rm -f "$WINEPREFIX/dosdevices/com3" "$WINEPREFIX/dosdevices/com4" "$WINEPREFIX/dosdevices/com5"
  wine reg delete "$serialcomm" /v '\Device\zbsim5' /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 200); do
  grep -q '^ready' "$work/zbsim.out" && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/zbsim.out"; exit 1; }
  sleep 0.05
done

wineboot -i >/dev/null 2>&1 || true  # the prefix, on first use
mkdir -p "$WINEPREFIX/dosdevices"
# COM5 is watch's, later.
while read -r com path; do
  [[ $com == COM[34] ]] || continue
  ln -sfn "$path" "$WINEPREFIX/dosdevices/${com,,}"
done <"$work/zbsim.out"

run() {
  echo "\$ zbctl.exe $*"
  wine "$zbctl" --no-pauses "$@" 2>"$work/err" | tr -d '\r' | tee "$work/out"
}
fail() {
  echo "zbctl_wine: $*" >&2
  cat "$work/err" >&2
  exit 1
}

run read COM3 COM4 || fail "read failed"
grep -q '^COM3  ok .* SIM-3 ' "$work/out" || fail "COM3 was not read"
run apply --set 'devname=WIN-{com}' COM3 COM4 || fail "apply failed"
run read COM3 COM4 || fail "the read-back failed"
grep -q '^COM3  ok .* WIN-3 ' "$work/out" || fail "COM3 did not keep its name"
grep -q '^COM4  ok .* WIN-4 ' "$work/out" || fail "COM4 did not keep its name"

# A folder as Windows names it, given with and without its last separator: the files' paths
# are printed with backslashes only, and the files have CRLF line ends.
mkdir "$work/exp two"
folder="Z:${work//\//\\}\\exp two"
for given in "$folder" "$folder\\"; do
  run export "$given" COM3 COM4 || fail "export into $given failed"
  # The table shows a backslash as "\\".
  grep -qF "${folder//\\/\\\\}\\\\KRB7310_Config4.txt" "$work/out" || fail "the path is not $folder\\..."
  ! grep 'KRB7310_Config' "$work/out" | grep -q / || fail "the export's path holds a slash"
done
file="$work/exp two/KRB7310_Config3.txt"
[[ $(grep -c $'\r$' "$file") == $(wc -l <"$file") ]] || fail "$file has line ends other than CRLF"
run --help >/dev/null
! grep -q -- --ports-dir "$work/out" || fail "--help names --ports-dir, which Windows refuses"

# An image for the modems' firmware type 0101: the 32-byte header (type, body length 1024,
# the body's word sum 0, version "WIN 2.0") and a body of zeros.
{
  printf '0101\0\0\0\0\0\004\0\0\0\0\0\0\0\0\0\0WIN 2.0\0\0\0\0\0'
  head -c 1024 /dev/zero
} >"$work/win.rom"
run upgrade "$work/win.rom" COM3 COM4 || fail "upgrade failed"
grep -q '^COM3  ok .* WIN 2.0$' "$work/out" || fail "COM3 does not report the new firmware"
grep -q '^COM4  ok .* WIN 2.0$' "$work/out" || fail "COM4 does not report the new firmware"

# watch: COM5 appears as a plugged-in adapter's port does, its link first and then its entry
# in the serial device map; once its modem's line is out, Ctrl-C (SIGINT, which Wine hands
# to the console's control handlers as CTRL_C_EVENT) ends watch after the running jobs.
echo "\$ zbctl.exe watch --set devname=W-{com} --verify"
wine "$zbctl" --no-pauses watch --set 'devname=W-{com}' --verify >"$work/out" 2>"$work/err" &
watch=$!
wait_for() {
  for _ in $(seq 600); do
    grep -q "$1" "$2" && return 0
    kill -0 "$watch" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
wait_for 'watching for ports' "$work/err" || fail "watch did not start"
ln -sfn "$(awk '$1 == "COM5" {print $2}' "$work/zbsim.out")" "$WINEPREFIX/dosdevices/com5"
wine reg add "$serialcomm" /v '\Device\zbsim5' /t REG_SZ /d COM5 /f >/dev/null 2>&1 ||
  fail "the registry took no COM5"
wait_for '^COM5 ' "$work/out" || fail "watch gave COM5 no job"
kill -INT "$watch"
status=0
wait "$watch" || status=$?
watch=
tr -d '\r' <"$work/out"
[ "$status" = 0 ] || fail "watch ended with $status"
grep -q '^COM5 #1 PASS ' "$work/out" || fail "watch did not configure COM5's modem"
run read COM5 || fail "COM5's read-back failed"
grep -q '^COM5  ok .* W-5 ' "$work/out" || fail "watch did not name COM5's modem W-5"
echo "zbctl_wine: read, apply, read-back, export, help, upgrade and watch passed"
