#!/usr/bin/env bash
# zbctl.exe's database reports under Wine, against two Linux virtual modems linked as COM3 and
# COM4: an SQLite file that the Linux sqlite3 reads, with the Linux zbctl's columns; and a
# PostgreSQL server of the script's own on 127.0.0.1, whose rows wait in the spool under
# %LOCALAPPDATA%\zbctl while it is stopped and arrive with the run after it is back.
#   tests/windows/zbctl_wine_db.sh ZBSIM ZBCTL_EXE ZBCTL
# Needs WINEPREFIX (a private prefix), sqlite3, psql and PostgreSQL 15's server programs.
set -euo pipefail
zbsim=$1
zbctl=$2
linux_zbctl=$3
: "${WINEPREFIX:?WINEPREFIX must name a private Wine prefix}"
export WINEDEBUG=-all
server_bin=/usr/lib/postgresql/15/bin

work=$(mktemp -d /tmp/zbctl-wine-db-XXXXXX)
pg=$work/pg
sim=
spool=
cleanup() {
  [ -f "$pg/data/postmaster.pid" ] && server stop -m immediate
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  rm -f "$WINEPREFIX/dosdevices/com3" "$WINEPREFIX/dosdevices/com4" ${spool:+"$spool"}
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "zbctl_wine_db: $*" >&2
  cat "$work/err" >&2
  exit 1
}
# The server refuses to run as root: as root, it runs as nobody.
as_server=()
if [ "$(id -u)" = 0 ]; then
  as_server=(runuser -u nobody --)
  chmod o+x "$work"
fi
server() {
  "${as_server[@]}" "$server_bin/pg_ctl" -D "$pg/data" -w -s "$@" >/dev/null
}

"$zbsim" --count 2 --first-com 3 --ports-dir "$work/ports" --log "$work/zbsim.log" \
  >"$work/zbsim.out" &
sim=$!
mkdir -p "$pg"
[ -z "${as_server[*]}" ] || chown nobody "$pg"
"${as_server[@]}" "$server_bin/initdb" -D "$pg/data" -U zb --auth=trust -E UTF8 --no-sync \
  >"$pg/out" 2>&1 || { cat "$pg/out" >&2; exit 1; }
# A free port, as the system picks one.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
start() {
  server -l "$pg/log" -o "-k $pg -c listen_addresses=127.0.0.1 -p $port" start ||
    { cat "$pg/log" >&2; exit 1; }
}
start
uri=postgresql://zb@127.0.0.1:$port/postgres
rows() { psql -X -A -t -h 127.0.0.1 -p "$port" -U zb -d postgres -c "$1"; }

for _ in $(seq 200); do
  grep -q '^ready' "$work/zbsim.out" && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/zbsim.out"; exit 1; }
  sleep 0.05
done
mkdir -p "$WINEPREFIX/dosdevices"
while read -r com path; do
  [[ $com == COM* ]] || continue
  ln -sfn "$path" "$WINEPREFIX/dosdevices/${com,,}"
done <"$work/zbsim.out"

run() {
  echo "\$ zbctl.exe $*"
  wine "$zbctl" --no-pauses "$@" 2>"$work/err" | tr -d '\r' | tee "$work/out"
}

# SQLite: the file is named as Windows names it; the table is the Linux zbctl's.
run --report "Z:${work//\//\\}\\line.db" read COM3 COM4 || fail "the SQLite report's read failed"
[ "$(sqlite3 "$work/line.db" 'SELECT count(*) FROM job_report')" = 2 ] ||
  fail "line.db has not 2 rows"
"$linux_zbctl" --ports-dir "$work/ports" --no-pauses --report "$work/linux.db" read COM3 \
  >/dev/null 2>"$work/err" || fail "the Linux zbctl's report failed"
[ "$(sqlite3 "$work/line.db" 'PRAGMA table_info(job_report)')" = \
  "$(sqlite3 "$work/linux.db" 'PRAGMA table_info(job_report)')" ] ||
  fail "line.db's columns are not the Linux zbctl's"

# PostgreSQL, over TCP.
run --report "$uri" read COM3 COM4 || fail "the PostgreSQL report's read failed"
# A 16 KiB image keeps the upgrade going for seconds: the server stops once the modems
# have been spoken to, so that the rows find it gone.
"$zbsim" --make-image "$work/fw.rom" --type 0101 --size 16384 --version 'DB 2.0' >/dev/null
: >"$work/zbsim.log"
run --report "$uri" upgrade "$work/fw.rom" COM3 COM4 | sed -n 1p &
upgrade=$!
for _ in $(seq 200); do
  [ -s "$work/zbsim.log" ] && break
  sleep 0.05
done
server stop -m immediate
wait "$upgrade" || fail "the upgrade failed"
# The spool's folder as Windows names it; the message shows each backslash as "\\".
folder=$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')'\zbctl'
grep -qF "zbctl: 2 report rows wait in ${folder//\\/\\\\}\\\\report-spool-" "$work/err" ||
  fail "the rows do not wait in $folder"
# C:\users\...\zbctl, through the prefix's link for its drive.
drive=${folder:0:1}
rest=${folder:2}
spool=$(grep -Eo 'report-spool-[0-9a-f]{16}\.db' "$work/err" | tail -1)
spool=$WINEPREFIX/dosdevices/${drive,,}:${rest//\\//}/$spool
[ "$(sqlite3 "$spool" 'SELECT count(*) FROM job_report')" = 2 ] || fail "$spool has not 2 rows"

start
run --report "$uri" read COM3 || fail "the read after the server's return failed"
[ "$(rows "SELECT command, count(*) FROM job_report WHERE result = 'ok'
            GROUP BY command ORDER BY command")" = $'read|3\nupgrade|2' ] ||
  fail "the server has not the 3 reads' and 2 upgrades' rows"
[ "$(sqlite3 "$spool" 'SELECT count(*) FROM job_report')" = 0 ] || fail "$spool still holds rows"
echo "zbctl_wine_db: SQLite report, PostgreSQL report, its spool and its return passed"
