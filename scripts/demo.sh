#!/usr/bin/env bash
# The main job: open a local session, run a command in it, show its output and exit status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build
name=demo-$$
build/korctl open "$name" localhost
trap 'build/korctl kill "$name" --wait >/dev/null 2>&1 || true' EXIT
set +e
build/korctl run "$name" 'echo "hello from $KORCTL_SESSION"; uname -s; (exit 3)'
status=$?
set -e
echo "exit status: $status"
