#!/usr/bin/env bash
# Builds both programs for 64-bit Windows on Debian 12 with MinGW-w64 and makes
#   build/windows/orvandine-converter-<version>-win64.zip        (unpack and run)
#   build/windows/orvandine-converter-<version>-setup.exe        (NSIS installer)
#
# Qt for Windows: QT_WINDOWS_PREFIX when given, else ../shared/windows/qt6-mingw.tar.xz
# (or QT_WINDOWS_TARBALL) unpacked into build/windows-deps, else qtbase built from
# Debian's own source into build/windows-deps (about 80 minutes on two cores).
# NASM for Windows: NASM_WINDOWS_EXE, else ../shared/windows/nasm.exe, else built
# from Debian's nasm source (minutes).
# The emulator for the trial, unicorn.dll (Unicorn 2.0.1.post1): UNICORN_WINDOWS_DLL,
# else built by scripts/windows/build-unicorn.sh from UNICORN_WINDOWS_SOURCE (else
# ../shared/windows/unicorn-2.0.1.post1-src.tar.xz) into build/windows-deps, with
# scripts/windows/unicorn-mingw-vfree.patch (about a minute; kept until the source or
# the patch changes). The prebuilt ../shared/windows/unicorn.dll is not taken: it
# frees memory from __mingw_aligned_malloc with VirtualFree, which corrupts the heap
# as engines are closed.
# SKIP_APT=1 skips the packages; WINDOWS_TESTS=1 builds the tests too (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
DEPS="$ROOT/build/windows-deps"
SHARED="$ROOT/../shared/windows"
JOBS="${JOBS:-2}"
# Debian's source versions of the Qt and NASM for Windows (the prebuilt ones in ../shared/windows too);
# the licence notice names them.
export QT_DEBIAN_VERSION=6.4.2+dfsg-10 NASM_DEBIAN_VERSION=2.16.01-1
TRIPLE=x86_64-w64-mingw32
mkdir -p "$DEPS"
phase() { echo "== $(date -u +%T) $*"; }
SECONDS=0

need_source_build=0
if [ -z "${QT_WINDOWS_PREFIX:-}" ] && [ ! -d "$DEPS/qt6-mingw/lib/cmake/Qt6" ] &&
  [ ! -f "${QT_WINDOWS_TARBALL:-$SHARED/qt6-mingw.tar.xz}" ]; then
  need_source_build=1
fi

phase "packages"
if [ "${SKIP_APT:-0}" != 1 ]; then
  # The Linux build's packages too: Debian's moc, rcc and uic serve the Windows build,
  # and libunicorn-dev gives the emulator's header.
  packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine64 nsis zip xz-utils git)
  if [ "$need_source_build" = 1 ]; then packages+=(dpkg-dev perl python3 gcc-mingw-w64-x86-64-win32); fi
  # Unicorn's build runs QEMU's configure, which needs pkg-config and binutils' strings; patch
  # applies the project's change to it.
  packages+=(pkg-config binutils patch)
  scripts/setup.sh "${packages[@]}"
fi
WINE="${WINE:-/usr/lib/wine/wine64}"
export WINEPREFIX="${WINEPREFIX:-$DEPS/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}"

# Debian's source packages need a deb-src line.
add_deb_src() {
  if ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ &&
    ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/; then
    echo 'deb-src http://deb.debian.org/debian bookworm main' > /etc/apt/sources.list.d/orvandine-src.list
    apt-get update -q
  fi
}

phase "Qt for Windows"
if [ -n "${QT_WINDOWS_PREFIX:-}" ]; then
  QT="$QT_WINDOWS_PREFIX"
elif [ -d "$DEPS/qt6-mingw/lib/cmake/Qt6" ]; then
  QT="$DEPS/qt6-mingw"
elif [ "$need_source_build" = 0 ]; then
  tar -xJf "${QT_WINDOWS_TARBALL:-$SHARED/qt6-mingw.tar.xz}" -C "$DEPS"
  QT="$DEPS/qt6-mingw"
else
  # Debian's qt6-base 6.4.2 source, Debian's patches applied; Core, Gui, Widgets, Test
  # and the windows platform plugin, shared, release.
  add_deb_src
  DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -q qt6-base >/dev/null || true
  src="$DEPS/qtbase-src"
  if [ ! -d "$src" ]; then
    (cd "$DEPS" && apt-get source --download-only "qt6-base=$QT_DEBIAN_VERSION" &&
      dpkg-source -x "qt6-base_$QT_DEBIAN_VERSION.dsc" "$src")
  fi
  # Qt 6.4.2 with Direct2D off: the windows plugin uses the DirectWrite font
  # database that Gui then leaves out, and fails to link.
  sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
  # Debian's tarball drops wintab and sqlite (tablet events and sql off); its
  # cross.patch turns androiddeployqt on (off here).
  cmake -G Ninja -S "$src" -B "$DEPS/build-qt" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$DEPS/qt6-mingw" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_egl=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_tabletevent=OFF -DFEATURE_androiddeployqt=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_zstd=OFF -DFEATURE_pkg_config=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF
  nice -n 19 cmake --build "$DEPS/build-qt" --parallel "$JOBS"
  cmake --install "$DEPS/build-qt" >/dev/null
  QT="$DEPS/qt6-mingw"
fi
export QT_WINDOWS_PREFIX="$QT"

phase "NASM for Windows"
if [ -n "${NASM_WINDOWS_EXE:-}" ]; then
  NASM_EXE="$NASM_WINDOWS_EXE"
elif [ -f "$SHARED/nasm.exe" ]; then
  NASM_EXE="$SHARED/nasm.exe"
elif [ -f "$DEPS/nasm.exe" ]; then
  NASM_EXE="$DEPS/nasm.exe"
else
  # Debian's nasm source; no threads, so the win32 thread model, and no runtime DLL to carry.
  add_deb_src
  (
    cd "$DEPS" && mkdir -p nasm && cd nasm
    ls "nasm_$NASM_DEBIAN_VERSION.dsc" >/dev/null 2>&1 || apt-get source --download-only "nasm=$NASM_DEBIAN_VERSION"
    [ -d src ] || dpkg-source -x "nasm_$NASM_DEBIAN_VERSION.dsc" src
    rm -rf build && mkdir build && cd build
    ../src/configure --host=$TRIPLE CC=$TRIPLE-gcc-win32 LDFLAGS=-static-libgcc --disable-werror >/dev/null
    make dirs >/dev/null && mkdir -p include
    nice -n 19 make -j"$JOBS" nasm.exe >/dev/null
    $TRIPLE-strip nasm.exe && cp nasm.exe "$DEPS/nasm.exe"
  )
  NASM_EXE="$DEPS/nasm.exe"
fi

phase "Unicorn for Windows"
UNICORN_SOURCE="${UNICORN_WINDOWS_SOURCE:-$SHARED/unicorn-2.0.1.post1-src.tar.xz}"
if [ -n "${UNICORN_WINDOWS_DLL:-}" ]; then
  UNICORN_DLL="$UNICORN_WINDOWS_DLL"
else
  # Built again when the source, the patch or the build script changes.
  made_from=$( (sha256sum scripts/windows/build-unicorn.sh scripts/windows/unicorn-mingw-vfree.patch | cut -d' ' -f1
    if [ -d "$UNICORN_SOURCE" ]; then realpath "$UNICORN_SOURCE"; else sha256sum "$UNICORN_SOURCE" | cut -d' ' -f1; fi) |
    paste -sd' ')
  if [ ! -f "$DEPS/unicorn/unicorn.dll" ] || [ "$(cat "$DEPS/unicorn/made-from" 2>/dev/null)" != "$made_from" ]; then
    scripts/windows/build-unicorn.sh "$UNICORN_SOURCE" "$DEPS/unicorn"
    echo "$made_from" >"$DEPS/unicorn/made-from"
  fi
  UNICORN_DLL="$DEPS/unicorn/unicorn.dll"
fi
[ -f "$UNICORN_DLL" ] || { echo "no unicorn.dll: $UNICORN_DLL" >&2; exit 1; }

# The emulator's header alone: /usr/include must not come onto MinGW's include path.
# Copied again only when it changed, so that the engine is not rebuilt for nothing.
if ! diff -rq /usr/include/unicorn "$DEPS/unicorn-include/unicorn" >/dev/null 2>&1; then
  rm -rf "$DEPS/unicorn-include/unicorn"
  mkdir -p "$DEPS/unicorn-include"
  cp -r /usr/include/unicorn "$DEPS/unicorn-include/"
fi

configure() {  # build folder, then extra options
  local dir="$1"
  shift
  cmake -G Ninja -S "$ROOT" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DQT_WINDOWS_PREFIX="$QT" -DCMAKE_PREFIX_PATH="$QT" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DNASM_EXECUTABLE="$NASM_EXE" -DUNICORN_INCLUDE_DIR="$DEPS/unicorn-include" \
    -DORVANDINE_BUILD_BENCH=OFF "$@" >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    return 1
  }
}

if [ "${WINDOWS_TESTS:-0}" = 1 ]; then
  phase "configure (tests)"
  configure "$ROOT/build/windows-tests" -DCMAKE_BUILD_TYPE=Release -DORVANDINE_BUILD_TESTS=ON
  phase "build (tests)"
  cmake --build "$ROOT/build/windows-tests" -j"$JOBS"
  # The trial looks for the emulator beside the program that starts it: there the test programs,
  # the command-line program and the window sit together (Qt's project setup on Windows).
  cp "$UNICORN_DLL" "$ROOT/build/windows-tests/unicorn.dll"
  phase "done in ${SECONDS}s"
  exit 0
fi

phase "configure"
configure "$ROOT/build/windows-release" -DCMAKE_BUILD_TYPE=Release -DORVANDINE_BUILD_TESTS=OFF
phase "build"
cmake --build "$ROOT/build/windows-release" -j"$JOBS"

phase "zip"
version=$(sed -n 's/^project(OrvandineConverter VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="orvandine-converter-$version-win64"
out="$ROOT/build/windows"
mkdir -p "$out"
UNICORN_DLL="$UNICORN_DLL" scripts/windows/deploy.sh "$ROOT/build/windows-release" "$out/$name" >"$out/deploy.log"
UNICORN_SOURCE="$UNICORN_SOURCE" scripts/windows/licenses.sh "$out/$name" >>"$out/deploy.log"
rm -f "$out/$name.zip"
(cd "$out" && zip -q -r -9 "$name.zip" "$name")

phase "installer"
rm -f "$out/orvandine-converter-$version-setup.exe"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSOURCE="$out/$name" \
  -DOUTFILE="$out/orvandine-converter-$version-setup.exe" scripts/windows/installer.nsi
ls -l "$out/$name.zip" "$out/orvandine-converter-$version-setup.exe"
phase "done in ${SECONDS}s"
