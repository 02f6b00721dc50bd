#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan/UBSan) and runs the restore
# fuzzer and the image-end fuzzer, which share the given number of seconds
# (default 60; the image rule is small and takes a quarter), each from a
# freshly written seed corpus. Exits non-zero on any finding.
#   scripts/fuzz.sh [SECONDS]
# OUP_FUZZ_BUILD overrides the build directory (default build/fuzz).
set -euo pipefail

seconds=${1:-60}
case $seconds in ''|*[!0-9]*) echo "fuzz.sh: seconds must be a number, not '$seconds'" >&2; exit 2;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OUP_FUZZ_BUILD:-$root/build/fuzz}

cd "$root"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target restore_fuzzer restore_fuzz_seeds image_fuzzer image_fuzz_seeds
# Never 0: libFuzzer takes -max_total_time=0 for "no limit".
image_seconds=$((seconds / 4 > 0 ? seconds / 4 : 1))
seconds=$((seconds - image_seconds > 0 ? seconds - image_seconds : 1))

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

image_seeds=$build/fuzz-seeds/image
image_corpus=$build/fuzz-corpus/image
rm -rf "$image_seeds"
mkdir -p "$image_seeds" "$image_corpus"
"$build/tests/fuzz/image_fuzz_seeds" "$image_seeds"
echo "fuzz.sh: image fuzzer for ${image_seconds}s"
"$build/tests/fuzz/image_fuzzer" -max_total_time="$image_seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/" "$image_corpus" "$image_seeds" \
  2>"$build/fuzz-image.log" || status=$?
tail -n 15 "$build/fuzz-image.log"
if [ "$status" -ne 0 ] || ls "$findings" | grep -q .; then
  echo "fuzz.sh: FINDINGS (status $status), see $findings and $build/fuzz-image.log" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
