#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent and quiet when all is there.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config ccache binutils
  libcxxopts-dev libprotobuf-dev protobuf-compiler libeasyloggingpp-dev
  libunwind-dev libsodium-dev libgtest-dev
  python3 python3-pytest
  bash dash zsh fish mksh ksh93u+m yash busybox
  tmux procps util-linux openssh-client
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
