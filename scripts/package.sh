#!/usr/bin/env bash
# Builds the station's Debian package, dorv-forecourt_VERSION_ARCH.deb, into ${BUILD_DIR:-build}:
# the service, the emulator and the driver, stripped, with the unit, the example station file
# and the manual pages. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh dpkg-dev file >/dev/null  # dpkg-shlibdeps and file: the package's dependencies
build="${BUILD_DIR:-build}"
# Only what the package holds is built: CPack installs without building the whole tree first.
TARGETS="dorv-forecourt dorv-emulator Dorv5000 forecourt_package_docs" BUILD_DIR="$build" \
    scripts/build.sh -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
rm -f "$build"/dorv-forecourt_*.deb
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
ls "$build"/dorv-forecourt_*.deb
