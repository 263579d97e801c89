#!/usr/bin/env bash
# Configures and builds into ${BUILD_DIR:-build} with any extra CMake arguments given; with
# TARGETS="a b" only those targets (and what they need) are built.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
# DEBUG_INFO=-g1 keeps line tables only (backtraces, no variables): about half the compile time
# of the Boost.Beast units, as CI builds.
debug=()
[ -n "${DEBUG_INFO:-}" ] && debug=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 $DEBUG_INFO -DNDEBUG")
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" ${debug[@]+"${debug[@]}"} "$@" >/dev/null
read -r -a targets <<<"${TARGETS:-}"
cmake --build "$build" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}
