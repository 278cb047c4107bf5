#!/usr/bin/env bash
# Installs what is missing, builds in Release, and writes the Debian package
# build/orvandine-converter_<version>_<arch>.deb; then checks it with lintian
# and checks the desktop entry and the software-centre entry.
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-dev: dpkg-shlibdeps computes Depends, dpkg-buildflags the hardening flags;
# file: CPack finds the executables to hand to dpkg-shlibdeps with it.
scripts/setup.sh dpkg-dev file lintian appstream desktop-file-utils

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake --preset package \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build --preset package
rm -f build/orvandine-converter_*.deb
cpack --preset package

deb=$(ls build/orvandine-converter_*.deb)
desktop-file-validate resources/orvandine-converter.desktop
appstreamcli validate --no-net build/package/packaging/*.metainfo.xml
# Errors fail the script; warnings are printed.
lintian --fail-on error "$deb"
echo "Package: $deb"
