#!/usr/bin/env bash
# Shows the updater on the bundled example: builds oupdate.exe and oupack,
# packs examples/ledger into a self-contained update, gives a Wine machine an
# old installation of Ledger 3 on drive D:, and starts the update there.
#
#   scripts/demo.sh [english|norsk]      (the package's language, default english)
#
# With $DISPLAY set the wizard opens on that display and the script waits for
# it to close. Without one it runs under Xvfb and saves a screenshot of the
# first page as build/demo/screenshot.png.
# OUP_BUILD_WIN / OUP_BUILD_TOOLS override the build directories (default
# build/windows and build/release).
set -euo pipefail

language=${1:-english}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
languages=$root/examples/ledger/languages
[ -f "$languages/$language.ln_" ] ||
  { echo "demo.sh: no language '$language' (have: $(cd "$languages" && ls | sed 's/\.ln_$//' | tr '\n' ' '))" >&2; exit 2; }

build_win=${OUP_BUILD_WIN:-$root/build/windows}
build_tools=${OUP_BUILD_TOOLS:-$root/build/release}
demo=$root/build/demo
export WINEPREFIX=$demo/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

say() { echo "demo.sh: $*"; }

"$root/scripts/setup.sh"

say "building oupdate.exe ($build_win) and oupack ($build_tools)"
cmake --preset windows -B "$build_win" >/dev/null
cmake --build "$build_win" -j2 --target oupdate
cmake --preset release -B "$build_tools" >/dev/null
cmake --build "$build_tools" -j2 --target oupack
oupdate_exe=$build_win/src/app/win32/oupdate.exe
oupack=$build_tools/tools/oupack/oupack

say "packing examples/ledger with the $language texts"
rm -rf "$demo/package" "$demo/drive-d"
mkdir -p "$demo/package"
cp "$root"/examples/ledger/package/* "$languages/$language.ln_" "$demo/package/"
# Names are stored as given: pack from inside the folder so they are bare.
(cd "$demo/package" && "$oupack" create -o "$demo/ledger.oup" --title "Ledger 3.2.0" *)
"$oupack" append "$oupdate_exe" "$demo/ledger.oup" -o "$demo/ledger-update.exe"
"$oupack" list "$demo/ledger-update.exe"

# A machine with Ledger 3 installed on D:, and no Z: drive, which would
# offer the whole Linux file system to the search.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine machine in $WINEPREFIX (about half a minute)"
  rm -rf "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
fi
trap 'wineserver -k 2>/dev/null || true' EXIT
mkdir -p "$demo/drive-d/Program Files/Ledger"
printf 'Ledger 3.1 (old)\r\n' >"$demo/drive-d/Program Files/Ledger/ledger.exe"
touch -d '2004-06-01 12:00' "$demo/drive-d/Program Files/Ledger/ledger.exe"
ln -sfn "$demo/drive-d" "$WINEPREFIX/dosdevices/d:"
rm -f "$WINEPREFIX/dosdevices/z:"
mkdir -p "$WINEPREFIX/drive_c/demo"
cp "$demo/ledger-update.exe" "$WINEPREFIX/drive_c/demo/"
program='C:\demo\ledger-update.exe'

if [ -n "${DISPLAY:-}" ]; then
  say "starting $program on $DISPLAY; close the wizard to end the demo"
  wine "$program" || true
  say "installation afterwards:"
  ls -l "$demo/drive-d/Program Files/Ledger"
  exit 0
fi

say "no display: starting $program under Xvfb for a screenshot"
shot=$demo/screenshot.png
rm -f "$shot"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wine "$1" >/dev/null 2>&1 &
  # The first page is up once Wine shows a window of the program.
  for _ in $(seq 120); do
    xdotool search --onlyvisible --class "ledger-update" >/dev/null 2>&1 && break
    sleep 0.5
  done
  sleep 2
  import -window root "$2"
  wineserver -k
' demo "$program" "$shot"
if [ -f "$shot" ]; then
  say "screenshot: $shot"
else
  say "no screenshot was taken" >&2
  exit 1
fi
