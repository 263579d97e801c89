#!/usr/bin/env bash
# The console's benchmark: 39 lines x 4 pumps fuelling at once against the page (figures, not
# a test). LINES, LITRES and FLOW (litres per second) change the storm.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh chromium
build="${BUILD_DIR:-build}"
TARGETS="dorv-forecourt dorv-emulator" BUILD_DIR="$build" scripts/build.sh
(cd tests/forecourt/browser && { [ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund; })
FORECOURT_BIN="$PWD/$build/forecourt/dorv-forecourt" DORV_EMULATOR="$PWD/$build/emulator/dorv-emulator" node bench/console/storm.mjs
