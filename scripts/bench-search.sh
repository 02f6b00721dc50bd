#!/usr/bin/env bash
# Builds the release preset and runs the instance-search benchmark: the
# updater's search (host build, headless form) against `find -iname` over one
# generated tree of at least 100,000 directories with a few installations;
# both times, directories per second and the ratio.
#   scripts/bench-search.sh [bench_search options]
#     --root DIR     where the tree lives (default: $TMPDIR/oup-bench-search;
#                    kept for later runs, about 450 MB of directories)
#     --fanout F --depth D   tree shape (default 10 and 5: 111,110 directories)
#     --repeat R     runs of each, the median is shown (default 3)
# OUP_BENCH_BUILD overrides the build directory (default build/release).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${OUP_BENCH_BUILD:-$root/build/release}
command -v find >/dev/null || { echo "bench-search.sh: find is missing" >&2; exit 2; }

cd "$root"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target bench_search

echo "=== instance search benchmark ==="
"$build/bench/search/bench_search" "$@"
