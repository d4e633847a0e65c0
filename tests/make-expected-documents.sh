#!/bin/sh
# Writes the expected JSON documents of tests/data/damaged/ anew with the programs of a build
# folder (default: build), for review in the diff: the documents that DocumentTest compares, one
# file per image and command for both layouts (what they do not share under "per_layout").
#   tests/make-expected-documents.sh [BUILD]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cmake --build "$build" --target info_tests
rm -f "$root"/tests/data/damaged/*.json
D88_WRITE_EXPECTED_DOCUMENTS=1 "$build/tests/info_tests" \
    --gtest_filter='Documents.*' --gtest_brief=1
git -C "$root" status --short -- tests/data/damaged
