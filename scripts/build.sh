#!/bin/sh
# Configures and builds one target (x86_64, the default, or i686) into build/<target>.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TARGET=${1:-x86_64}
# TIDEMARK_BUILD_DIR lets several builds of one tree run side by side.
BUILD="${TIDEMARK_BUILD_DIR:-$ROOT/build/$TARGET}"
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$TARGET-w64-mingw32.cmake" >/dev/null
fi
cmake --build "$BUILD" -- -j"$(nproc)" ${BUILD_TARGETS:-}
