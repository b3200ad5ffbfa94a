#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian package as the distribution builds its own: with the
# hardening flags of dpkg-buildflags (fortify, stack protector, relro,
# bindnow), in a build folder of its own without tests or benchmarks; then
# checks it with lintian where lintian is installed (no error, no warning).
#   scripts/build-deb.sh [BUILD_DIR]     (default: build-deb)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-deb}
command -v dpkg-buildflags >/dev/null || { echo "build-deb: dpkg-buildflags not found (dpkg-dev)" >&2; exit 1; }
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# CMake reads CFLAGS, CXXFLAGS and LDFLAGS when a build folder is first
# configured; the preprocessor's flags (_FORTIFY_SOURCE) go with them.
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS" LDFLAGS
# shellcheck disable=SC2086
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF ${CMAKE_ARGS:-}
cmake --build "$build" -j "${JOBS:-$(nproc)}"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -1t "$build"/orvane_*.deb | head -n 1)
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb"
fi
echo "$deb"
