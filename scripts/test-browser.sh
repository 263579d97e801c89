#!/usr/bin/env bash
# The web console's browser tests: installs Chromium, Node and the test's npm packages when
# missing, builds only dorv-forecourt and dorv-emulator, and runs the tests with node's runner
# (Playwright driving Debian's Chromium headless; no browser is downloaded).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh chromium
# Node may come from Debian (nodejs, npm) or from a Node package that carries npm itself.
command -v npm >/dev/null || scripts/install-packages.sh nodejs npm
build="${BUILD_DIR:-build}"
TARGETS="dorv-forecourt dorv-emulator" BUILD_DIR="$build" scripts/build.sh
cd tests/forecourt/browser
{ [ -d node_modules/playwright-core ] && [ -d node_modules/axe-core ]; } || npm ci --no-audit --no-fund
FORECOURT_BIN="$OLDPWD/$build/forecourt/dorv-forecourt" DORV_EMULATOR="$OLDPWD/$build/emulator/dorv-emulator" \
  node --test
