#!/usr/bin/env bash
# The window over a long start-up restore, under Wine and Xvfb:
#  - a self-contained update carrying 256 MiB that do not compress shows a
#    window captioned exactly "Ostrel Update" before the wizard ("Ostrel
#    Update 2002") appears: screenshots of it, its bar moving between the
#    first and a later one, then the wizard. Its restore took from half a
#    second to two and a half for 128 MiB under Wine, by disk and load; the
#    script prints the time from the work directory's creation to the
#    payload's last byte on disk;
#  - Esc in that window ends the program with exit status 4 and no wizard,
#    and the temporary directory holds nothing new afterwards;
#  - a small self-contained update shows no such window before its wizard.
# Screenshots go to $OUP_BUILD_WIN/e2e/.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN (the windows
# build), OUP_BUILD_HOST (the host build, for oupack), WINEPREFIX.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
name=40-restore-window
# shellcheck source=window-fixture.bash
source "$root/tests/e2e/window-fixture.bash"

work=$WINEPREFIX/drive_c/oup-e2e-restore
winwork='C:\oup-e2e-restore'
rm -rf "$work"
mkdir -p "$work/src"
cp "$root"/examples/ledger/package/* "$root/examples/ledger/languages/english.ln_" "$work/src/"
# The small update: the example package alone.
(cd "$work/src" && "$oupack" create -o ../small.oup -- * >/dev/null)
"$oupack" append "$exe" "$work/small.oup" -o "$work/small-update.exe" >/dev/null
# The large one: the same with 256 MiB of random bytes, which the packer
# stores as they are; under Wine its restore takes about a second on a fast
# disk and several on a slow one.
payload_size=$((256 * 1024 * 1024))
head -c $payload_size /dev/urandom >"$work/src/payload.bin"
(cd "$work/src" && "$oupack" create -o ../large.oup -- * >/dev/null)
"$oupack" append "$exe" "$work/large.oup" -o "$work/large-update.exe" >/dev/null
rm -f "$work/large.oup" "$work/src/payload.bin"
echo "large update: $(stat -c %s "$work/large-update.exe") bytes"

temp=$(winepath -u "$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')")
[[ -d $temp ]] || { echo "40-restore-window: no temporary directory ($temp)" >&2; exit 1; }

# --- helpers ---

start() {
    wine "$winwork\\$1" >"$out/wine-restore-$run.log" 2>&1 &
    pid=$!
    started=$EPOCHREALTIME
    restore_id= wizard_id= restore_at= wizard_at=
}

# A visible window whose caption is exactly $1; prints its id.
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true; }

seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }

# Polls every 0.1 s, for up to 120 s, until the program ends or the window
# named in $1 ("restore" or "wizard") shows. Sets restore_id and wizard_id
# (the first of each seen since start), restore_at and wizard_at (seconds
# after start).
watch_for() {
    local until=$1 r w
    for ((i = 0; i < 1200; i++)); do
        r=$(window 'Ostrel Update')
        w=$(window 'Ostrel Update 2002')
        if [[ -n $r && -z $restore_id ]]; then
            restore_id=$r
            restore_at=$(seconds_since "$started")
        fi
        if [[ -n $w && -z $wizard_id ]]; then
            wizard_id=$w
            wizard_at=$(seconds_since "$started")
        fi
        [[ $until == restore && -n $restore_id ]] && return 0
        [[ -n $wizard_id ]] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# In the background while the large update starts: the times its work
# directory (one that was not there before) appears and payload.bin in it is
# complete, into $1.
time_restore() {
    local old first= full= dir= d size
    old=$(compgen -G "$temp/oupdate-*" || true)
    while kill -0 "$pid" 2>/dev/null; do
        if [[ -z $dir ]]; then
            for d in "$temp"/oupdate-*; do
                [[ -d $d ]] && ! grep -qxF "$d" <<<"$old" && dir=$d && first=$EPOCHREALTIME
            done
        fi
        size=$(stat -c %s "${dir:-/nonexistent}/payload.bin" 2>/dev/null || true)
        if [[ $size == "$payload_size" ]]; then
            full=$EPOCHREALTIME
            break
        fi
        sleep 0.02
    done
    echo "${first:-} ${full:-}" >"$1"
}

# Closes a wizard that is still on screen, so that no run is left behind.
close_wizard() {
    local w
    w=$(window 'Ostrel Update 2002')
    [[ -n $w ]] && key "$w" Escape
    return 0
}


# --- the large update: the window, then the wizard ---
run=large
start large-update.exe
time_restore "$out/restore-times.txt" &
sampler=$!
if watch_for restore && [[ -z $wizard_id ]]; then
    pass "a window captioned exactly \"Ostrel Update\" shows before the wizard (${restore_at} s after start)"
    import -window root "$out/restore-window.png"
    import -window "$restore_id" "$out/restore-window-1.png" 2>/dev/null || true
    shot_at=$EPOCHREALTIME
    size=$(identify -format '%w x %h' "$out/restore-window-1.png" 2>/dev/null || true)
    [[ $size == '360 x 103' ]] && pass "restore window client area 360 x 103 at 96 dpi" ||
        fail "restore window client area ${size:-unknown}, want 360 x 103"
    # Further shots until one differs from the first: a fast disk restores
    # the payload in well under a second, so a single late shot may find the
    # bar already full.
    changed=
    for ((k = 2; k <= 10; k++)); do
        sleep 0.1
        import -window "$restore_id" "$out/restore-window-2.png" 2>/dev/null || break
        changed=$(compare -metric AE "$out/restore-window-1.png" "$out/restore-window-2.png" null: 2>&1 || true)
        [[ ${changed%% *} =~ ^[0-9]+$ ]] && ((${changed%% *} > 0)) && break
    done
    if [[ ${changed%% *} =~ ^[0-9]+$ ]] && ((${changed%% *} > 0)); then
        pass "the progress bar moves (${changed%% *} pixels changed in $(seconds_since "$shot_at") s)"
    else
        fail "the restore window did not change (compare: ${changed:-no second shot})"
    fi
    if watch_for wizard; then
        pass "the wizard follows the restore window (${wizard_at} s after start)"
        wait "$sampler" || true
        read -r first full <"$out/restore-times.txt" || true
        if [[ -n ${first:-} && -n ${full:-} ]]; then
            echo "restore of the large update: $(awk -v a="$first" -v b="$full" 'BEGIN { printf "%.2f", b - a }') s" \
                "(work directory made -> payload.bin complete; restore window seen ${restore_at} s" \
                "and wizard ${wizard_at} s after start)"
        fi
        # It goes right after the wizard is painted, which takes Wine a while.
        shown=$EPOCHREALTIME
        for ((i = 0; i < 100; i++)); do
            [[ -z $(window 'Ostrel Update') ]] && break
            sleep 0.1
        done
        [[ -z $(window 'Ostrel Update') ]] &&
            pass "the restore window goes once the wizard is on screen ($(seconds_since "$shown") s later)" ||
            fail "the restore window is still there 10 s after the wizard showed"
        key "$wizard_id" Escape
        wait_exit 60
        [[ $status == 4 ]] && pass "Esc closed the wizard (exit 4)" ||
            fail "Esc on the wizard: exit status $status, want 4"
    else
        fail "no wizard after the restore window"
        wait_exit 60
    fi
else
    fail "no restore window before the wizard for the large update (restore: ${restore_at:-none}, wizard: ${wizard_at:-none})"
    close_wizard
    wait_exit 60
fi
wait "$sampler" 2>/dev/null || true

# --- the large update again: Esc in the restore window ---
run=cancel
before=$(cd "$temp" && find . | sort)
start large-update.exe
if watch_for restore && [[ -z $wizard_id ]]; then
    key "$restore_id" Escape
    escaped=$EPOCHREALTIME
    wait_exit 60
    [[ $status == 4 ]] && pass "Esc in the restore window ends the program (exit 4, $(seconds_since "$escaped") s later)" ||
        fail "Esc in the restore window: exit status $status, want 4"
    [[ -z $wizard_id ]] && pass "no wizard after Esc in the restore window" ||
        fail "the wizard showed after Esc in the restore window"
    after=$(cd "$temp" && find . | sort)
    if [[ $before == "$after" ]]; then
        pass "the temporary directory holds nothing new ($(wc -l <<<"$after") entries before and after)"
    else
        fail "left in the temporary directory: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
    fi
else
    fail "no restore window to press Esc in"
    close_wizard
    wait_exit 60
fi

# --- the small update: the wizard and nothing before it ---
run=small
start small-update.exe
if watch_for wizard; then
    [[ -z $restore_id ]] && pass "the small update shows no window captioned exactly \"Ostrel Update\" (wizard ${wizard_at} s after start)" ||
        fail "the small update showed a restore window ${restore_at} s after start"
    key "$wizard_id" Escape
    wait_exit 60
    [[ $status == 4 ]] && pass "Esc closed the small update's wizard (exit 4)" ||
        fail "Esc on the small update's wizard: exit status $status, want 4"
else
    fail "no wizard for the small update"
    wait_exit 60
fi

echo "screenshots in $out"
echo "restore window: $passed passed, $failed failed"
((failed == 0))
