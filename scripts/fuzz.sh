#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) and runs each
# for SECONDS seconds, one after the other:
#   scripts/fuzz.sh [SECONDS] [TARGET...]      (default 60 seconds, every target)
#   scripts/fuzz.sh 0 [TARGET...]              (only the seeds, once: a quick regression run)
# Each target first runs every seed of fuzz/corpus/<target>/ once, then fuzzes from a copy of
# them in build-fuzz/run/<target>/, so the seed corpus in the tree stays as it is; crashes,
# leaks and slow inputs land there too. Prints each target's executions per second and fails
# on any crash, leak, timeout, sanitizer report or failed check. Among the checks: a parameter
# reading ('N' through GetParam, ReadParameter and the decimals read of a price) never comes
# from a reply without digits, and such a read leaves the price and money scales as they were
# (fuzz_replies; its seeds answer parameter reads with 0x06, 0x15 and data frames without
# digits).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
all_targets=(fuzz_validator fuzz_replies fuzz_ini fuzz_settings fuzz_buffer_file fuzz_link_reply fuzz_request)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [SECONDS] [TARGET...]" >&2; exit 2 ;; esac

# clang with its run-time libraries (libFuzzer and the sanitizers), and the project's packages.
scripts/deps.sh clang
clang_major="$(clang++ -dumpversion | cut -d. -f1)"
scripts/deps.sh "libclang-rt-${clang_major}-dev"

build="build-fuzz"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDORV_BUILD_FUZZ=ON -DDORV_SANITIZE=address,undefined \
  -DDORV_BUILD_TESTS=OFF -DDORV_BUILD_TOOLS=OFF -DDORV_BUILD_QT=OFF -DDORV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1

# Longest reply a link hands the validator.
max_len_of() { case "$1" in fuzz_validator) echo 255 ;; *) echo 4096 ;; esac; }

failed=()
report=()
for t in "${targets[@]}"; do
  run="$build/run/$t"
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts"
  cp fuzz/corpus/"$t"/* "$run/corpus/"
  seeds=$(find "$run/corpus" -type f | wc -l)
  echo "== $t: the $seeds seeds, then ${seconds}s"
  status=0
  # -runs=0: every seed once and nothing more. The fuzzing run goes on from the same seeds.
  "$build/fuzz/$t" "$run/corpus" -runs=0 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$run/artifacts/" >"$run/seeds.log" 2>&1 || status=$?
  cp "$run/seeds.log" "$run/log"
  if [ "$status" -eq 0 ] && [ "$seconds" -gt 0 ]; then
    "$build/fuzz/$t" "$run/corpus" -dict=fuzz/protocol.dict -max_total_time="$seconds" \
      -max_len="$(max_len_of "$t")" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$run/artifacts/" >>"$run/log" 2>&1 || status=$?
  fi
  exec_s=$(sed -n 's/^stat::average_exec_per_sec:[[:space:]]*//p' "$run/log" | tail -1)
  units=$(sed -n 's/^stat::number_of_executed_units:[[:space:]]*//p' "$run/log" | tail -1)
  corpus=$(find "$run/corpus" -type f | wc -l)
  artifacts=$(find "$run/artifacts" -type f | wc -l)
  findings=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|check failed:|SUMMARY: ' "$run/log" || true)
  line=$(printf '%-18s %8s exec/s %10s runs  corpus %4d (from %d seeds)' "$t" "${exec_s:-?}" "${units:-?}" "$corpus" "$seeds")
  if [ "$status" -ne 0 ] || [ "$artifacts" -ne 0 ] || [ "$findings" -ne 0 ]; then
    line="$line  FAILED (exit $status, $artifacts artifacts in $run/artifacts)"
    failed+=("$t")
    grep -E -A20 'ERROR:|runtime error:|check failed:' "$run/log" | head -60 || true
  fi
  report+=("$line")
done

echo
echo "Fuzzing, ${seconds}s per target:"
printf '  %s\n' "${report[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings in: ${failed[*]} (logs and inputs in $build/run/<target>/)" >&2
  exit 1
fi
echo "No findings."
