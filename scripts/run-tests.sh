#!/bin/sh
# Runs the built tests of the given targets under Wine (called by ./test
# inside xvfb-run). Each target runs under its own loader
# (scripts/wine-<target>) in a fresh Wine prefix, removed afterwards.
# The i686 tests run only where this machine can start a 32-bit program
# (and not with TIDEMARK_ONLY_64BIT=1); otherwise the summary says why.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export WINEDEBUG=-all
mkdir -p "$ROOT/artifacts"
status=0
summary=""

# Whether 32-bit programs run here is found out by starting one: Wine's own
# 32-bit loader is one. Kernels without IA32 emulation refuse it with
# "Exec format error".
why_no_32bit() {
  if [ "${TIDEMARK_ONLY_64BIT:-}" = 1 ]; then
    echo "TIDEMARK_ONLY_64BIT=1"
  elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "this machine runs no 32-bit programs"
  fi
}

for t in "$@"; do
  if [ "$t" = i686 ]; then
    why=$(why_no_32bit)
    if [ -n "$why" ]; then
      echo "== not testing i686: $why"
      summary="$summary
i686: built; tests not run: $why"
      continue
    fi
  fi
  WINE="$ROOT/scripts/wine-$t"
  prefix=$(mktemp -d /tmp/tidemark-wine-$t.XXXXXX)
  export WINEPREFIX="$prefix"
  echo "== preparing Wine prefix for $t"
  # No Mono or Gecko installer prompt: the tests need neither. A 64-bit-only
  # prefix complains once about syswow64's rundll32: harmless.
  WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i >/dev/null 2>&1
  # Every program of the prefix runs inside one Wine virtual desktop: it has
  # a notification area, and without a window manager on Xvfb Wine would
  # otherwise wait about 2 s for each window that is hidden.
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
  # One wineserver for the whole run, and the virtual desktop started once
  # with its output away from ctest's pipes (a desktop started by a test
  # would hold the test's output open): each test program then starts in
  # about a second instead of three.
  export TIDEMARK_ARTIFACTS="$ROOT/artifacts"
  wineserver -p
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
  echo "== testing $t"
  started=$(date +%s)
  if ctest --test-dir "$ROOT/build/$t" --output-on-failure -j2 > "$ROOT/artifacts/ctest-$t.log" 2>&1; then
    r=0
  else
    r=1; status=1
  fi
  cat "$ROOT/artifacts/ctest-$t.log"
  summary="$summary
$t: $(grep -E 'tests passed|tests failed' "$ROOT/artifacts/ctest-$t.log" | tail -n 1) ($(( $(date +%s) - started )) s)"
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
done
if [ -x "$ROOT/scripts/run-fuzz.sh" ]; then
  if "$ROOT/scripts/run-fuzz.sh"; then summary="$summary
fuzz: passed"; else status=1; summary="$summary
fuzz: FAILED"; fi
fi
echo
echo "== summary$summary"
exit $status
