#!/usr/bin/env bash
# Configures and builds one build tree: build.sh DIR [cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}; shift || true
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache} CCACHE_NOHASHDIR=1 CCACHE_BASEDIR=$root
cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -- -j"$(nproc)" | grep -v '^\[' || true
test -x "$dir/korctl" && test -x "$dir/kor"
