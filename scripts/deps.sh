#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages). Quiet when all is there.
set -euo pipefail
packages=(cmake g++ clang pkg-config make libgtest-dev libgmock-dev libbenchmark-dev
          libsimpleini-dev libicu-dev libcli11-dev qt6-base-dev
          fonts-dejavu-core fonts-liberation2 "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
