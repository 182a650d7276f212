#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: unit and black-box tests in a plain build,
# then again in an AddressSanitizer + UndefinedBehaviorSanitizer build (the daemon's tests
# included), then each fuzz target for a few seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build
scripts/build.sh build-asan -DKOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

py=/usr/bin/python3
status=0
echo "== unit tests"
build/unit_tests --gtest_brief=1 || status=1
echo "== black-box and end-to-end tests"
KORCTL_BUILD="$root/build" $py -m pytest -q -p no:cacheprovider tests/cli || status=1
echo "== MCP client tests (the official SDK's client and the Inspector's command-line mode)"
(cd tests/mcp && KORCTL_BUILD="$root/build" node --test --test-reporter=tap) || status=1
echo "== unit tests (sanitizers)"
ASAN_OPTIONS=detect_leaks=1 build-asan/unit_tests --gtest_brief=1 || status=1
echo "== black-box and daemon tests (sanitizers)"
KORCTL_BUILD="$root/build-asan" KORCTL_SANITIZED=1 $py -m pytest -q -p no:cacheprovider -m "not e2e or daemon" tests/cli || status=1
echo "== fuzz targets (briefly, with a fixed seed)"
KOR_FUZZ_SEED=${KOR_FUZZ_SEED:-1} scripts/fuzz.sh "${KOR_FUZZ_SECONDS:-5}" || status=1
exit $status
