#!/usr/bin/env bash
# The search under Wine, unattended (/S), on the fixture's drives M: and N:
# (tests/e2e/abacus-fixture.bash):
#  - M: also holds a tree of 11,110 directories: the installations around it
#    are found and updated, and the run is timed against a run over an empty
#    folder (Wine's start-up and the extraction, which both runs share); the
#    difference gives directories per second (information, not a check);
#  - an installation under N:\Программы (Cyrillic, outside Windows-1252, the
#    ANSI code page that LC_ALL=C.UTF-8 gives Wine) is found by its short
#    name and updated.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs of each run go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/search-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"
export LC_ALL=C.UTF-8

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "40-search: missing $f (build both presets first)" >&2; exit 1; }
done

cleanup() {
    fixture_end
    rm -rf "${cdir:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin

fixture_c_dir oup-e2e-search
mkdir -p "$cdir/empty"

log_lacks_text() { ! tr -d '\r' <"$1" | grep -qF -- "$2"; }

# run NAME ARGS...: oupdate.exe with the package, /S and a log; sets status,
# log (a Linux path) and seconds.
run() {
    local name=$1 start end
    shift
    log=$cdir/$name.log
    rm -f "$log"
    status=0
    start=$(date +%s.%N)
    timeout 600 wine "$win\\oupdate.exe" "$win\\abacus.oup" /S "/LOG=$win\\$name.log" "$@" \
        >"$out/search-$name.wine.log" 2>&1 || status=$?
    end=$(date +%s.%N)
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    [[ -f $log ]] && cp "$log" "$out/search-$name.log"
    return 0
}

make_installations
mkdir -p "$work/drive_m/tree"
(cd "$work/drive_m/tree" && mkdir -p {0..9}/{0..9}/{0..9}/{0..9})
dirs=$(find "$work/drive_m" "$work/drive_n" -type d | wc -l)
cyrillic=$work/drive_n/Программы/Abacus
mkdir -p "$cyrillic"
printf 'old abacus.exe 1.9\r\n' >"$cyrillic/abacus.exe"
touch -d '2001-01-01 10:00:00' "$cyrillic/abacus.exe"

# Wine's start-up and the extraction, with next to nothing to search.
run empty "/DIR=$win\\empty"
expect "empty: exit status $status, want 3 (no installation)" test "$status" = 3
base=$seconds

run tree '/DIR=M:\;N:\'
expect "tree: exit status $status, want 0" test "$status" = 0
expect "tree: M:\\Apps\\Abacus found" log_has "$log" 'Found M:\Apps\Abacus'
expect "tree: N:\\Abacus found" log_has "$log" 'Found N:\Abacus'
expect "tree: M:\\Apps\\Abacus\\abacus.exe updated" \
    cmp -s "$src/abacus.ex_" "$work/drive_m/Apps/Abacus/abacus.exe"
# Found by a short name of plain ASCII, then updated through it.
short=$(tr -d '\r' <"$log" | sed -n 's/^Found \(N:\\[^\\]*\)\\Abacus$/\1/p')
echo "the Cyrillic folder was found as: ${short:-nothing}"
expect "tree: the installation under N:\\Программы found by its short name" \
    test -n "$short" -a "${short//[^ -~]/}" = "$short"
expect "tree: N:\\Программы\\Abacus\\abacus.exe updated" cmp -s "$src/abacus.ex_" "$cyrillic/abacus.exe"
expect "tree: no folder passed over" log_lacks_text "$log" ': name not representable'

echo "search timing (information): $dirs directories; /S run ${seconds} s, empty run ${base} s;" \
    "$(awk -v n="$dirs" -v a="$seconds" -v b="$base" 'BEGIN { printf "%.0f", n / (a - b + 0.001) }')" \
    "directories per second"

echo "40-search: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
