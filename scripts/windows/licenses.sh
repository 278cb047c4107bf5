#!/usr/bin/env bash
# Fills DEST/licenses/ (the folder the zip and the installer carry) with the
# program's licence, NOTICE.txt (NOTICE.txt.in with this build's versions: every
# third-party part, its licence and where its exact source is) and the licence
# texts it names. Text files get CR LF, for any Windows editor.
#   scripts/windows/licenses.sh DEST
# UNICORN_SOURCE: Unicorn's source the DLL was built from (a tarball or a tree);
# NASM_DEBIAN_VERSION, QT_DEBIAN_VERSION: Debian's source versions of NASM and Qt.
set -euo pipefail
DEST="${1:?the folder with the programs}"
UNICORN_SOURCE="${UNICORN_SOURCE:?the Unicorn source, a tarball or a folder}"
NASM_DEBIAN_VERSION="${NASM_DEBIAN_VERSION:?}"
QT_DEBIAN_VERSION="${QT_DEBIAN_VERSION:?}"
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
OUT="$DEST/licenses"
rm -rf "$OUT"
mkdir -p "$OUT"

# Every DLL beside the programs must be one the notice names.
for dll in "$DEST"/*.dll; do
  case "$(basename "$dll")" in
    Qt6*.dll | libstdc++-6.dll | libgcc_s_seh-1.dll | libwinpthread-1.dll | unicorn.dll) ;;
    *)
      echo "licenses.sh: $(basename "$dll") is in no notice: add it to NOTICE.txt.in" >&2
      exit 1
      ;;
  esac
done

# The Debian package that gave a runtime DLL, and its source package.
owner() { dpkg -S "$1" | sed -n 1p | cut -d: -f1; }
field() { dpkg-query -W -f="$2" "$1"; }
gcc_package=$(owner /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll)
mingw_package=$(owner /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll)
dlls() { (cd "$DEST" && ls "$@" 2>/dev/null | paste -sd' ' | sed 's/ /, /g'); }

# Unicorn: its version from the archive's folder, its commit from git archive's header.
if [ -d "$UNICORN_SOURCE" ]; then
  unicorn_dir="$UNICORN_SOURCE"
  unicorn_tarball="(an unpacked tree: $(basename "$UNICORN_SOURCE"))"
  unicorn_tarball_sha=-
  unicorn_commit=$(git -C "$UNICORN_SOURCE" rev-parse HEAD 2>/dev/null || echo "not recorded")
  unicorn_version=$(basename "$UNICORN_SOURCE" | sed 's/^unicorn-//')
else
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  top=$(tar -tf "$UNICORN_SOURCE" | sed -n 1p)
  tar -xf "$UNICORN_SOURCE" -C "$unpacked" "${top}COPYING" "${top}COPYING_GLIB" "${top}COPYING.LGPL2"
  unicorn_dir="$unpacked/$top"
  unicorn_tarball=$(basename "$UNICORN_SOURCE")
  unicorn_tarball_sha=$(sha256sum "$UNICORN_SOURCE" | cut -d' ' -f1)
  # git get-tar-commit-id stops reading after the header: xz's broken pipe is no failure.
  unicorn_commit=$( (xz -dc "$UNICORN_SOURCE" 2>/dev/null || true) | git get-tar-commit-id) ||
    unicorn_commit="not recorded"
  unicorn_version=${top%/}
  unicorn_version=${unicorn_version#unicorn-}
fi

version=$(sed -n 's/^project(OrvandineConverter VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
sed -e "s|@VERSION@|$version|g" \
  -e "s|@NASM_VERSION@|${NASM_DEBIAN_VERSION%-*}|g" -e "s|@NASM_DEBIAN_VERSION@|$NASM_DEBIAN_VERSION|g" \
  -e "s|@QT_VERSION@|${QT_DEBIAN_VERSION%%+*}|g" -e "s|@QT_DEBIAN_VERSION@|$QT_DEBIAN_VERSION|g" \
  -e "s|@GCC_DLLS@|$(dlls libstdc++-6.dll libgcc_s_seh-1.dll)|g" \
  -e "s|@GCC_PACKAGE@|$gcc_package|g" -e "s|@GCC_PACKAGE_VERSION@|$(field "$gcc_package" '${Version}')|g" \
  -e "s|@GCC_SOURCE@|$(field "$gcc_package" '${source:Package} ${source:Version}')|g" \
  -e "s|@WINPTHREAD_DLLS@|$(dlls libwinpthread-1.dll)|g" \
  -e "s|@MINGW_PACKAGE@|$mingw_package|g" -e "s|@MINGW_PACKAGE_VERSION@|$(field "$mingw_package" '${Version}')|g" \
  -e "s|@MINGW_SOURCE@|$(field "$mingw_package" '${source:Package} ${source:Version}')|g" \
  -e "s|@UNICORN_VERSION@|$unicorn_version|g" -e "s|@UNICORN_COMMIT@|$unicorn_commit|g" \
  -e "s|@UNICORN_TARBALL@|$unicorn_tarball|g" -e "s|@UNICORN_TARBALL_SHA256@|$unicorn_tarball_sha|g" \
  -e "s|@UNICORN_DLL_SHA256@|$(sha256sum "$DEST/unicorn.dll" | cut -d' ' -f1)|g" \
  "$HERE/NOTICE.txt.in" >"$OUT/NOTICE.txt"
if grep -n '@[A-Z0-9_]*@' "$OUT/NOTICE.txt"; then
  echo "licenses.sh: a field of NOTICE.txt.in is not filled" >&2
  exit 1
fi

# The texts: the program's own licence, the common ones from Debian, Unicorn's
# from its source, and Debian's copyright files of the packages the parts come from.
cp "$ROOT/LICENSE" "$OUT/LICENSE.txt"
for l in GPL-2 GPL-3 LGPL-3; do cp "/usr/share/common-licenses/$l" "$OUT/$l.txt"; done
sed -n '/^GCC RUNTIME LIBRARY EXCEPTION$/,/requirements of the license of GCC\.$/p' \
  "/usr/share/doc/$gcc_package/copyright" >"$OUT/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt"
grep -q 'No Weakening of GCC Copyleft' "$OUT/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt"
for f in COPYING COPYING_GLIB COPYING.LGPL2; do cp "$unicorn_dir/$f" "$OUT/unicorn-$f.txt"; done
cp /usr/share/doc/nasm/copyright "$OUT/nasm-copyright.txt"
cp /usr/share/doc/libqt6core6/copyright "$OUT/qt6-base-copyright.txt"
cp "/usr/share/doc/$gcc_package/copyright" "$OUT/gcc-mingw-w64-copyright.txt"
cp "/usr/share/doc/$mingw_package/copyright" "$OUT/mingw-w64-copyright.txt"
for f in "$OUT"/*.txt; do sed -i 's/\r*$/\r/' "$f"; done
ls -l "$OUT"
