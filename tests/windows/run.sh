#!/usr/bin/env bash
# The Windows stage of scripts/test. Cross-builds the protocol layer, the job engine, zbctl
# and the window for Windows and runs their tests, zbctl.exe and zbconfig.exe under Wine, in
# a private prefix, against virtual modems that the modem host (a Linux program from the ci
# build) links into the prefix as COM ports, and zbctl.exe's database reports against a
# PostgreSQL server of their own. Then checks the Windows zip and installer.
#   tests/windows/run.sh [JOBS]
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs=${1:-$(nproc)}
export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all

# Every program the stage's scripts call, checked before the long builds: a machine without one
# fails here, naming it, not 40 minutes later with a check that reads as a fault of zbctl's.
needed=(wine wineboot wineserver Xvfb xdotool python3 sqlite3 psql runuser timeout unzip zip
  msiinfo wixl /usr/lib/postgresql/15/bin/initdb /usr/lib/postgresql/15/bin/pg_ctl)
missing=()
for program in "${needed[@]}"; do
  command -v "$program" >/dev/null || missing+=("$program")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "windows stage: missing ${missing[*]}; scripts/setup installs them" >&2
  exit 1
fi

# Qt for Windows, for zbconfig.exe, and SQLite and libpq, for both programs' database
# reports: built once (the first run takes long), then found.
ZB_QT_JOBS=$jobs scripts/qt-windows >/dev/null
ZB_DB_JOBS=$jobs scripts/db-windows >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs" --target zbtest_modem_host zbsim zbctl

host=
host_out=$(mktemp)
cleanup() {
  if [ -n "$host" ]; then
    kill "$host" 2>/dev/null || true
    wait "$host" 2>/dev/null || true
  fi
  wineserver -k 2>/dev/null || true
  rm -f "$host_out"
}
trap cleanup EXIT

# Wine programs started at once on a prefix that does not exist yet race to create it and
# its server; create it first and keep one server up for the whole stage. Its service
# processes are started here, so that they hold no test's output open.
wineboot --init >/dev/null 2>&1
wineserver -w
wineserver -p >/dev/null 2>&1
wineboot >/dev/null 2>&1

build/ci/tests/support/zbtest_modem_host "$WINEPREFIX/dosdevices" >"$host_out" &
host=$!
for _ in $(seq 100); do
  grep -q '^port ' "$host_out" && break
  sleep 0.05
done
grep -q '^port ' "$host_out" || { echo "the modem host did not start" >&2; exit 1; }
ZBTEST_MODEM_HOST=127.0.0.1:$(awk '/^port /{print $2}' "$host_out") \
  ctest --preset windows -j "$jobs"
tests/windows/zbctl_wine.sh build/ci/sim/zbsim build/windows/cli/zbctl.exe
tests/windows/zbctl_wine_db.sh build/ci/sim/zbsim build/windows/cli/zbctl.exe build/ci/cli/zbctl
tests/windows/zbconfig_wine.sh build/ci/sim/zbsim build/windows/src/app/zbconfig.exe \
  build/ci/cli/zbctl
scripts/package --windows --check
