#!/usr/bin/env bash
# Shows the updater doing its whole job on the bundled example: builds
# oupdate.exe and oupack, packs examples/ledger into a self-contained update,
# gives a Wine machine two old installations of Ledger 3 (on drives D: and E:,
# folders under build/demo), runs the update, and lists the files of both
# installations and of the Windows directories before and after, with dates.
#
#   scripts/demo.sh [english|norsk]      (the package's language, default english)
#
# With $DISPLAY set the wizard opens there and the script waits for it to
# close: Next, Start, Update, Close. Without a display the update runs
# unattended (/S). Either way it writes a log, which is shown.
# OUP_BUILD_WIN / OUP_BUILD_TOOLS override the build directories (default
# build/windows and build/release); OUP_SKIP_SETUP=1 skips scripts/setup.sh.
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

[ "${OUP_SKIP_SETUP:-0}" = 1 ] || "$root/scripts/setup.sh"

say "building oupdate.exe ($build_win) and oupack ($build_tools)"
cmake --preset windows -B "$build_win" >/dev/null
cmake --build "$build_win" -j2 --target oupdate
cmake --preset release -B "$build_tools" >/dev/null
cmake --build "$build_tools" -j2 --target oupack
oupdate_exe=$build_win/src/app/win32/oupdate.exe
oupack=$build_tools/tools/oupack/oupack

say "packing examples/ledger with the $language texts"
rm -rf "$demo/package"
mkdir -p "$demo/package"
cp "$root"/examples/ledger/package/* "$languages/$language.ln_" "$demo/package/"
# Names are stored as given: pack from inside the folder so they are bare.
(cd "$demo/package" && "$oupack" create -o "$demo/ledger.oup" --title "Ledger 3.2.0" *)
"$oupack" append "$oupdate_exe" "$demo/ledger.oup" -o "$demo/ledger-update.exe"
"$oupack" list "$demo/ledger-update.exe"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine machine in $WINEPREFIX (about half a minute)"
  rm -rf "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
fi
trap 'wineserver -k 2>/dev/null || true' EXIT

# Two installations of Ledger 3.1, each a little different, and no Z:
# drive, which would offer the whole Linux file system to the search.
rm -rf "$demo/drive-d" "$demo/drive-e"
d_dir=$demo/drive-d/Program\ Files/Ledger
e_dir=$demo/drive-e/Apps/Ledger
mkdir -p "$d_dir" "$e_dir"
printf 'Ledger 3.1 (old)\r\n' >"$d_dir/ledger.exe"
printf 'Ledger 3.1 help (old)\r\n' >"$d_dir/ledger.hlp"
printf 'Ledger 3.0 (old)\r\n' >"$e_dir/ledger.exe"
touch -d '2004-06-01 12:00' "$d_dir"/* "$e_dir"/*
ln -sfn "$demo/drive-d" "$WINEPREFIX/dosdevices/d:"
ln -sfn "$demo/drive-e" "$WINEPREFIX/dosdevices/e:"
rm -f "$WINEPREFIX/dosdevices/z:"
windows=$WINEPREFIX/drive_c/windows
system32=$windows/system32
[ -d "$windows/syswow64" ] && system32=$windows/syswow64  # where 32-bit programs' system32 lies
rm -f "$system32/ledgerrt.dll" "$windows/Fonts/nordvik.fon"
mkdir -p "$WINEPREFIX/drive_c/demo"
cp "$demo/ledger-update.exe" "$WINEPREFIX/drive_c/demo/"
program='C:\demo\ledger-update.exe'

# Every file the update may touch: both installations, and the two files
# that go into the Windows directories.
listing() {
  local dir
  for dir in "$d_dir" "$e_dir"; do
    find "$dir" -type f -printf "%TY-%Tm-%Td %TH:%TM:%.2TS %8s  $dir/%P\n" | sort -k4
  done
  for f in "$system32/ledgerrt.dll" "$windows/Fonts/nordvik.fon"; do
    if [ -f "$f" ]; then
      find "$f" -printf "%TY-%Tm-%Td %TH:%TM:%.2TS %8s  %p\n"
    else
      printf '%-19s %8s  %s\n' "(missing)" "" "$f"
    fi
  done | sed "s|$WINEPREFIX/drive_c|C:|"
}
show() { sed "s|$demo/drive-d|D:|; s|$demo/drive-e|E:|; s|/|\\\\|g"; }

rm -f "$WINEPREFIX/drive_c/demo/update.log"
before=$(listing)
status=0
if [ -n "${DISPLAY:-}" ]; then
  say "starting $program on $DISPLAY: Next, Start, Update, then Close ends the demo"
  wine "$program" '/LOG=C:\demo\update.log' || status=$?
else
  say "no display: running $program /S with a log"
  wine "$program" /S '/LOG=C:\demo\update.log' || status=$?
fi
after=$(listing)

# Wine hands a Linux parent only the low 8 bits of a status: 194 is 3010.
[ "$status" = 194 ] && status=3010
say "exit status $status (0: every file due was installed, 3010: done once Windows restarts, 1: some failed, 2: no usable package, 3: no installation found, 4: closed before the update)"
if [ -f "$WINEPREFIX/drive_c/demo/update.log" ]; then
  say "the log (C:\\demo\\update.log):"
  tr -d '\r' <"$WINEPREFIX/drive_c/demo/update.log" | sed 's/^/    /'
fi
say "before the update:"
show <<<"$before" | sed 's/^/    /'
say "after the update (* changed):"
while IFS= read -r line; do
  if grep -qxF -- "$line" <<<"$before"; then echo "      $line"; else echo "    * $line"; fi
done <<<"$after" | show
