#!/usr/bin/env bash
# /PREVIEW /S under Wine on the installations of the made-up "Abacus 2" on
# M: and N: (tests/e2e/abacus-fixture.bash), with an older copy of its dll
# already in the system directory:
#  - every (installation, entry) pair has its decision line, in the log and
#    on standard output, and the exit status is 0;
#  - no file of either installation nor the system directory's dll changes
#    (content, size, last-write time, mode), no directory appears, and
#    nothing new is left on C: but the log;
#  - a package whose TargetName is not a plain file name: "Would fail" and
#    exit status 1, again with nothing changed;
#  - the same package without /PREVIEW: the run does what the preview said.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs of each run go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/preview-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "22-preview: missing $f (build both presets first)" >&2; exit 1; }
done

cleanup() {
    fixture_end
    rm -rf "${cdir:-/nonexistent}" "${marker:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin

fixture_c_dir oup-e2e-preview

# preview NAME ARGS...: runs the updater to its end with /LOG; sets status,
# log (the log as a Linux path) and stdout (what it wrote there).
preview() {
    local name=$1
    shift
    log=$cdir/$name.log
    stdout=$out/preview-$name.stdout
    rm -f "$log"
    status=0
    timeout 600 wine "$win\\oupdate.exe" "$@" "/LOG=$win\\$name.log" \
        >"$stdout" 2>"$out/preview-$name.wine.log" || status=$?
    [[ -f $log ]] && cp "$log" "$out/preview-$name.log"
    return 0
}

# Everything a run could change: each file and directory of both drives and
# the system directory's dll, with size, last-write time (to the nanosecond),
# mode and content; and the directories beside that dll.
state() {
    (cd "$work" && find drive_m drive_n -printf '%y %p %s %T@ %m\n' | sort)
    (cd "$work" && find drive_m drive_n -type f -exec md5sum {} + | sort)
    stat -c '%n %s %.9Y %a' "$sysdll"
    md5sum "$sysdll"
    find "$(dirname "$sysdll")" -maxdepth 1 -type d | sort
}

# The decision lines, in order: from the log, and from standard output.
decisions() { tr -d '\r' <"$1" | grep -E '^Would (install|skip|fail) ' || true; }

make_installations
printf 'old runtime\r\n' >"$sysdll"  # a real run would replace it
touch -d '2001-01-01 10:00:00' "$sysdll"
sysdll_win='C:\windows\system32\abacusrt.dll'

# --- the package as it is: four entries into two installations ---
before=$(state)
marker=$(mktemp)
preview preview /PREVIEW /S "$win\\abacus.oup"
after=$(state)
expect "preview: exit status $status, want 0" test "$status" = 0
want=$(printf '%s\n' \
    'Would install M:\Apps\Abacus\abacus.exe' \
    'Would install M:\Apps\Abacus\abacus.hlp' \
    'Would install M:\Apps\Abacus\data\tables.dat' \
    "Would install $sysdll_win" \
    'Would install N:\Abacus\abacus.exe' \
    'Would skip N:\Abacus\abacus.hlp: missing ("Update if present")' \
    'Would install N:\Abacus\data\tables.dat' \
    "Would skip $sysdll_win: already installed into the Windows or system directory")
expect "preview: one decision per pair (2 installations x 4 entries), in the log" \
    test "$want" = "$(decisions "$log")"
expect "preview: the same lines on standard output" test "$want" = "$(decisions "$stdout")"
expect "preview: the log ends with the count" \
    log_has "$log" "Preview finished: 6 would be installed, 0 would fail"
expect "preview: no file or directory of the installations or the system directory changed" \
    test "$before" = "$after"
expect "preview: no data directory was made" test ! -e "$work/drive_m/Apps/Abacus/data"
# Wine keeps its registry outside drive_c, but refreshes its driver setup
# cache (windows/inf/*.pnf) when a fresh prefix first starts its services.
new_on_c=$(cd "$WINEPREFIX/drive_c" && find . -newer "$marker" ! -type d \
    ! -path "./oup-e2e-preview/preview.log" ! -path './windows/inf/*.pnf' | sort)
expect "preview: nothing new on C: but the log${new_on_c:+ (found: $new_on_c)}" test -z "$new_on_c"
[[ $before == "$after" ]] || diff <(echo "$before") <(echo "$after") || true

# --- a TargetName that is no plain file name ---
bad=$work/badtarget
mkdir -p "$bad"
cp "$src"/* "$bad/"
{
    abacus_script
    printf '\r\n'
    printf '%s\r\n' "abacus.hl_" '..\abacus.hlp' "Always copy" "01.01.2004" '<installdir>\' |
        head -c -2
} >"$bad/oupdate.inf"
stored_package "$cdir/badtarget.oup" "$bad"/*
before=$(state)
preview badtarget /S /PREVIEW "$win\\badtarget.oup" "/DIR=N:\\"
expect "badtarget: exit status $status, want 1" test "$status" = 1
expect "badtarget: the pair says why it would fail" log_has "$log" \
    'Would fail N:\Abacus\..\abacus.hlp: "..\abacus.hlp" is not a plain file name'
expect "badtarget: the other pairs are listed too" test "$(decisions "$log" | wc -l)" = 5
expect "badtarget: nothing changed" test "$before" = "$(state)"

# --- the real run does what the preview said ---
preview update /S "$win\\abacus.oup"
expect "update: exit status $status, want 0" test "$status" = 0
installed_everywhere update
done_lines=$(tr -d '\r' <"$log" | grep -E '^(Installed|Skipped) ' | sed -E 's/^Installed /Would install /; s/^Skipped /Would skip /')
expect "update: every pair went the way the preview said" test "$want" = "$done_lines"

echo "logs in $out"
echo "preview: $passed passed, $failed failed"
((failed == 0))
