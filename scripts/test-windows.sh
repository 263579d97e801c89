#!/usr/bin/env bash
# The Windows build under test: builds and checks Dorv5000.dll (scripts/build-windows.sh),
# cross-builds the core test suite, the Windows test host and the window tests, and runs them
# under Wine in a fresh 32-bit Wine prefix inside the build folder: the first two headless, the
# window tests on a virtual X display (xvfb-run; without a display Wine creates no windows).
# Fails on any failed test or step. Installs Wine for 32-bit programs and Xvfb on first use
# (Debian 12, as root or via sudo): a large download, done once.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build-win}"
tests="$build/tests"
SECONDS=0
step() { echo "test-windows: $1 (${SECONDS}s)"; }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in wine wine32:i386 googletest xvfb xauth; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
  step "Wine installed"
fi

BUILD_DIR="$build" scripts/build-windows.sh
cmake -S tests/windows -B "$tests" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
cmake --build "$tests" -j 2
# The programs load the library that build-windows.sh checked, from their own folder.
cp "$build/bin/Dorv5000.dll" "$tests/bin/"
step "built"

export WINEPREFIX="$PWD/$build/wine" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or browser engine prompts on first start
unset DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver -w
  step "Wine prefix ready"
fi

log="$tests/windows-tests.log"
status=0
wine "$tests/bin/dorv_windows_tests.exe" --gtest_brief=1 2>&1 | tr -d '\r' | tee "$log" || status=$?
ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$log" | tail -1)
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -1)
passed=${passed:-0}
failed=$(( ${ran:-0} - passed ))
# A run that broke off before its summary counts as one failure.
[ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
step "core tests ran"

echo "== Windows test host =="
if wine "$tests/bin/win_host.exe" 2>&1 | tr -d '\r'; then
  passed=$((passed + 1))
else
  status=1
  failed=$((failed + 1))
fi
step "test host ran"

# The parameter window and the settings dialog, driven as an engineer drives them; screenshots
# of both land in $tests/bin (param-window.bmp, settings-dialog.bmp).
echo "== Window tests (virtual display) =="
wineserver -w  # the headless programs' Wine session ends first
if (cd "$tests/bin" && xvfb-run -a -s "-screen 0 1024x768x24" wine window_test.exe 2>&1 | tr -d '\r' |
      grep -v 'FS volume label'); then
  passed=$((passed + 1))
else
  status=1
  failed=$((failed + 1))
fi
step "window tests ran"

echo "wine: $passed passed, $failed failed"
exit "$status"
