#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), plus any packages named.
set -euo pipefail
exec "$(dirname "$0")/install-packages.sh" cmake g++ clang pkg-config make libgtest-dev libgmock-dev \
  libbenchmark-dev libsimpleini-dev libicu-dev libcli11-dev nlohmann-json3-dev qt6-base-dev \
  fonts-dejavu-core fonts-liberation2 \
  libboost-dev libssl-dev zlib1g-dev libsqlite3-dev libtomlplusplus-dev python3-websockets curl \
  libmosquitto-dev mosquitto openssl libspdlog-dev "$@"
