#!/usr/bin/env bash
# Builds unicorn.dll, the CPU emulator the trial loads on Windows, from
# Unicorn's own source: version 2.0.1.post1, the one Debian 12 ships as
# libunicorn2, so that Linux and Windows emulate alike. x86 guests only; 64-bit
# Windows; libgcc and winpthread linked in, so that the DLL needs only
# KERNEL32.dll and msvcrt.dll. One patch, unicorn-mingw-vfree.patch beside this
# script: with MinGW, Unicorn takes aligned blocks from __mingw_aligned_malloc but
# gives them back with VirtualFree, which corrupts the heap as engines are closed
# (a process faulted in about its eighth engine). About a minute on two cores.
#   scripts/windows/build-unicorn.sh SOURCE DEST
# SOURCE: Unicorn's 2.0.1.post1 source, a tarball (git archive of the tag) or
# an unpacked tree; DEST: the folder that gets unicorn.dll and, beside it,
# build-unicorn/ (the build). The packages: scripts/windows.sh installs them.
set -euo pipefail
SOURCE="$(realpath "${1:?the Unicorn source, a tarball or a folder}")"
DEST="$(realpath -m "${2:?the folder for unicorn.dll}")"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
JOBS="${JOBS:-2}"
WORK="$DEST/build-unicorn"
rm -rf "$WORK"
mkdir -p "$WORK"

mkdir "$WORK/src"
if [ -d "$SOURCE" ]; then
  cp -r "$SOURCE" "$WORK/src/"  # the patch goes into a copy
else
  tar -xf "$SOURCE" -C "$WORK/src"
fi
SRC="$(dirname "$(ls "$WORK"/src/*/CMakeLists.txt 2>/dev/null | sed -n 1p)")"
grep -q 'set(UNICORN_VERSION_PATCH 1)' "$SRC/CMakeLists.txt" 2>/dev/null || {
  echo "not Unicorn 2.0.1: $SOURCE" >&2
  exit 1
}
patch -s -d "$SRC" -p1 <"$(dirname "$0")/unicorn-mingw-vfree.patch"

# CMake's MinGW platform would name the library libunicorn.dll: the prefix is
# dropped right after Unicorn's project(), so that the DLL's export name agrees.
# -static puts libgcc and winpthread into the DLL; --exclude-libs,ALL keeps
# their symbols and QEMU's out of its export table; -s strips at the link (strip
# afterwards would stamp the PE header with the time). The prefix maps and
# --no-insert-timestamp make the bytes independent of the folders and the time.
BUILD="$WORK/build"
mkdir -p "$BUILD"
printf 'set(CMAKE_SHARED_LIBRARY_PREFIX "")\n' >"$BUILD/dll-name.cmake"
cmake -G Ninja -S "$SRC" -B "$BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PROJECT_unicorn_INCLUDE="$BUILD/dll-name.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DUNICORN_ARCH=x86 -DBUILD_SHARED_LIBS=ON \
  -DUNICORN_BUILD_TESTS=OFF -DUNICORN_INSTALL=OFF \
  -DCMAKE_C_FLAGS="-ffile-prefix-map=$SRC/=unicorn/ -ffile-prefix-map=$BUILD/=build/" \
  -DCMAKE_SHARED_LINKER_FLAGS="-static -s -Wl,--exclude-libs,ALL -Wl,--no-insert-timestamp" \
  -DCMAKE_EXE_LINKER_FLAGS="-static -Wl,--no-insert-timestamp" >"$BUILD/configure.log" 2>&1 || {
  tail -30 "$BUILD/configure.log"
  exit 1
}
# CMake runs QEMU's configure but does not look at how it ended (it stops
# without pkg-config or binutils' strings).
grep -q '^CONFIG_WIN32=y' "$BUILD/config-host.mak" || {
  echo "Unicorn's qemu/configure failed: $BUILD/config.log" >&2
  exit 1
}
nice -n 10 ninja -C "$BUILD" -j"$JOBS" unicorn >"$BUILD/ninja.log" 2>&1 || {
  tail -30 "$BUILD/ninja.log"
  exit 1
}
cp "$BUILD/unicorn.dll" "$DEST/unicorn.dll.new"
mv "$DEST/unicorn.dll.new" "$DEST/unicorn.dll"
