#!/usr/bin/env bash
# Gathers what must travel beside the .exe files (Qt 6.4 builds windeployqt only
# for a Windows host): the DLLs the programs need, found by walking the PE
# import tables, the windows platform plugin, the style plugin, Qt's Russian
# texts, a qt.conf, and the emulator the trial opens by name (unicorn.dll).
#   scripts/windows/deploy.sh BUILD DEST
# QT_WINDOWS_PREFIX: the Qt for Windows; UNICORN_DLL: the emulator's DLL.
set -euo pipefail
BUILD="${1:?the Windows build folder}"
DEST="${2:?the folder to fill}"
QT="${QT_WINDOWS_PREFIX:?the Qt for Windows prefix}"
UNICORN="${UNICORN_DLL:?the emulator, unicorn.dll}"
OBJDUMP=x86_64-w64-mingw32-objdump
SEARCH=("$QT/bin" /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
rm -rf "$DEST"
mkdir -p "$DEST/platforms" "$DEST/styles" "$DEST/imageformats" "$DEST/translations"
for exe in orvandine-convert.exe orvandine-converter.exe orvandine-trial.exe; do
  cp "$(find "$BUILD" -maxdepth 4 -name "$exe" | head -1)" "$DEST/"
done
cp "$QT/plugins/platforms/qwindows.dll" "$DEST/platforms/"
# Loaded at run time, so no import table names it; it needs only KERNEL32.dll
# and msvcrt.dll, and comes stripped (stripping it again would change its bytes).
cp "$UNICORN" "$DEST/unicorn.dll"
cp "$QT/plugins/styles/"*.dll "$DEST/styles/"
cp "$QT/plugins/imageformats/qico.dll" "$DEST/imageformats/" 2>/dev/null || true
cp /usr/share/qt6/translations/qtbase_ru.qm "$DEST/translations/"
# Plugins and translations are looked for beside the programs.
printf '[Paths]\nPrefix=.\n' >"$DEST/qt.conf"
declare -A seen
walk() {
  local dll dir
  for dll in $("$OBJDUMP" -p "$1" | sed -n 's/^\s*DLL Name: //p'); do
    [ -n "${seen[${dll,,}]:-}" ] && continue
    seen[${dll,,}]=1
    for dir in "${SEARCH[@]}"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$DEST/"
        walk "$dir/$dll"
        break
      fi
    done
  done
}
for f in "$DEST"/*.exe "$DEST"/platforms/*.dll "$DEST"/styles/*.dll "$DEST"/imageformats/*.dll; do walk "$f"; done
# MinGW's runtime DLLs come unstripped (libstdc++-6.dll: 23 MB, 2 MB stripped).
for f in "$DEST"/*.dll "$DEST"/*.exe; do
  [ "$f" = "$DEST/unicorn.dll" ] || x86_64-w64-mingw32-strip --strip-unneeded "$f"
done
(cd "$DEST" && find . -type f | sort | xargs ls -l | awk '{printf "%10d  %s\n", $5, $9}' && du -sh .)
