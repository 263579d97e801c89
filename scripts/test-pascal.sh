#!/usr/bin/env bash
# Dorv5000.dll as an Object Pascal station host uses it: builds the library in both conventions
# (scripts/build-windows.sh --calls stdcall|register), compiles the Free Pascal test host
# tests/pascal/dorv_pascal_host.pas (Delphi mode, with the integrators' unit
# pascal/Dorv5000Host.pas) once per convention, and runs each against its library under Wine.
# Then the sample host pascal/sample, in both conventions, runs a filling over a COM port that
# Wine maps to the Linux emulator's pseudo-terminal, on a virtual X display.
# Ends with "pascal: N passed, M failed"; fails on any failed check.
#
# Free Pascal for 32-bit Windows, kept in build-win/fpc: the i386 compiler binary is taken out
# of Debian's fp-compiler-3.2.2:i386 package (apt-get download + dpkg-deb -x; installing that
# package would remove gcc, g++ and clang), and the win32 run-time units are compiled from
# fpc-source-3.2.2. The Linux `dorv` tool (build/) decodes the trace the host has the library
# write. The host runs on a virtual X display (xvfb-run), so its menu click shows the parameter
# window.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS=0
step() { echo "test-pascal: $1 (${SECONDS}s)"; }
fpc="$PWD/build-win/fpc"
ppc="$fpc/root/usr/lib/i386-linux-gnu/fpc/3.2.2/ppc386"
rtl=/usr/share/fpcsrc/3.2.2/rtl

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
scripts/install-packages.sh fpc-source-3.2.2 xvfb xauth
if [ ! -x "$ppc" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
  fi
  mkdir -p "$fpc/deb"
  (cd "$fpc/deb" && apt-get download -q fp-compiler-3.2.2:i386 >/dev/null 2>&1 ||
    { $SUDO apt-get update -qq && apt-get download -q fp-compiler-3.2.2:i386 >/dev/null; })
  dpkg-deb -x "$fpc"/deb/fp-compiler-3.2.2_*_i386.deb "$fpc/root"
  step "Free Pascal compiler unpacked"
fi
paths=(-Fi"$rtl/inc" -Fi"$rtl/i386" -Fi"$rtl/win" -Fi"$rtl/win32" -Fi"$rtl/objpas"
  -Fi"$rtl/objpas/sysutils" -Fi"$rtl/objpas/classes" -Fi"$rtl/win/wininc"
  -Fu"$rtl/objpas" -Fu"$rtl/inc" -Fu"$rtl/win" -Fu"$rtl/win32" -Fu"$rtl/i386")
if [ ! -f "$fpc/units/messages.ppu" ]; then
  mkdir -p "$fpc/units"
  "$ppc" -Twin32 -Pi386 -n -Us -Sg -O2 -FU"$fpc/units" "${paths[@]}" "$rtl/win32/system.pp" >/dev/null
  for unit in win32/sysinitpas.pp objpas/objpas.pp inc/fpintres.pp win/sysutils.pp win32/classes.pp inc/uuchar.pp win/messages.pp; do
    "$ppc" -Twin32 -Pi386 -n -O2 -FU"$fpc/units" -Fu"$fpc/units" "${paths[@]}" "$rtl/$unit" >/dev/null
  done
  step "win32 run-time units built"
fi

for calls in stdcall register; do
  if [ "$calls" = stdcall ]; then build=build-win; else build=build-win-register; fi
  BUILD_DIR="$build" scripts/build-windows.sh --calls "$calls"
  out="build-win/pascal/$calls"
  mkdir -p "$out/units" "$out/units-unicode"
  defines=()
  [ "$calls" = register ] && defines=(-dDORV_REGISTER)
  if ! "$ppc" -Twin32 -Pi386 -n -Mdelphi -O1 -vew -Sew -FU"$out/units" -Fu"$fpc/units" \
      -Fupascal -Futests/pascal "${defines[@]}" -FE"$out" tests/pascal/dorv_pascal_host.pas >"$out/build.log" 2>&1; then
    cat "$out/build.log"
    exit 1
  fi
  cp "$build/bin/Dorv5000.dll" "$out/"
  # The sample host, compiled as an integrator would for this build.
  sample="build-win/sample/$calls"
  mkdir -p "$sample/units"
  if ! "$ppc" -Twin32 -Pi386 -n -Mdelphi -O1 -vew -Sew -FU"$sample/units" -Fu"$fpc/units" \
      -Fupascal -Fupascal/sample -Futests/pascal "${defines[@]}" -FE"$sample" \
      pascal/sample/DorvSample.dpr >"$sample/build.log" 2>&1; then
    cat "$sample/build.log"
    exit 1
  fi
  cp "$build/bin/Dorv5000.dll" "$sample/"
  # The unit as Unicode Delphi sees it (strings through code page 1251): it must compile. Free
  # Pascal's run-time here is not a Unicode one, so its conversion warnings are no failures.
  if ! "$ppc" -Twin32 -Pi386 -n -Mdelphiunicode -O1 -ve -FU"$out/units-unicode" -Fu"$fpc/units" \
      -Fupascal -Futests/pascal "${defines[@]}" pascal/Dorv5000Host.pas >"$out/unicode.log" 2>&1; then
    cat "$out/unicode.log"
    exit 1
  fi
done
step "built"

# The Linux tools: `dorv trace` decodes the library's trace, and the emulator plays the
# controllers for the sample host (the rows below).
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target dorv dorv-emulator -j 2 >/dev/null
step "Linux tools built"

source scripts/wine-prefix.sh
wine_prefix build-win/wine

passed=0
failed=0
status=0
for calls in stdcall register; do
  out="build-win/pascal/$calls"
  echo "== Pascal host, $calls =="
  log="$out/run.log"
  run_status=0
  # On a virtual X display (xvfb-run): the menu click shows the parameter window.
  wineserver -w
  (cd "$out" && xvfb-run -a -s "-screen 0 1024x768x24" wine dorv_pascal_host.exe Dorv5000.dll) 2>&1 |
    tr -d '\r' | grep -v 'FS volume label' | tee "$log" || run_status=$?
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1 || true)
  if [ -z "$line" ]; then
    # A run that broke off before its summary counts as one failure.
    failed=$((failed + 1))
    status=1
  else
    passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
    failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
    [ "$run_status" -ne 0 ] && status=1
  fi
  # The host left its trace (20 starts, rotated at 1 KB) in dorv.trace.1: every entry decoded.
  entries=$(grep -cE ' (TX|RX) line ' "$out/dorv.trace.1" || true)
  decoded=$(build/tools/dorv trace "$out/dorv.trace.1" | grep -cE ' (TX|RX) line 01 .* \| .+' || true)
  if [ "$entries" -gt 0 ] && [ "$decoded" = "$entries" ]; then
    passed=$((passed + 1)); echo "  ok    dorv trace decodes the library's trace ($decoded entries)"
  else
    failed=$((failed + 1)); echo "  FAIL  dorv trace decoded $decoded of $entries entries"
  fi
  step "$calls host ran"
done
# The sample host runs one filling on COM5, which the Wine prefix maps to the pseudo-terminal
# the emulator serves (it prints "pty /dev/pts/N" once it listens).
emulator=""
trap 'wineserver -k >/dev/null 2>&1 || true; [ -n "$emulator" ] && kill "$emulator" 2>/dev/null || true' EXIT
for calls in stdcall register; do
  sample="build-win/sample/$calls"
  echo "== sample host, $calls =="
  printf 'flow 5\nlift 1\n' >"$sample/filling.script"
  build/emulator/dorv-emulator --pty --script "$sample/filling.script" >"$sample/emulator.out" 2>&1 &
  emulator=$!
  for _ in $(seq 100); do grep -q '^pty ' "$sample/emulator.out" && break; sleep 0.1; done
  ln -sfn "$(sed -n 's/^pty //p' "$sample/emulator.out")" "$WINEPREFIX/dosdevices/com5"
  run_status=0
  (cd "$sample" && timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" wine DorvSample.exe /port:5 /auto) 2>&1 |
    tr -d '\r' | grep -v '^X connection' | tee "$sample/run.log" || run_status=$?
  kill "$emulator" 2>/dev/null || true
  wait "$emulator" 2>/dev/null || true
  emulator=""
  if [ "$run_status" -eq 0 ] && grep -qx 'sample: filling read' "$sample/run.log"; then
    passed=$((passed + 1)); echo "  ok    sample host, $calls: a filling of 10.00 l over COM5"
  else
    failed=$((failed + 1)); echo "  FAIL  sample host, $calls"
  fi
  step "$calls sample ran"
done
[ "$failed" -ne 0 ] && status=1
echo "pascal: $passed passed, $failed failed"
exit "$status"
