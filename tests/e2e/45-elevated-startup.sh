#!/usr/bin/env bash
# What a standard user can put in the way of an elevated start, under Wine
# with the "Abacus 2" installations of tests/e2e/abacus-fixture.bash:
#  - DLL planting: a self-contained update in C:\users\Public\Downloads with
#    an mpr.dll and a winmm.dll beside it (tests/e2e/planted-dll.c, each
#    leaving a marker file when loaded), and WINEDLLOVERRIDES asking Wine to
#    take both from beside the program first: no marker after a /S run and
#    after a run through the wizard, and both install every file. (Wine's
#    own user32 loads version.dll and uxtheme.dll from the program's folder
#    before any of the program's code runs: a Wine artefact, left out.)
#  - the program's file swapped: the update is started suspended
#    (tests/e2e/swaplaunch.c), its file renamed away and a copy put at its
#    path with the same headers, other code and another package (one that
#    would install evil-planted.dll), then let run. It refuses with status 2
#    and names its file; the other package is never installed. (Wine's name
#    for the mapped file does not follow the rename, so here the code
#    comparison is what catches the swap.)
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs and screenshots go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
if [[ -z ${OUP_E2E_DISPLAY:-} ]]; then
    exec env OUP_E2E_DISPLAY=1 timeout 900 \
        xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$0" "$@"
fi

: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/elevated-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "45-elevated-startup: missing $f (build both presets first)" >&2; exit 1; }
done

downloads=$WINEPREFIX/drive_c/users/Public/Downloads
dl_win='C:\users\Public\Downloads'
update=$downloads/abacus-update.exe
pid=
cleanup() {
    [[ -n $pid ]] && kill "$pid" 2>/dev/null
    fixture_end
    rm -rf "${cdir:-/nonexistent}"
    rm -f "$downloads"/abacus-update.* "$downloads"/mpr.dll* "$downloads"/winmm.dll* \
        "$downloads"/*.log
}
trap cleanup EXIT
fixture_begin

fixture_c_dir oup-e2e-elevated
mkdir -p "$downloads"
i686-w64-mingw32-gcc -O2 -s -shared -o "$cdir/planted.dll" "$root/tests/e2e/planted-dll.c"
i686-w64-mingw32-gcc -O2 -s -municode -o "$cdir/swaplaunch.exe" "$root/tests/e2e/swaplaunch.c"
"$oupack" append "$cdir/oupdate.exe" "$cdir/abacus.oup" -o "$update" >/dev/null
cp "$cdir/planted.dll" "$downloads/mpr.dll"
cp "$cdir/planted.dll" "$downloads/winmm.dll"
export WINEDLLOVERRIDES="mscoree,mshtml=;mpr,winmm=n,b"

no_marker() {
    local m
    m=$(ls "$downloads"/*.ran 2>/dev/null || true)
    [[ -z $m ]] || { echo "  ran: $m"; return 1; }
}

# --- a planted DLL never runs: /S ---
make_installations
rm -f "$downloads"/*.ran
name=planted-s
log=$downloads/$name.log
status=0
timeout 300 wine "$dl_win\\abacus-update.exe" /S "/LOG=$dl_win\\$name.log" \
    >"$out/elevated-$name.wine.log" 2>&1 || status=$?
[[ -f $log ]] && cp "$log" "$out/elevated-$name.log"
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect "$name: neither mpr.dll nor winmm.dll was loaded from beside the program" no_marker

# --- a planted DLL never runs: the wizard, Enter, Enter (Start), Enter (Update), Esc ---
make_installations
rm -f "$downloads"/*.ran
name=planted-wizard
log=$downloads/$name.log
wine "$dl_win\\abacus-update.exe" "/LOG=$dl_win\\$name.log" >"$out/elevated-$name.wine.log" 2>&1 &
pid=$!
if wait_for 180 window_shown; then
    key Return
    key Return  # Start
    if wait_for 300 logged "Search finished: 2 installation(s) found"; then
        import -window root "$out/elevated-$name-page3.png"
        key Return  # Update
        wait_for 300 logged "Update finished: 6 installed, 0 failed" ||
            fail "$name: the update did not finish (see $log)"
    else
        fail "$name: the search did not finish with two installations (see $log)"
    fi
    key Escape
    wait_for 60 false || true  # until the program has ended
else
    fail "$name: the wizard did not show"
fi
kill -0 "$pid" 2>/dev/null && { fail "$name: the wizard did not end"; kill "$pid"; }
status=0
wait "$pid" || status=$?
pid=
[[ -f $log ]] && cp "$log" "$out/elevated-$name.log"
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect "$name: neither mpr.dll nor winmm.dll was loaded from beside the program" no_marker

# --- the program's file swapped after the loader mapped it ---
rm -f "$downloads"/mpr.dll "$downloads"/winmm.dll  # this case on its own
export WINEDLLOVERRIDES="mscoree,mshtml="
# The same headers, other code (a stretch of .text filled with int 3), and a
# package that would install evil-planted.dll into every installation.
read -r text_size text_at < <(i686-w64-mingw32-objdump -h "$cdir/oupdate.exe" |
    awk '$2 == ".text" { print "0x" $3, "0x" $6 }')
cp "$cdir/oupdate.exe" "$cdir/other-code.exe"
head -c 4096 /dev/zero | tr '\0' '\314' |
    dd of="$cdir/other-code.exe" bs=1 seek=$((text_at + text_size / 2)) conv=notrunc status=none
cp -r "$src" "$work/evil"
printf 'evil\r\n' >"$work/evil/abacus.ex_"
printf 'evil dll\r\n' >"$work/evil/evil-planted.dll"
printf '\r\n%s' "evil-planted.dll" "evil-planted.dll" "Always copy" "01.06.2004 00:00:00" \
    '<installdir>\' >>"$work/evil/oupdate.inf"
"$oupack" create --force -o "$cdir/evil.oup" "$work/evil"/* >/dev/null 2>&1
"$oupack" append "$cdir/other-code.exe" "$cdir/evil.oup" -o "$cdir/other.exe" >/dev/null
make_installations
before=$(cd "$work" && find drive_m drive_n -type f -exec md5sum {} + | sort)
name=swapped
log=$cdir/$name.log
status=0
timeout 300 wine "$win\\swaplaunch.exe" "$dl_win\\abacus-update.exe" "$dl_win\\abacus-update.moved" \
    "$win\\other.exe" "/S /LOG=$win\\$name.log" >"$out/elevated-$name.wine.log" 2>&1 || status=$?
[[ -f $log ]] && cp "$log" "$out/elevated-$name.log"
expect "$name: the file was swapped while the program was held" \
    grep -q '^swapped' "$out/elevated-$name.wine.log"
expect "$name: exit status $status, want 2" test "$status" = 2
expect "$name: the log says the file is not the one that runs" \
    grep -qF "abacus-update.exe\" is not the file this program runs from: its code is not the code that runs." "$log"
expect "$name: the other package is never installed" \
    test -z "$(find "$work/drive_m" "$work/drive_n" "$(system32_dir)" -iname 'evil-planted.dll')"
expect "$name: no file of the installations changed" \
    test "$before" = "$(cd "$work" && find drive_m drive_n -type f -exec md5sum {} + | sort)"

echo "logs in $out"
echo "elevated start-up: $passed passed, $failed failed"
((failed == 0))
