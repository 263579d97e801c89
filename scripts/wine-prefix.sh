# Sourced by the Windows test scripts: `wine_prefix DIR` makes DIR a headless 32-bit Wine prefix
# (created on first use) for the wine commands that follow, and stops its Wine server on exit.
wine_prefix() {
  export WINEPREFIX="$PWD/$1" WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or browser engine prompts on first start
  unset DISPLAY
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1
    wineserver -w
    step "Wine prefix ready"
  fi
}
