#!/usr/bin/env bash
# Cross-builds Dorv5000.dll for the stations' 32-bit Windows hosts with Debian's MinGW-w64 and
# checks it as a host will load it: exported "GetDI30" under that plain name, nothing else
# exported, and only DLLs that every Windows has imported.
# Installs the cross compiler and CMake when they are missing (Debian 12, as root or via sudo).
# Result: ${BUILD_DIR:-build-win}/bin/Dorv5000.dll
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build-win}"

scripts/install-packages.sh cmake g++-mingw-w64-i686-posix

cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$PWD/$build/bin" \
  -DDORV_BUILD_TESTS=OFF -DDORV_BUILD_TOOLS=OFF -DDORV_BUILD_QT=OFF -DDORV_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" --target Dorv5000 -j 2

dll="$build/bin/Dorv5000.dll"
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail() { echo "build-windows: $dll: $*" >&2; exit 1; }

grep -q '^Magic.*010b' <<<"$dump" || fail "not a 32-bit (PE32) image"
# Export table rows look like "	[   0] GetDI30".
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
[ "$exports" = "GetDI30" ] || fail "exports '$(echo $exports)', expected exactly GetDI30"
# Only libraries that ship with every Windows; a MinGW run-time DLL here would be missing on
# a station.
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort -u)
for d in $imports; do
  case "${d,,}" in
    kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|ole32.dll|oleaut32.dll|\
    comctl32.dll|comdlg32.dll|ws2_32.dll|msvcrt.dll|version.dll|shlwapi.dll) ;;
    *) fail "imports $d, which a station does not have" ;;
  esac
done
echo "$dll: exports GetDI30; imports $(echo $imports)"
