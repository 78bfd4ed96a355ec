#!/bin/sh
# Benchmarks of one mailbox check (not tests), against the Dovecot fixture.
#
# 1. Loopback, 10, 100 and 1,000 messages (bench_pop3.exe): the POP3
#    component's UpdateInfo beside a minimal blocking Winsock client sending
#    the same commands one at a time, in the same process.
#    Goals: wall time <= 0.8 x the minimal client's at 1,000 messages;
#    processor time <= 10% of wall time; peak memory flat in the message
#    count beyond the list itself.
# 2. Latency (bench_latency.exe): 200 and 1,000 messages over links with a
#    round trip of 0 (direct), 20 and 100 ms, made by bench/delay_proxy.py.
#    Columns: the component as shipped, the component one command at a time,
#    the serial and the pipelined reference clients (wall ms; "~" marks a
#    serial run too long to make, with the time its round trips alone take),
#    the component's ratio to the pipelined reference, its speed-up over the
#    serial reference, and its processor time per message.
#    Goals at 20 ms and 200 messages: ratio <= 1.3, speed-up >= 20.
# 3. TLS beside plain text (bench_pop3.exe --tls): 1,000 messages against a
#    Dovecot that offers both. Goal: TLS <= 1.5 x plain.
# Processor times come from GetProcessTimes, which Wine reports in 10 ms steps.
# Peak memory includes the .exe image as Wine maps it: depending on the build,
# its debug sections may land in private pages (about 2 MiB of a difference
# between two builds here, gone once both are stripped), with no change in
# what the program does.
# IMAP (bench_imap.exe): delivery to notice while a watcher idles (20
# deliveries; goal: median <= 1 s, worst <= 2 s), the cost of three mailboxes
# idling for IDLE_SECONDS (600 by default) beside a run of 30 s, the
# difference being idling's own cost (goal: this process and wineserver
# together under 0.1% of one core), and a mailbox of 10,000 messages, 50
# unread, by IMAP and by POP3.
# Then bench_new_mail.exe times a repeat check of an unchanged mailbox with
# unique ids against the first check (goal: at most 5%), and shows the
# commands each sent. Both share the server's log-in cost, which is most of
# a repeat check (Dovecot forks a mail process per log-in).
#   bench/run.sh [x86_64|i686]      (x86_64 and REPEATS=5 by default;
#                                     BENCH=imap runs the IMAP part alone)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TARGET=${1:-x86_64}
WINE="$ROOT/scripts/wine-$TARGET"
BUILD="${TIDEMARK_BUILD_DIR:-$ROOT/build/$TARGET}"
REPEATS=${REPEATS:-5}
"$ROOT/scripts/setup-debian.sh"
TIDEMARK_BUILD_DIR="$BUILD" BUILD_TARGETS="bench_pop3 bench_latency bench_new_mail bench_imap" "$ROOT/scripts/build.sh" "$TARGET" >/dev/null
EXE="$BUILD/bench/bench_pop3.exe"

export WINEDEBUG=-all
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=$(mktemp -d /tmp/tidemark-bench-wine.XXXXXX)
  export WINEPREFIX="$own_prefix"
fi
DIR=""
PROXY=""
cleanup() {
  if [ -n "$PROXY" ]; then kill "$PROXY" 2>/dev/null || true; fi
  if [ -n "$DIR" ]; then "$ROOT/scripts/dovecot-fixture.sh" stop "$DIR" 2>/dev/null || true; fi
  if [ -n "$own_prefix" ]; then wineserver -k 2>/dev/null || true; rm -rf "$own_prefix"; fi
}
trap cleanup EXIT INT TERM

# The component creates (hidden) windows: give Wine a display if there is none.
run_wine() {
  if [ -n "${DISPLAY:-}" ]; then "$WINE" "$@"; else xvfb-run -a "$WINE" "$@"; fi
}
run_wine wineboot -i >/dev/null 2>&1 || true

# A Dovecot of its own in $DIR whose user "bench" holds $2 messages; $1 is
# the fixture's start (plain text) or start-tls. Taken down by mailbox_down
# or, on any exit, by cleanup.
mailbox_up() {
  DIR=$(mktemp -u /tmp/tidemark-bench-dovecot.XXXXXX)
  "$ROOT/scripts/dovecot-fixture.sh" "$1" "$DIR" bench bench-pw
  "$ROOT/scripts/dovecot-fixture.sh" fill "$DIR" bench "$2"
}
mailbox_down() {
  "$ROOT/scripts/dovecot-fixture.sh" stop "$DIR"
  DIR=""
}

if [ "${BENCH:-all}" = all ]; then
echo "target $TARGET, median of $REPEATS runs each; times in ms, memory in KiB"
printf '%8s %10s %10s %7s %9s %7s %9s %7s %11s %11s %9s\n' messages component minimal ratio comp-cpu cpu% min-cpu min% peak-ws peak-pagef list
for n in 10 100 1000; do
  mailbox_up start "$n"
  run_wine "$EXE" "127.0.0.1:$(cat "$DIR/port")" bench bench-pw "$REPEATS"
  mailbox_down
done

echo
echo "latency: median of $REPEATS runs (serial runs over 2 s: one run); times in ms"
printf '%8s %6s %10s %10s %10s %10s %8s %8s %9s\n' messages rtt component comp-serial serial-ref pipe-ref ratio speedup cpu/msg
for n in 200 1000; do
  mailbox_up start "$n"
  for rtt in 0 20 100; do
    port=$(cat "$DIR/port")
    if [ "$rtt" -gt 0 ]; then
      rm -f "$DIR/proxy-port"
      python3 "$ROOT/bench/delay_proxy.py" "$port" "$((rtt / 2))" "$DIR/proxy-port" &
      PROXY=$!
      i=0
      while [ ! -s "$DIR/proxy-port" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
      port=$(cat "$DIR/proxy-port")
    fi
    run_wine "$BUILD/bench/bench_latency.exe" "127.0.0.1:$port" bench bench-pw "$rtt" "$REPEATS"
    if [ -n "$PROXY" ]; then kill "$PROXY" 2>/dev/null || true; wait "$PROXY" 2>/dev/null || true; PROXY=""; fi
  done
  mailbox_down
done

echo "TLS beside plain text, same mailbox, median of $REPEATS runs; times in ms"
printf '%8s %10s %10s %7s %9s\n' messages plain tls ratio tls-cpu
mailbox_up start-tls 1000
run_wine "$EXE" --tls "127.0.0.1:$(cat "$DIR/port")" "localhost:$(cat "$DIR/tls_port")" "Z:$DIR/tls/ca.pem" \
  bench bench-pw "$REPEATS"
mailbox_down

echo "new mail: first check of a fresh component vs its repeat check, median of $REPEATS rounds (one round"
echo "from 10,000 messages); ms, and the heap kept once a check is over: bytes a message, MiB in all (goal: 200)"
printf '%8s %10s %10s %8s %8s %8s %9s   %s\n' messages first repeat share B/msg-1 B/msg-2 MiB-kept "commands on the wire"
for n in 100 1000 10000 50000; do
  mailbox_up start "$n"
  run_wine "$BUILD/bench/bench_new_mail.exe" "127.0.0.1:$(cat "$DIR/port")" bench bench-pw "$([ "$n" -ge 10000 ] && echo 1 || echo "$REPEATS")"
  mailbox_down
done
fi

# A tray for the notices: Wine's own desktop window with its notification area.
"$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
echo
echo "IMAP delivery to notice: a message written into the Maildir while the watcher idles; ms"
printf '%10s %10s %10s %10s\n' deliveries median worst unread
mailbox_up start 10
run_wine "$BUILD/bench/bench_imap.exe" deliver "127.0.0.1:$(cat "$DIR/imap_port")" bench bench-pw \
  "$("$WINE" winepath -w "$DIR/home/bench/Maildir" 2>/dev/null)" 20
echo
IDLE_SECONDS=${IDLE_SECONDS:-600}
echo "IMAP cost of idling: three mailboxes idling for 30 s and for $IDLE_SECONDS s; processor ms of bench_imap"
echo "and of this prefix's wineserver (each run's count includes the program's start and end: the"
echo "difference between the two runs is what idling itself costs)"
printf '%10s %10s %10s %10s %10s %12s\n' mailboxes seconds cpu-ms cpu% listening wineserver-ms
# This prefix's wineserver: its working folder is named after the prefix's device and inode.
ws_ticks() {
  dir="server-$(printf '%x' "$(stat -c %d "$WINEPREFIX")")-$(printf '%x' "$(stat -c %i "$WINEPREFIX")")"
  for p in $(pgrep wineserver); do
    case "$(readlink "/proc/$p/cwd")" in */"$dir") awk '{ print $14 + $15 }' "/proc/$p/stat"; return ;; esac
  done
  echo 0
}
hz=$(getconf CLK_TCK)
# One server for both runs: started persistent before any program of the
# prefix (a server already running would keep its few seconds' linger).
wineserver -k 2>/dev/null || true
sleep 1
wineserver -p
idle_run() {
  ws0=$(ws_ticks)
  out=$(run_wine "$BUILD/bench/bench_imap.exe" idle "127.0.0.1:$(cat "$DIR/imap_port")" bench bench-pw "$1" 3)
  ws1=$(ws_ticks)
  echo "$out $(( (ws1 - ws0) * 1000 / hz ))"
}
short=$(idle_run 30)
long=$(idle_run "$IDLE_SECONDS")
printf '%s\n%s\n' "$short" "$long" | awk '{ printf "%10s %10s %10s %10s %10s %12s\n", $1, $2, $3, $4, $5, $6 }'
printf '%s %s\n' "$short" "$long" | awk '{ secs = $8 - $2; printf "idling itself: %d s, bench_imap %d ms, wineserver %d ms: %.4f%% of one core\n", secs, $9 - $3, $12 - $6, 100 * ($9 - $3 + $12 - $6) / (secs * 1000) }'
mailbox_down
echo
echo "IMAP beside POP3: 10,000 messages, 50 unread; first check (no mark) and repeat check; ms"
printf '%10s %8s %10s %10s %10s %10s\n' messages unread imap-first imap-repeat pop3-first pop3-repeat
mailbox_up start 10000
# All but the last 50 read: the Maildir flag S in the file name.
(cd "$DIR/home/bench/Maildir/new" && ls | sort | head -n 9950 | while read -r f; do mv "$f" "../cur/$f:2,S"; done)
run_wine "$BUILD/bench/bench_imap.exe" large "127.0.0.1:$(cat "$DIR/imap_port")" "127.0.0.1:$(cat "$DIR/port")" bench bench-pw
mailbox_down
