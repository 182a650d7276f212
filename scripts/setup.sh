#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent and quiet when all is there.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config ccache binutils
  libcxxopts-dev libprotobuf-dev protobuf-compiler libeasyloggingpp-dev
  libunwind-dev libsodium-dev libgtest-dev libvterm-dev nlohmann-json3-dev
  clang libfuzzer-14-dev
  python3 python3-pytest
  bash dash zsh fish mksh ksh93u+m yash busybox
  tmux procps util-linux openssh-client vim less time
  scdoc man-db bash-completion dpkg-dev file openssh-server
)
missing=()
# Node.js and npm run the MCP client tests (tests/mcp); a machine that has them from elsewhere
# keeps its own.
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}" >&2
  $sudo apt-get update -qq
  # openssh-server is only the sshd program that the tests start themselves on a loopback
  # port: a new install gets Debian's switch that keeps the system's ssh service from ever
  # running, and no service starts while packages are installed.
  case " ${missing[*]} " in
    *" openssh-server "*) $sudo mkdir -p /etc/ssh && $sudo touch /etc/ssh/sshd_not_to_be_run ;;
  esac
  no_services=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    no_services=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$no_services" >/dev/null
    $sudo chmod 755 "$no_services"
  fi
  status=0
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    status=$?
  [ -z "$no_services" ] || $sudo rm -f "$no_services"
  [ $status -eq 0 ] || exit $status
fi

# The MCP client tests' npm packages, exactly as package-lock.json pins them; installed again
# only when the lock file changes.
mcp_tests=$(cd "$(dirname "$0")/../tests/mcp" && pwd)
if ! cmp -s "$mcp_tests/package-lock.json" "$mcp_tests/node_modules/.installed-lock.json"; then
  echo "setup: installing the MCP client tests' npm packages" >&2
  (cd "$mcp_tests" && npm ci --no-audit --no-fund --loglevel=error >/dev/null &&
    cp package-lock.json node_modules/.installed-lock.json)
fi
