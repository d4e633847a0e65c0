#!/usr/bin/env bash
# Cross-builds the three programs for Windows and runs the end-to-end tests against the .exe
# files under wine, with a Japanese locale so that the ANSI code page is 932. Needs the Linux
# build in build/ (the README's test command) and the packages g++-mingw-w64-x86-64-posix,
# wine64 and a ja_JP.UTF-8 locale.
set -euo pipefail
cd "$(dirname "$0")/.."

CXXFLAGS="${CXXFLAGS:-} -Werror" cmake -S . -B build-windows \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF
cmake --build build-windows -j2 --target d88extract-a d88extract-b d88info

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX=$PWD/build-windows/wineprefix WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
"$wine" wineboot --init >/dev/null 2>&1 || true # creates the prefix on the first start

export D88_TEST_LAUNCHER=$wine
export D88_EXTRACT_A=$PWD/build-windows/tool/d88extract-a.exe
export D88_EXTRACT_B=$PWD/build-windows/tool/d88extract-b.exe
export D88_INFO=$PWD/build-windows/tool/d88info.exe
ctest --test-dir build --output-on-failure -j2 -R 'BothPrograms/|^Info\.'
