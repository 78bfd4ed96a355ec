#!/bin/sh
# Benchmark of one mailbox check (not a test): starts the Dovecot fixture with
# 10, 100 and 1,000 messages and runs bench_pop3.exe under Wine against each.
# The table compares the POP3 component's UpdateInfo with a minimal blocking
# Winsock client sending the same commands, in the same process.
# Goals: wall time <= 1.3 x the minimal client's; processor time <= 10% of
# wall time; peak memory flat in the message count beyond the list itself.
# Processor times come from GetProcessTimes, which Wine reports in 10 ms steps.
# Peak memory includes the .exe image as Wine maps it: depending on the build,
# its debug sections may land in private pages (about 2 MiB of a difference
# between two builds here, gone once both are stripped), with no change in
# what the program does.
# Then bench_new_mail.exe times a repeat check of an unchanged mailbox with
# unique ids against the first check (goal: at most 5%), and shows the
# commands each sent. Both share the server's log-in cost, which is most of
# a repeat check (Dovecot forks a mail process per log-in).
#   bench/run.sh [i686|x86_64]      (REPEATS=5 by default)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TARGET=${1:-i686}
BUILD="${TIDEMARK_BUILD_DIR:-$ROOT/build/$TARGET}"
REPEATS=${REPEATS:-5}
"$ROOT/scripts/setup-debian.sh"
TIDEMARK_BUILD_DIR="$BUILD" BUILD_TARGETS="bench_pop3 bench_new_mail" "$ROOT/scripts/build.sh" "$TARGET" >/dev/null
EXE="$BUILD/bench/bench_pop3.exe"

export WINEDEBUG=-all
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=$(mktemp -d /tmp/tidemark-bench-wine.XXXXXX)
  export WINEPREFIX="$own_prefix"
fi
DIR=""
cleanup() {
  if [ -n "$DIR" ]; then "$ROOT/scripts/dovecot-fixture.sh" stop "$DIR" 2>/dev/null || true; fi
  if [ -n "$own_prefix" ]; then wineserver -k 2>/dev/null || true; rm -rf "$own_prefix"; fi
}
trap cleanup EXIT INT TERM

# The component creates (hidden) windows: give Wine a display if there is none.
run_wine() {
  if [ -n "${DISPLAY:-}" ]; then wine "$@"; else xvfb-run -a wine "$@"; fi
}
run_wine wineboot -i >/dev/null 2>&1 || true

echo "target $TARGET, median of $REPEATS runs each; times in ms, memory in KiB"
printf '%8s %10s %10s %7s %9s %7s %9s %7s %11s %11s %9s\n' messages component minimal ratio comp-cpu cpu% min-cpu min% peak-ws peak-pagef list
for n in 10 100 1000; do
  DIR=$(mktemp -u /tmp/tidemark-bench-dovecot.XXXXXX)
  "$ROOT/scripts/dovecot-fixture.sh" start "$DIR" bench bench-pw
  "$ROOT/scripts/dovecot-fixture.sh" fill "$DIR" bench "$n"
  run_wine "$EXE" "127.0.0.1:$(cat "$DIR/port")" bench bench-pw "$REPEATS"
  "$ROOT/scripts/dovecot-fixture.sh" stop "$DIR"
  DIR=""
done

echo
echo "new mail: first check of a fresh component vs its repeat check, median of $REPEATS rounds; ms"
printf '%8s %10s %10s %8s   %s\n' messages first repeat share "commands on the wire"
for n in 100 1000; do
  DIR=$(mktemp -u /tmp/tidemark-bench-dovecot.XXXXXX)
  "$ROOT/scripts/dovecot-fixture.sh" start "$DIR" bench bench-pw
  "$ROOT/scripts/dovecot-fixture.sh" fill "$DIR" bench "$n"
  run_wine "$BUILD/bench/bench_new_mail.exe" "127.0.0.1:$(cat "$DIR/port")" bench bench-pw "$REPEATS"
  "$ROOT/scripts/dovecot-fixture.sh" stop "$DIR"
  DIR=""
done
