# Shared by the end-to-end scripts that drive oupdate.exe's windows under
# Wine and Xvfb (sourced, not run: test.sh runs only *.sh). The sourcing
# script sets `root` and `name` (for messages) and sources this file first
# thing; it re-runs the script on a display of its own (1024x768, 24 bits,
# 96 dpi) and provides exe, oupack, out, pass/fail counting, a clean-up trap
# that ends Wine's processes and removes `work`, and the helpers below.

: "${OUP_BUILD_WIN:=$root/build/windows}"
: "${OUP_BUILD_HOST:=$root/build/host}"
: "${WINEPREFIX:=$OUP_BUILD_WIN/wine}"
export OUP_BUILD_WIN OUP_BUILD_HOST WINEPREFIX
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Everything below wants a display of its own, of a known depth and DPI.
if [[ -z "${OUP_E2E_DISPLAY:-}" ]]; then
    exec env OUP_E2E_DISPLAY=1 timeout 900 \
        xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash "$0" "$@"
fi

exe=$OUP_BUILD_WIN/src/app/win32/oupdate.exe
oupack=$OUP_BUILD_HOST/tools/oupack/oupack
out=$OUP_BUILD_WIN/e2e
for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "$name: missing $f (build both presets first)" >&2; exit 1; }
done
mkdir -p "$out"

passed=0 failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "${work:-}"
}
trap cleanup EXIT

if [[ ! -d $WINEPREFIX/drive_c ]]; then
    echo "$name: creating the Wine prefix $WINEPREFIX"
    timeout 300 wine wineboot -i >/dev/null 2>&1
fi

# wait_exit [SECONDS]: waits (default 30 s) for the program started in the
# background as $pid to end; sets status (255 when it hung and was killed).
wait_exit() {
    local seconds=${1:-30}
    for ((i = 0; i < seconds * 2; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            status=0
            wait "$pid" || status=$?
            return
        fi
        sleep 0.5
    done
    kill "$pid" 2>/dev/null || true
    status=255
}

# key WINDOW KEYS: types KEYS into WINDOW.
key() {
    xdotool windowfocus "$1" 2>/dev/null || true
    xdotool key "$2"
}
