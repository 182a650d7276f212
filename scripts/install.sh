#!/usr/bin/env bash
# Sets up, builds and installs korctl and kor with their manual pages and bash, zsh and fish
# completions: install.sh [PREFIX] (default /usr/local). KORCTL_BUILD names the build tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-/usr/local}
build=${KORCTL_BUILD:-$root/build}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$build"
sudo=""
mkdir -p "$prefix" 2>/dev/null || true
[ -w "$prefix" ] || sudo="sudo"  # the build stays the user's; only the copy needs root
$sudo cmake --install "$build" --prefix "$prefix" >/dev/null
echo "installed korctl and kor in $prefix/bin (man korctl, man kor)"
