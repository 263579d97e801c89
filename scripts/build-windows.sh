#!/usr/bin/env bash
# Cross-builds Dorv5000.dll for the stations' 32-bit Windows hosts with Debian's MinGW-w64 and
# checks it as a host will load it: exported "GetDI30" under that plain name, nothing else
# exported, only DLLs that every Windows has imported, and a version resource that names the
# file version and the build's calling convention.
# Installs the cross compiler and CMake when they are missing (Debian 12, as root or via sudo).
#
#   scripts/build-windows.sh [--calls stdcall|register]
#
# --calls picks the convention of GetDI30, the slots, the host's link and menu and the
# callbacks: stdcall (the default) or register, Object Pascal's default (README-windows.md).
# Result: ${BUILD_DIR:-build-win}/bin/Dorv5000.dll; the register build goes to
# ${BUILD_DIR:-build-win-register} unless BUILD_DIR is set.
set -euo pipefail
cd "$(dirname "$0")/.."
calls=stdcall
while [ $# -gt 0 ]; do
  case "$1" in
    --calls) calls="${2:-}"; shift 2 ;;
    --calls=*) calls="${1#--calls=}"; shift ;;
    *) echo "usage: $0 [--calls stdcall|register]" >&2; exit 2 ;;
  esac
done
case "$calls" in
  stdcall) build="${BUILD_DIR:-build-win}" ;;
  register) build="${BUILD_DIR:-build-win-register}" ;;
  *) echo "build-windows: --calls must be stdcall or register" >&2; exit 2 ;;
esac

scripts/install-packages.sh cmake g++-mingw-w64-i686-posix

cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$PWD/$build/bin" \
  -DDORV_BUILD_TESTS=OFF -DDORV_BUILD_TOOLS=OFF -DDORV_BUILD_QT=OFF -DDORV_BUILD_BENCH=OFF \
  -DDORV_HOST_CALLS="$calls" >/dev/null
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
# The version resource (type 16) and what it says: file version and the build's convention.
grep -q 'Entry: ID: 0x000010,' <<<"$dump" || fail "carries no version resource"
version_value() { strings -el "$dll" | sed -n "/^$1\$/{n;p;q}"; }
convention=$(version_value CallingConvention)
[ "$convention" = "$calls" ] || fail "version resource names the convention '$convention', built for $calls"
version=$(version_value FileVersion)
[ -n "$version" ] || fail "version resource names no file version"
echo "$dll ($calls, $(stat -c %s "$dll") bytes): exports GetDI30; imports $(echo $imports);" \
  "version $version, \"$(version_value FileDescription)\""

