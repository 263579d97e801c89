#!/usr/bin/env bash
# Configures and builds into ${BUILD_DIR:-build} with any extra CMake arguments given; with
# TARGETS="a b" only those targets (and what they need) are built.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
read -r -a targets <<<"${TARGETS:-}"
cmake --build "$build" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}
