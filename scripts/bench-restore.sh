#!/usr/bin/env bash
# Builds the release preset and runs the restore benchmark on a 16 MiB and a
# 256 MiB package: (a) a minimal inflate-and-write loop, (b) oupack extract,
# (c) unzip of the same files; throughputs, b/a, b/c and the peak memory of b.
#   scripts/bench-restore.sh [MIB...]        (default: 16 256)
# OUP_BENCH_BUILD overrides the build directory (default build/release);
# OUP_BENCH_REPEAT the repeats per measurement (default 3).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${OUP_BENCH_BUILD:-$root/build/release}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(16 256)
for tool in zip unzip; do
  command -v "$tool" >/dev/null || { echo "bench-restore.sh: $tool is missing (apt-get install zip unzip)" >&2; exit 2; }
done

cd "$root"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target bench_restore oupack

for mib in "${sizes[@]}"; do
  echo "=== restore benchmark, $mib MiB ==="
  "$build/bench/restore/bench_restore" --mib "$mib" --repeat "${OUP_BENCH_REPEAT:-3}"
done
