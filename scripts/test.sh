#!/usr/bin/env bash
# The project's test command; CI runs it through .ci/run.
#
#   scripts/test.sh
#
# Layers, in order, each run even when an earlier one failed:
#   0. layers   includes point down only (scripts/check-layers.sh)
#   1. host     Linux build (ASan/UBSan) and its unit tests (ctest)
#   1b. tsan    the search's tests once more under ThreadSanitizer (its pool
#               of listing threads; AddressSanitizer does not see races)
#   2. windows  32-bit Windows build and the same unit tests under Wine (ctest)
#   3. pe       oupdate.exe is a PE32 GUI program for Intel 80386, stripped,
#               importing only KnownDLLs (and comctl32), marked Terminal
#               Server aware, relocatable and no-execute compatible
#   4. e2e      every tests/e2e/*.sh, in name order
#   5. fuzz     scripts/fuzz.sh 60, when it exists
# The last line reads "N passed, M failed": one for layer 0, the GoogleTest
# cases of both builds, one per check of layer 3, and one per e2e script or fuzz run (an
# e2e script may instead end its output with its own "N passed, M failed"
# line, which is then counted). The exit status is non-zero on any failure.
#
# Environment an e2e script receives:
#   OUP_ROOT         the repository
#   OUP_BUILD_HOST   the host build directory (its tools: $OUP_OUPACK)
#   OUP_BUILD_WIN    the Windows build directory
#   OUP_OUPDATE_EXE  the Windows updater, oupdate.exe
#   OUP_OUPACK       oupack for Linux
#   OUP_OUPACK_EXE   oupack.exe for Windows
#   WINEPREFIX       a Wine prefix made fresh for this run; leave it as found
#                    (drives added to dosdevices/ are removed again), or copy it
#   WINEDEBUG=-all, WINEDLLOVERRIDES (no Mono/Gecko prompts)
#   DISPLAY          a private Xvfb screen started for this run (1280x1024x24);
#                    a script may still start its own with xvfb-run -a
#
# Overrides: OUP_BUILD_HOST, OUP_BUILD_WIN, OUP_BUILD_TSAN (build directories,
# default build/host, build/windows and build/tsan), OUP_FUZZ_SECONDS (default 60, 0 skips fuzzing),
# OUP_SKIP_SETUP=1 (do not run scripts/setup.sh).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1

export OUP_ROOT=$root
export OUP_BUILD_HOST=${OUP_BUILD_HOST:-$root/build/host}
export OUP_BUILD_WIN=${OUP_BUILD_WIN:-$root/build/windows}
export OUP_OUPDATE_EXE=$OUP_BUILD_WIN/src/app/win32/oupdate.exe
export OUP_OUPACK=$OUP_BUILD_HOST/tools/oupack/oupack
export OUP_OUPACK_EXE=$OUP_BUILD_WIN/tools/oupack/oupack.exe
export WINEPREFIX=$OUP_BUILD_WIN/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
fuzz_seconds=${OUP_FUZZ_SECONDS:-60}
logs=$root/build/test-logs

passed=0
failed=0
failures=()
started=$(date +%s)

step() { printf '\n=== %s ===\n' "$*"; }
fail() {
  failed=$((failed + ${2:-1}))
  failures+=("$1")
  echo "test.sh: FAILED: $1" >&2
}

# --- clean-up, also when interrupted -----------------------------------------
xvfb_pid=
wineboot_pid=
cleanup() {
  if command -v wineserver >/dev/null && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null; fi
  if [ -n "$wineboot_pid" ]; then kill "$wineboot_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; fi
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- GoogleTest counts from a ctest -V log -----------------------------------
# Adds the "[  PASSED  ] N tests." and "[  FAILED  ] N tests, listed below:"
# figures of every suite in the log; a suite that died before its summary
# counts as one failure for each test ctest saw fail without one.
count_ctest_log() {
  local log=$1 layer=$2 status=$3 p f ctest_failed
  p=$(grep -E '^([0-9]+: )?\[  PASSED  \] [0-9]+ tests?\.' "$log" |
    sed -E 's/.*\] ([0-9]+) tests?\..*/\1/' | awk '{ s += $1 } END { print s + 0 }')
  f=$(grep -E '^([0-9]+: )?\[  FAILED  \] [0-9]+ tests?, listed below' "$log" |
    sed -E 's/.*\] ([0-9]+) tests?,.*/\1/' | awk '{ s += $1 } END { print s + 0 }')
  passed=$((passed + p))
  # ctest's own summary: "N% tests passed, F tests failed out of T".
  ctest_failed=$(sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of [0-9]+.*/\1/p' "$log" | tail -n 1)
  if [ "$f" -gt 0 ]; then
    fail "$layer: $f test(s)" "$f"
  elif [ "$status" -ne 0 ]; then
    fail "$layer: ctest status $status" "${ctest_failed:-1}"
  fi
  [ "$p" -gt 0 ] || [ "$status" -ne 0 ] || fail "$layer: ran no test"
}

# Runs ctest in a build directory, shows GoogleTest's and ctest's summary
# lines (the whole log when something failed) and counts the results.
run_ctest() {
  local layer=$1 build=$2 log=$logs/$1-ctest.log status=0
  ctest --test-dir "$build" --output-on-failure -V --timeout 900 >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$log"
  else
    grep -E '\[==========\] [0-9]+ tests? from|\[  PASSED  \]|\[  SKIPPED \]|\[  FAILED  \]|tests passed|Total Test time' "$log"
  fi
  count_ctest_log "$log" "$layer" "$status"
}

# Configures and builds a preset into a directory; false (and counted) on failure.
build() {
  local layer=$1 preset=$2 dir=$3 log=$logs/$1-build.log
  echo "building preset $preset in $dir (log: $log)"
  if ! { cmake --preset "$preset" -B "$dir" && cmake --build "$dir" -j2; } >"$log" 2>&1; then
    tail -n 60 "$log"
    fail "$layer: build"
    return 1
  fi
  grep -E 'warning:' "$log" | sort -u | head -n 20 || true
  return 0
}

# --- 0. dependencies ----------------------------------------------------------
if [ "${OUP_SKIP_SETUP:-0}" != 1 ]; then
  step "setup"
  "$root/scripts/setup.sh" || { echo "test.sh: setup failed" >&2; exit 1; }
fi
mkdir -p "$logs" "$OUP_BUILD_WIN"

# A private display for everything that opens a window, and a fresh Wine
# prefix made in the background while the Linux side builds.
step "display and Wine prefix"
rm -f "$logs/xvfb.display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$logs/xvfb.display" \
  >"$logs/xvfb.log" 2>&1 &
xvfb_pid=$!
display_number=
for _ in $(seq 100); do
  display_number=$(head -n 1 "$logs/xvfb.display" 2>/dev/null)
  [ -z "$display_number" ] && kill -0 "$xvfb_pid" 2>/dev/null && sleep 0.1 || break
done
if [ -n "$display_number" ]; then
  export DISPLAY=:$display_number
  echo "Xvfb on $DISPLAY"
else
  echo "test.sh: Xvfb did not start (see $logs/xvfb.log); tests that need a display skip" >&2
  unset DISPLAY
fi
rm -rf "$WINEPREFIX"
# A crashing program must end, not wait on Wine's crash dialog until the
# run's time is up.
(wine wineboot -i >"$logs/wineboot.log" 2>&1 &&
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >>"$logs/wineboot.log" 2>&1) &
wineboot_pid=$!
echo "creating $WINEPREFIX"

# --- 0. layering ----------------------------------------------------------------
step "layering: includes point down only"
if "$root/scripts/check-layers.sh"; then passed=$((passed + 1)); else fail "layers"; fi

# --- 1. host ------------------------------------------------------------------
step "host build and unit tests"
if build host host "$OUP_BUILD_HOST"; then run_ctest host "$OUP_BUILD_HOST"; fi

# --- 1b. the search under ThreadSanitizer -------------------------------------
# Only the test program is built, and only the search's tests run.
step "search tests under ThreadSanitizer"
tsan_build=${OUP_BUILD_TSAN:-$root/build/tsan}
if { cmake --preset tsan -B "$tsan_build" &&
  cmake --build "$tsan_build" -j2 --target oupdate_tests; } >"$logs/tsan-build.log" 2>&1; then
  tsan_status=0
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" timeout 900 \
    "$tsan_build/tests/oupdate_tests" --gtest_filter='Search.*:SearchPage.*' >"$logs/tsan-test.log" 2>&1 ||
    tsan_status=$?
  if [ "$tsan_status" -ne 0 ]; then cat "$logs/tsan-test.log"; else
    grep -E '\[==========\] [0-9]+ tests? from|\[  PASSED  \]|\[  FAILED  \]' "$logs/tsan-test.log"
  fi
  count_ctest_log "$logs/tsan-test.log" tsan "$tsan_status"
else
  tail -n 60 "$logs/tsan-build.log"
  fail "tsan: build"
fi

# --- 2. windows -----------------------------------------------------------------
step "windows build and unit tests under Wine"
windows_built=0
if build windows windows "$OUP_BUILD_WIN"; then windows_built=1; fi
if ! wait "$wineboot_pid"; then
  cat "$logs/wineboot.log"
  fail "windows: the Wine prefix could not be made"
  windows_built=0
fi
wineboot_pid=
if [ "$windows_built" -eq 1 ]; then run_ctest windows "$OUP_BUILD_WIN"; fi

# --- 3. the executable itself ---------------------------------------------------
step "oupdate.exe: format and imports"
check() {
  if "$@"; then passed=$((passed + 1)); else fail "pe: $1"; fi
}
pe_format() {
  local what
  what=$(file -b "$OUP_OUPDATE_EXE") || return 1
  echo "file: $what"
  [[ $what == "PE32 executable (GUI) Intel 80386"* ]]
}
# Only KnownDLLs, which Windows maps from the system directory whatever the
# search order (no libstdc++, libgcc, winpthread or zlib either), and
# comctl32, which the manifest takes from the side-by-side store. Any other
# DLL would be looked for beside the program first, where a user may have
# put one: those are loaded at run time from the system directory.
pe_imports() {
  local dlls bad=0 d
  dlls=$(i686-w64-mingw32-objdump -p "$OUP_OUPDATE_EXE" | awk '/DLL Name:/ { print $3 }') || return 1
  echo "imports: $(echo $dlls)"
  [ -n "$dlls" ] || return 1
  for d in $dlls; do
    case ${d,,} in
      kernel32.dll | user32.dll | gdi32.dll | comdlg32.dll | shell32.dll | msvcrt.dll | \
        advapi32.dll | ole32.dll | oleaut32.dll | shlwapi.dll | ws2_32.dll | psapi.dll | \
        imm32.dll | rpcrt4.dll | setupapi.dll | ntdll.dll | comctl32.dll) ;;
      *) echo "not a KnownDLL: $d" >&2; bad=1 ;;
    esac
  done
  return $bad
}
# DllCharacteristics: Terminal Server aware (0x8000: no per-user Windows
# directory on a Remote Desktop Session Host), DYNAMIC_BASE (0x40) and
# NX_COMPAT (0x100).
pe_characteristics() {
  local value
  value=$(i686-w64-mingw32-objdump -p "$OUP_OUPDATE_EXE" | awk '/^DllCharacteristics/ { print $2 }') ||
    return 1
  echo "DllCharacteristics: ${value:-none}"
  [ -n "$value" ] && (((16#$value & 0x8140) == 0x8140))
}
# Stripped: symbols behind the sections would pass for an appended package.
# The COFF header (behind "PE\0\0" at the offset stored at 0x3C) holds the
# symbol table's position and count; both are 0 in a stripped file.
pe_stripped() {
  local header table
  header=$(od -An -tu4 -j60 -N4 "$OUP_OUPDATE_EXE" | tr -d ' ') || return 1
  table=$(od -An -tu4 -j$((header + 12)) -N8 "$OUP_OUPDATE_EXE" | xargs) || return 1
  echo "symbol table (offset, count): $table"
  [ "$table" = "0 0" ]
}
if [ -f "$OUP_OUPDATE_EXE" ]; then
  check pe_format
  check pe_imports
  check pe_characteristics
  check pe_stripped
else
  fail "pe: $OUP_OUPDATE_EXE was not built"
fi

# --- 4. end to end ----------------------------------------------------------------
shopt -s nullglob
e2e_scripts=("$root"/tests/e2e/*.sh)
if [ ${#e2e_scripts[@]} -gt 0 ]; then
  step "end-to-end scripts"
  for script in "${e2e_scripts[@]}"; do
    name=$(basename "$script")
    log=$logs/e2e-$name.log
    echo "--- $name"
    status=0
    bash "$script" 2>&1 | tee "$log" || status=$?
    own=$(grep -E '^([A-Za-z][A-Za-z0-9 -]*: )?[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
    if [ -n "$own" ]; then
      p=$(sed -E 's/^([^:]*: )?([0-9]+) passed.*/\2/' <<<"$own")
      f=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$own")
      passed=$((passed + p))
      if [ "$f" -gt 0 ]; then fail "e2e: $name, $f test(s)" "$f"
      elif [ "$status" -ne 0 ]; then fail "e2e: $name, status $status"; fi
    elif [ "$status" -eq 0 ]; then
      passed=$((passed + 1))
    else
      fail "e2e: $name, status $status"
    fi
  done
fi

# --- 5. fuzzing -------------------------------------------------------------------
if [ -x "$root/scripts/fuzz.sh" ] && [ "$fuzz_seconds" != 0 ]; then
  step "fuzzing for ${fuzz_seconds}s"
  if "$root/scripts/fuzz.sh" "$fuzz_seconds"; then passed=$((passed + 1)); else fail "fuzz"; fi
fi

# --- summary ----------------------------------------------------------------------
step "summary"
echo "took $(($(date +%s) - started)) s; logs in $logs"
for f in "${failures[@]}"; do echo "failed: $f"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
