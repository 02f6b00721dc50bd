#!/usr/bin/env bash
# The wizard's real window under Wine and Xvfb:
#  - oupdate.exe started with a package built by oupack shows page 1; Enter
#    goes to page 2; each page is saved as a screenshot and checked for the
#    window's client size (527 x 297 at 96 dpi) and its background colour;
#    Esc closes the wizard (exit status 4: closed before the update ran);
#  - started with no package, the open dialog appears, and Esc in it ends
#    the program (exit status 4) without a wizard window;
#  - a damaged package gives an error message box and no wizard (exit 2);
#  - an unknown option gives a message box with the usage and no wizard (exit 2).
# Screenshots go to $OUP_BUILD_WIN/e2e/.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN (the windows
# build), OUP_BUILD_HOST (the host build, for oupack), WINEPREFIX.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
name=10-wizard
# shellcheck source=window-fixture.bash
source "$root/tests/e2e/window-fixture.bash"

# The files live on Wine's C: drive, so no test depends on the Z: mapping.
work=$WINEPREFIX/drive_c/oup-e2e-wizard
winwork='C:\oup-e2e-wizard'
rm -rf "$work"
mkdir -p "$work"
cp "$exe" "$work/oupdate.exe"
"$oupack" create -o "$work/ledger.oup" \
    "$root"/examples/ledger/package/* "$root/examples/ledger/languages/english.ln_" >/dev/null

# A damaged copy: one byte flipped inside the last compressed block, which
# its zlib check cannot miss.
cp "$work/ledger.oup" "$work/broken.oup"
last=$(LC_ALL=C grep -obUaP '\x78\x9c' "$work/broken.oup" | tail -1 | cut -d: -f1)
at=$((last + 6))
byte=$(od -An -tu1 -j "$at" -N1 "$work/broken.oup" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 0xFF)))" |
    dd of="$work/broken.oup" bs=1 seek="$at" conv=notrunc status=none

# --- helpers ---

# Starts oupdate.exe with the given arguments in the background; sets pid.
start() {
    wine "$winwork\\oupdate.exe" "$@" >"$out/wine-$run.log" 2>&1 &
    pid=$!
}

# Waits up to $2 seconds for a visible window whose name matches $1; prints its id.
wait_window() {
    local pattern=$1 seconds=$2 id
    for ((i = 0; i < seconds * 2; i++)); do
        id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1 || true)
        if [[ -n $id ]]; then
            echo "$id"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.5
    done
    return 1
}

# Bounding box "W H X Y" of the pixels of exactly one colour.
colour_box() {
    convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" -trim \
        -format '%w %h %X %Y' info: 2>/dev/null | tr -d '+'
}

pixel() {
    convert "$1" -crop "1x1+$2+$3" txt: | tail -1 | grep -o '#[0-9A-F]\{6\}' | head -1
}

# The wizard's client area on a screenshot: the header band (#223260) spans
# its width at its top; the form's background (#3D66AB) reaches its right
# and bottom edges. Checks 527 x 297 and the background at (174, 150), the
# strip between the instructions band and the content area.
check_form() {
    local shot=$1 what=$2 pw ph px py bw bh bx by
    read -r pw ph px py <<<"$(colour_box "$shot" '#223260')"
    read -r bw bh bx by <<<"$(colour_box "$shot" '#3D66AB')"
    if [[ -z ${pw:-} || -z ${bw:-} ]]; then
        fail "$what: the wizard's colours are not on the screen"
        return
    fi
    local width=$pw height=$((by + bh - py)) right=$((bx + bw - px))
    if [[ $width == 527 && $right == 527 && $height == 297 ]]; then
        pass "$what: client area 527 x 297"
    else
        fail "$what: client area ${width} x ${height} (background reaches $right), want 527 x 297"
    fi
    local colour
    colour=$(pixel "$shot" $((px + 174)) $((py + 150)))
    if [[ $colour == '#3D66AB' ]]; then
        pass "$what: background #3D66AB"
    else
        fail "$what: background $colour, want #3D66AB"
    fi
}

# --- the wizard, pages 1 and 2 ---
run=wizard
start "$winwork\\ledger.oup"
if wizard=$(wait_window '^Ostrel Update 2002$' 120); then
    sleep 1
    import -window root "$out/wizard-page1.png"
    check_form "$out/wizard-page1.png" "page 1"
    key "$wizard" Return
    sleep 2
    import -window root "$out/wizard-page2.png"
    check_form "$out/wizard-page2.png" "page 2"
    changed=$(compare -metric AE "$out/wizard-page1.png" "$out/wizard-page2.png" null: 2>&1 || true)
    if [[ ${changed%% *} =~ ^[0-9]+$ ]] && ((${changed%% *} > 1000)); then
        pass "Enter moved the wizard on (${changed%% *} pixels changed)"
    else
        fail "Enter did not change the page (compare: $changed)"
    fi
    key "$wizard" Escape
    wait_exit
    [[ $status == 4 ]] && pass "Esc closed the wizard (exit 4)" ||
        fail "Esc on page 2: exit status $status, want 4"
else
    fail "no wizard window for a sound package"
    wait_exit
fi

# --- no package: the open dialog, cancelled ---
run=dialog
start
if dialog=$(wait_window '^Ostrel Update$' 120); then
    sleep 1
    import -window root "$out/open-dialog.png"
    if xdotool search --onlyvisible --name '^Ostrel Update 2002$' >/dev/null 2>&1; then
        fail "the wizard window is shown behind the open dialog"
    else
        pass "the open dialog comes before any wizard window"
    fi
    key "$dialog" Escape
    wait_exit
    [[ $status == 4 ]] && pass "Esc in the open dialog ends the program (exit 4)" ||
        fail "Esc in the open dialog: exit status $status, want 4"
else
    fail "no open dialog without a package"
    wait_exit
fi

# --- a damaged package: one error, no wizard ---
run=broken
start "$winwork\\broken.oup"
if box=$(wait_window '^Ostrel Update$' 120); then
    sleep 1
    import -window root "$out/broken-package.png"
    pass "a damaged package gives a message box"
    if xdotool search --onlyvisible --name '^Ostrel Update 2002$' >/dev/null 2>&1; then
        fail "the wizard window is shown for a damaged package"
    fi
    key "$box" Return
    wait_exit
    [[ $status == 2 ]] && pass "the damaged package ends the program (exit 2)" ||
        fail "damaged package: exit status $status, want 2"
    if xdotool search --onlyvisible --name '^Ostrel Update' >/dev/null 2>&1; then
        fail "a window is left after the error"
    fi
else
    fail "no error message for a damaged package"
    wait_exit
fi

# --- a usage error: the usage in a message box, no wizard ---
run=usage
start "$winwork\\ledger.oup" /FOO
if box=$(wait_window '^Ostrel Update$' 120); then
    import -window root "$out/usage-error.png"
    pass "an unknown option gives a message box"
    if xdotool search --onlyvisible --name '^Ostrel Update 2002$' >/dev/null 2>&1; then
        fail "the wizard window is shown for an unknown option"
    fi
    key "$box" Return
    wait_exit
    [[ $status == 2 ]] && pass "the unknown option ends the program (exit 2)" ||
        fail "unknown option: exit status $status, want 2"
else
    fail "no message box for an unknown option"
    wait_exit
fi

echo "screenshots in $out"
echo "wizard: $passed passed, $failed failed"
((failed == 0))
