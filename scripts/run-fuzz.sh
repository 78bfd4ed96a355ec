#!/bin/sh
# Builds the text-rule fuzzer natively with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build/fuzz and runs it for a bounded time.
# Exits non-zero when the fuzzer finds a crash, a leak or a broken rule.
#   FUZZ_SECONDS=25 scripts/run-fuzz.sh
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/build/fuzz"
SECONDS_TOTAL=${FUZZ_SECONDS:-25}
CXX=${FUZZ_CXX:-clang++}
mkdir -p "$OUT/corpus" "$OUT/crashes"

SOURCES="$ROOT/tests/fuzz/fuzz_text_rules.cpp $ROOT/framework/sysutils.cpp $ROOT/framework/classes.cpp \
$ROOT/mail/pop3_text.cpp $ROOT/mail/mailbox_info.cpp $ROOT/mail/header_text.cpp $ROOT/mail/new_mail.cpp \
$ROOT/mail/failure_kind.cpp $ROOT/mail/imap_response.cpp $ROOT/app/mail_notice_text.cpp $ROOT/app/retry_rules.cpp \
$ROOT/framework/json_text.cpp $ROOT/mail/xoauth2.cpp"
# The transport's text rules, when that layer has them.
if [ -f "$ROOT/net/socket_text.cpp" ]; then SOURCES="$SOURCES $ROOT/net/socket_text.cpp"; fi

BIN="$OUT/fuzz_text_rules"
stale=0
if [ ! -x "$BIN" ]; then stale=1; else
  for f in $SOURCES "$ROOT"/framework/*.h "$ROOT"/mail/*.h "$ROOT"/net/socket_text.h "$ROOT"/app/mail_notice_text.h "$ROOT"/app/retry_rules.h; do
    if [ -f "$f" ] && [ "$f" -nt "$BIN" ]; then stale=1; break; fi
  done
fi
if [ $stale = 1 ]; then
  echo "== building the fuzzer"
  # shellcheck disable=SC2086
  "$CXX" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$ROOT" $SOURCES -o "$BIN.tmp"
  mv "$BIN.tmp" "$BIN"
fi

cp -f "$ROOT"/tests/fuzz/corpus/* "$OUT/corpus/" 2>/dev/null || true
echo "== fuzzing the text rules for ${SECONDS_TOTAL} s"
cd "$OUT"
if "$BIN" -max_total_time="$SECONDS_TOTAL" -timeout=5 -rss_limit_mb=1024 -max_len=4096 \
     -artifact_prefix="$OUT/crashes/" -print_final_stats=0 "$OUT/corpus" > "$OUT/fuzz.log" 2>&1; then
  tail -n 2 "$OUT/fuzz.log"
  echo "== fuzz: no crash"
else
  status=$?
  tail -n 40 "$OUT/fuzz.log"
  echo "== fuzz: FAILED (exit $status); reproducer in $OUT/crashes/"
  exit 1
fi
