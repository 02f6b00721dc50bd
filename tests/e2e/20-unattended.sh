#!/usr/bin/env bash
# The whole job without a window (/S) under Wine, on two mapped drives M: and
# N: holding installations of the made-up "Abacus 2" (tests/e2e/abacus-fixture.bash):
#  - a package file, a self-contained .exe and a two-volume package, all built
#    by oupack: every file goes into every installation with the script's
#    dates, the log names what was found, installed and skipped, exit 0;
#  - abacus.exe held open by a running program (holdfile.exe, no sharing),
#    with /NORESTARTREPLACE: exit 1, its failure line, its old content
#    intact, nothing staged for a restart, the rest installed (without the
#    option the file waits for a restart: 25-restart-replace.sh);
#  - no installation under the /DIR roots: exit 3; no package: exit 2.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs of each run go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/unattended-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "20-unattended: missing $f (build both presets first)" >&2; exit 1; }
done

cleanup() {
    [[ -n ${holder:-} ]] && kill "$holder" 2>/dev/null
    fixture_end
    rm -rf "${cdir:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin

# Programs and packages on C:, which stays mapped.
cdir=$WINEPREFIX/drive_c/oup-e2e-unattended
win='C:\oup-e2e-unattended'
rm -rf "$cdir"
mkdir -p "$cdir/vol"
cp "$exe" "$cdir/oupdate.exe"
i686-w64-mingw32-gcc -O2 -s -o "$cdir/holdfile.exe" "$root/tests/e2e/holdfile.c"
src=$work/src
make_source "$src"
"$oupack" create -o "$cdir/abacus.oup" "$src"/* >/dev/null
"$oupack" append "$cdir/oupdate.exe" "$cdir/abacus.oup" -o "$cdir/abacus-update.exe" >/dev/null
"$oupack" create -o "$cdir/vol/abacus.oup" --volume-size 50000 "$src"/* >/dev/null
expect "oupack made a two-volume package" test -f "$cdir/vol/abacus.002" -a ! -f "$cdir/vol/abacus.003"

# updater NAME ARGS...: runs oupdate.exe (or another program on C:) to its
# end; sets status and log (the /LOG file of this run, as a Linux path).
updater() {
    local name=$1
    shift
    log=$cdir/$name.log
    rm -f "$log"
    status=0
    timeout 600 wine "$@" "/LOG=$win\\$name.log" >"$out/unattended-$name.wine.log" 2>&1 || status=$?
    [[ -f $log ]] && cp "$log" "$out/unattended-$name.log"
    return 0
}

expect_log() {
    local line
    for line in "$@"; do
        expect "$name: log line \"$line\"" log_has "$log" "$line"
    done
}

sysdll_win='C:\windows\system32\abacusrt.dll'

# --- a package file; every drive the drive list offers ---
make_installations
name=file
updater $name "$win\\oupdate.exe" "$win\\abacus.oup" /S
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect_log "Package $win\\abacus.oup" \
    "Searching M:" "Searching N:" \
    'Found M:\Apps\Abacus' 'Found N:\Abacus' \
    'Installed M:\Apps\Abacus\abacus.exe' 'Installed M:\Apps\Abacus\abacus.hlp' \
    'Installed M:\Apps\Abacus\data\tables.dat' 'Installed N:\Abacus\abacus.exe' \
    'Installed N:\Abacus\data\tables.dat' "Installed $sysdll_win" \
    'Skipped N:\Abacus\abacus.hlp: missing ("Update if present")' \
    "Skipped $sysdll_win: already installed into the Windows or system directory"
expect "$name: the hidden M:\\.old is no installation" log_lacks "$log" 'Found M:\.old'

# --- a self-contained update; options in lower case ---
make_installations
name=selfcontained
updater $name "$win\\abacus-update.exe" /s
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect_log "Package appended to $win\\abacus-update.exe" 'Found M:\Apps\Abacus' 'Found N:\Abacus'

# --- two volumes, the second found beside the first ---
make_installations
name=volumes
updater $name "$win\\oupdate.exe" /S "$win\\vol\\abacus.oup"
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect_log "Volume $win\\vol\\abacus.002"

# --- abacus.exe held open by a running program; /DIR roots; no staging ---
make_installations
rm -f "$cdir/held" "$cdir/release"
wine "$win\\holdfile.exe" 'M:\Apps\Abacus\abacus.exe' "$win\\held" "$win\\release" \
    >"$out/unattended-holdfile.wine.log" 2>&1 &
holder=$!
for _ in $(seq 600); do
    [[ -f $cdir/held ]] || ! kill -0 "$holder" 2>/dev/null && break
    sleep 0.1
done
name=held
if [[ -f $cdir/held ]]; then
    updater $name "$win\\oupdate.exe" "/DIR=M:\\Apps;N:\\" /S /NORESTARTREPLACE "$win\\abacus.oup"
    # Read while the holder keeps the wineserver (and so the list) alive.
    pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations 2>/dev/null | grep -c PendingFileRenameOperations || true)
    touch "$cdir/release"
    timeout 60 tail --pid="$holder" -f /dev/null || kill "$holder" 2>/dev/null
    holder=
    expect "$name: exit status $status, want 1" test "$status" = 1
    expect_log 'Could not update the file M:\Apps\Abacus\abacus.exe' \
        'Installed M:\Apps\Abacus\abacus.hlp' 'Installed N:\Abacus\abacus.exe' \
        "Searching M:\\Apps" "Searching N:"
    expect "$name: the held file keeps its old content" \
        grep -q 'old abacus.exe 2.0' "$work/drive_m/Apps/Abacus/abacus.exe"
    expect "$name: the other installation is updated" \
        cmp -s "$src/abacus.ex_" "$work/drive_n/Abacus/abacus.exe"
    expect "$name: no temporary file is left" no_temporary_files
    expect "$name: nothing is staged for a restart" \
        test ! -e "$work/drive_m/Apps/Abacus/abacus.exe.oupnew" -a "$pending" = 0
else
    fail "$name: holdfile.exe did not open the file"
fi

# --- nothing to find, and nothing to install from ---
name=none
updater $name "$win\\oupdate.exe" /S "$win\\abacus.oup" "/DIR=M:\\Docs"
expect "$name: exit status $status, want 3" test "$status" = 3
expect_log "No installation found"
name=nopackage
updater $name "$win\\oupdate.exe" /S
expect "$name: exit status $status, want 2" test "$status" = 2
expect_log "Error: No update package was given."

echo "logs in $out"
echo "unattended: $passed passed, $failed failed"
((failed == 0))
