#!/usr/bin/env bash
# The whole job through the wizard's window under Wine and Xvfb, driven with
# keys as a user would: Enter (page 1 -> 2), Enter (Start: the search, page 3),
# Enter (Update: page 4 runs the update, page 5), Esc (Close). The same
# installations as 20-unattended.sh on the mapped drives M: and N: must end
# up with every file and the script's dates, the /LOG file must tell the
# same story, and the exit status must be 0. Before that the same steps with
# /PREVIEW: the log lists the decisions, the exit status is 0 and no file
# changes. Screenshots of pages 1, 2, 3 and 5 of both go to
# $OUP_BUILD_WIN/e2e/.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
if [[ -z ${OUP_E2E_DISPLAY:-} ]]; then
    exec env OUP_E2E_DISPLAY=1 timeout 900 \
        xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$0" "$@"
fi

: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/wizard-update-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "30-wizard-update: missing $f (build both presets first)" >&2; exit 1; }
done

cleanup() {
    [[ -n ${pid:-} ]] && kill "$pid" 2>/dev/null
    fixture_end
    rm -rf "${cdir:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin

fixture_c_dir oup-e2e-wizard-update
make_installations

shot() {
    sleep 1  # let the page finish painting
    import -window root "$out/$name-page$1.png"
    expect "$name: screenshot of page $1" test -s "$out/$name-page$1.png"
}

# wizard NAME FINISHED [OPTION...]: the wizard through its pages until the
# log line FINISHED, then closed; sets status and log. Screenshots and logs
# are named after NAME.
wizard() {
    name=$1
    local finished=$2
    shift 2
    log=$cdir/$name.log
    rm -f "$log"
    wine "$win\\oupdate.exe" "$win\\abacus.oup" "$@" "/LOG=$win\\$name.log" \
        >"$out/$name.wine.log" 2>&1 &
    pid=$!
    if wait_for 180 window_shown; then
        shot 1
        key Return
        shot 2
        key Return  # Start
        if wait_for 300 logged "Search finished: 2 installation(s) found"; then
            shot 3
            key Return  # Update
            if wait_for 300 logged "$finished"; then
                shot 5
            else
                fail "$name: the update did not finish (see $log)"
            fi
        else
            fail "$name: the search did not finish with two installations (see $log)"
        fi
        key Escape
        wait_for 60 false || true  # until the program has ended
    fi
    if kill -0 "$pid" 2>/dev/null; then
        fail "$name: the wizard did not end"
        kill "$pid" 2>/dev/null || true
    fi
    status=0
    wait "$pid" || status=$?
    pid=
    [[ -f $log ]] && cp "$log" "$out/$name.log"
    return 0
}

# The installations' files and directories, with content and dates, and the
# system directory's dll, which is not there before the update.
state() {
    (cd "$work" && find drive_m drive_n -printf '%y %p %s %T@\n' -type f -exec md5sum {} + | sort)
    ls "$sysdll" 2>/dev/null || true
}

before=$(state)
wizard wizard-preview "Preview finished: 6 would be installed, 0 would fail" /PREVIEW
expect "$name: exit status $status, want 0" test "$status" = 0
expect "$name: no file of the installations changed" test "$before" = "$(state)"
for line in 'Would install N:\Abacus\abacus.exe' \
    'Would skip N:\Abacus\abacus.hlp: missing ("Update if present")'; do
    expect "$name: log line \"$line\"" log_has "$log" "$line"
done

wizard wizard-update "Update finished: 6 installed, 0 failed"

expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
for line in 'Found M:\Apps\Abacus' 'Found N:\Abacus' 'Installed N:\Abacus\abacus.exe' \
    'Skipped N:\Abacus\abacus.hlp: missing ("Update if present")'; do
    expect "$name: log line \"$line\"" log_has "$log" "$line"
done

echo "screenshots in $out"
echo "wizard update: $passed passed, $failed failed"
((failed == 0))
