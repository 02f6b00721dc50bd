#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan/UBSan) and runs the restore
# fuzzer for the given number of seconds (default 60) from a freshly written
# seed corpus. Exits non-zero on any finding.
#   scripts/fuzz.sh [SECONDS]
# OUP_FUZZ_BUILD overrides the build directory (default build/fuzz).
set -euo pipefail

seconds=${1:-60}
case $seconds in ''|*[!0-9]*) echo "fuzz.sh: seconds must be a number, not '$seconds'" >&2; exit 2;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OUP_FUZZ_BUILD:-$root/build/fuzz}

cd "$root"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target restore_fuzzer restore_fuzz_seeds

seeds=$build/fuzz-seeds/restore
corpus=$build/fuzz-corpus/restore
findings=$build/fuzz-findings
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$findings"
"$build/tests/fuzz/restore_fuzz_seeds" "$seeds"

echo "fuzz.sh: restore fuzzer for ${seconds}s"
# New inputs go to the corpus; findings (crash-*, leak-*, timeout-*) to findings/.
status=0
"$build/tests/fuzz/restore_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds" \
  2>"$build/fuzz-restore.log" || status=$?
tail -n 15 "$build/fuzz-restore.log"
if [ "$status" -ne 0 ] || ls "$findings" | grep -q .; then
  echo "fuzz.sh: FINDINGS (status $status), see $findings and $build/fuzz-restore.log" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
