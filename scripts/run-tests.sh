#!/bin/sh
# Runs the built tests of the given targets under Wine (called by ./test
# inside xvfb-run). Each target gets a fresh Wine prefix, removed afterwards.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export WINEDEBUG=-all
mkdir -p "$ROOT/artifacts"
status=0
summary=""
for t in "$@"; do
  prefix=$(mktemp -d /tmp/tidemark-wine-$t.XXXXXX)
  export WINEPREFIX="$prefix"
  echo "== preparing Wine prefix for $t"
  # No Mono or Gecko installer prompt: the tests need neither.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  # Every program of the prefix runs inside one Wine virtual desktop: it has
  # a notification area, and without a window manager on Xvfb Wine would
  # otherwise wait about 2 s for each window that is hidden.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
  # One wineserver for the whole run, and the virtual desktop started once
  # with its output away from ctest's pipes (a desktop started by a test
  # would hold the test's output open): each test program then starts in
  # about a second instead of three.
  export TIDEMARK_ARTIFACTS="$ROOT/artifacts"
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 </dev/null
  echo "== testing $t"
  if ctest --test-dir "$ROOT/build/$t" --output-on-failure -j2 > "$ROOT/artifacts/ctest-$t.log" 2>&1; then
    r=0
  else
    r=1; status=1
  fi
  cat "$ROOT/artifacts/ctest-$t.log"
  summary="$summary
$t: $(grep -E 'tests passed|tests failed' "$ROOT/artifacts/ctest-$t.log" | tail -n 1)"
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
