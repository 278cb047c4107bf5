#!/usr/bin/env bash
# Cross-builds the test programs for 64-bit Windows (scripts/windows.sh with
# WINDOWS_TESTS=1) and runs each under wine64. Qt Test writes nothing to
# standard output under Wine, so each program writes its log to a file, which
# is printed. Exit status: 0 when every program passed.
#   scripts/test-windows.sh [TEST...]      (default: every test program built)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
WINDOWS_TESTS=1 scripts/windows.sh
BUILD="$ROOT/build/windows-tests"
QT="${QT_WINDOWS_PREFIX:-$ROOT/build/windows-deps/qt6-mingw}"
WINE=/usr/lib/wine/wine64
export WINEDEBUG=-all
# Wine names Unix files in the locale's character set: UTF-8, so that Cyrillic names survive.
export LC_ALL=C.UTF-8
# A fresh Wine prefix would offer to fetch Mono and Gecko; the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The DLLs are taken from where they were built; the programs themselves travel with a copy of them.
export WINEPATH="$(winepath -w "$QT/bin" 2>/dev/null || echo "Z:$QT/bin");Z:/usr/lib/gcc/x86_64-w64-mingw32/12-posix;Z:/usr/x86_64-w64-mingw32/lib"
export ORVANDINE_TRIAL_WORKER="Z:${BUILD//\//\\}\\libexec\\orvandine-converter\\orvandine-trial.exe"
# Wine hands no QT_ variable to a Windows program (a Linux Qt setting would
# mislead it), but strips a WINE prefix: WINEQT_X reaches it as QT_X.
export WINEQT_QPA_PLATFORM=offscreen
# Offscreen Qt reads fonts from a folder; the fixed-pitch Liberation Mono stands in for Courier New.
export WINEQT_QPA_FONTDIR="Z:\\usr\\share\\fonts\\truetype\\liberation"

# Qt's own Russian texts ("Да", "Нет"), as the zip carries them beside the programs.
mkdir -p "$BUILD/translations"
cp /usr/share/qt6/translations/qtbase_ru.qm "$BUILD/translations/"
printf '[Paths]\nPrefix=Z:%s\nTranslations=Z:%s/translations\n' "$QT" "$BUILD" >"$BUILD/qt.conf"

tests=("$@")
if [ ${#tests[@]} -eq 0 ]; then
  for exe in "$BUILD"/tst_*.exe; do tests+=("$(basename "$exe" .exe)"); done
fi
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
failed=()
start=$SECONDS
for name in "${tests[@]}"; do
  log="$logs/$name.txt"
  status=0
  (cd "$BUILD" && timeout 300 "$WINE" "$name.exe" -o "Z:${log//\//\\},txt" >/dev/null 2>&1) || status=$?
  echo "== $name: exit $status"
  [ -f "$log" ] && grep -aE '^(FAIL|XPASS|SKIP)|^   (Loc|Actual|Expected)|^Totals' "$log" || echo "   no log written"
  [ "$status" -eq 0 ] || failed+=("$name")
done
echo "== ${#tests[@]} programs in $((SECONDS - start)) s; failed: ${failed[*]:-none}"
[ ${#failed[@]} -eq 0 ]
