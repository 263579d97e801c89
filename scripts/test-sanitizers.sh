#!/usr/bin/env bash
# The whole test suite under the sanitizers: once with address and undefined-behaviour
# sanitizers (build-asan), once with the thread sanitizer (build-tsan).
#   scripts/test-sanitizers.sh [asan|tsan]...      (default: both)
# Builds what scripts/test.sh builds but the benchmarks (and, for the thread sanitizer, the Qt
# windows), with clang at -O0, and runs CTest on each build. At -O0 a build takes under half the
# time -O1 does (the Boost.Beast units most of all), and the tests, which mostly wait on emulated
# wires, run about as fast; SANITIZER_OPT picks another level.
# The sanitizer builds are unity builds: CMake joins a target's sources eight at a time, so the
# Boost.Beast, GoogleTest and Qt headers are compiled once for eight units (an address sanitizer
# build: 266 s instead of about 500 s). Two sources of one target must therefore not define the
# same name in their unnamed namespaces; scripts/test.sh builds source by source and keeps each
# one's own includes honest.
# Fails on a failing test and on any sanitizer report, also one from a program a test started
# (reports go to files in build-*/sanitizer-reports/ and are printed at the end).
# SANITIZER_CXX picks another compiler (g++ works too); SANITIZER_CMAKE_ARGS adds CMake options
# (say -DDORV_BUILD_QT=OFF); DEBUG_INFO=-g1 builds with line tables only, as CI does.
# SANITIZER_SKIP_SLOW=1 leaves out the tests labelled slow (the
# forecourt service's kill loop: about 25 s under the thread sanitizer on 2 cores).
# Each step runs in a function whose failure is collected, where set -e does not act: every
# command that can fail says so itself.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(asan tsan)

cxx="${SANITIZER_CXX:-clang++}"
scripts/deps.sh
if [[ "$cxx" == clang* ]]; then
  # clang's sanitizer run-time libraries.
  scripts/deps.sh "libclang-rt-$("$cxx" -dumpversion | cut -d. -f1)-dev"
fi

export QT_QPA_PLATFORM=offscreen
jobs=2
read -r -a extra <<<"${SANITIZER_CMAKE_ARGS:-}"

run() {
  local name=$1 sanitize=$2 build="build-$1"
  local own=("${@:3}")
  local reports="$PWD/$build/sanitizer-reports"
  local start=$SECONDS
  rm -rf "$reports"
  mkdir -p "$reports"
  # log_path: every process writes its report to a file of its own (name.pid) as well as
  # failing, so a report from a program that a test started is not lost in its output.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:log_path=$reports/asan"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
  local tsan="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan"
  # What Qt's own libraries do between their threads (they are not built with the sanitizer):
  # scripts/tsan-qt.supp names only those libraries. The Qt tests append the same file
  # themselves, hence the closing colon.
  [ -f scripts/tsan-qt.supp ] && tsan="$tsan:suppressions=$PWD/scripts/tsan-qt.supp"
  export TSAN_OPTIONS="$tsan:"

  echo "== $name: -fsanitize=$sanitize with $cxx in $build"
  cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="${SANITIZER_OPT:--O0} ${DEBUG_INFO:--g}" -DDORV_SANITIZE="$sanitize" \
    -DDORV_BUILD_BENCH=OFF -DDORV_BUILD_FUZZ=OFF -DCMAKE_UNITY_BUILD=ON ${own[@]+"${own[@]}"} ${extra[@]+"${extra[@]}"} >/dev/null || return 1
  cmake --build "$build" -j "$jobs" || return 1
  local built=$SECONDS
  local status=0
  local skip=()
  if [ "${SANITIZER_SKIP_SLOW:-0}" = 1 ]; then skip=(-LE slow); fi
  ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs" --timeout 600 ${skip[@]+"${skip[@]}"} || status=$?
  echo "== $name: build $((built - start)) s, tests $((SECONDS - built)) s"
  if compgen -G "$reports/*" >/dev/null; then
    echo "== $name: sanitizer reports:" >&2
    for f in "$reports"/*; do
      echo "---- $f" >&2
      head -80 "$f" >&2
    done
    status=1
  fi
  return "$status"
}

failed=()
for r in "${runs[@]}"; do
  case "$r" in
    asan) run asan address,undefined || failed+=(asan) ;;
    # The Qt windows are left out of the thread sanitizer's run: Qt's own threads are not
    # instrumented (see scripts/tsan-qt.supp), the windows' worker threads are the toolkit-free
    # logic that its own tests drive, and the address sanitizer's run keeps the Qt tests.
    tsan) run tsan thread -DDORV_BUILD_QT=OFF || failed+=(tsan) ;;
    *) echo "unknown run '$r' (asan or tsan)" >&2; exit 2 ;;
  esac
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Sanitizer runs failed: ${failed[*]}" >&2
  exit 1
fi
echo "Sanitizer runs passed: ${runs[*]}"
