#!/usr/bin/env bash
# The benchmarks: installs what is missing, builds Release into build-bench (without the tests
# and the Qt windows, which the benchmarks do not need), then runs dorv-bench and
# dorv-microbench, then dorv-forecourt-bench (the forecourt service on 39 lines). Not part of
# the test suite.
#
# Arguments go to dorv-bench, e.g. scripts/bench.sh --repeat 5 --seconds 10.
# MICROBENCH_ARGS replaces the microbenchmarks' arguments (default: 5 repetitions, medians).
# BENCH_JOBS sets the build's parallel jobs (default 2).
#
# Timings are only as quiet as the machine: the load average is printed before and after; take
# figures when it is low.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDORV_BUILD_TOOLS=ON -DDORV_BUILD_BENCH=ON \
  -DDORV_BUILD_TESTS=OFF -DDORV_BUILD_QT=OFF >/dev/null
cmake --build "$build" -j "${BENCH_JOBS:-2}" --target dorv-bench dorv-microbench dorv-forecourt-bench

model=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "machine: $(nproc) cores, ${model:-unknown CPU}, kernel $(uname -r)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/dorv-bench" "$@"
echo "load average after dorv-bench: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r -a micro <<<"${MICROBENCH_ARGS:---benchmark_repetitions=5 --benchmark_report_aggregates_only=true}"
"$build/bench/dorv-microbench" "${micro[@]}"
echo "load average after dorv-microbench: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/dorv-forecourt-bench"
echo "load average after dorv-forecourt-bench: $(cut -d' ' -f1-3 /proc/loadavg)"
