#!/usr/bin/env bash
# Builds the release preset and runs the search benchmarks on generated trees
# (bench/search/bench_walk.cpp), each against the plain walk in the same run:
#   latency  11,111 directories behind 1 ms per listing and presence search
#            (a network share): the plain walk one directory at a time
#            against this search with 8 listings in flight; about 30 s
#   memory   1,111,111 directories generated in memory: the peak heap of each
#            walk, and the plain walk's structures in 32-bit sizes; about 30 s;
#            then 8 directories of 200,000 files each: the peak heap of each
#            walk and what this search still holds after them; about 2 s
#   scripts/bench-walk.sh [latency|memory|both] [--latency-depth D] [--memory-depth D]
# OUP_BENCH_BUILD overrides the build directory (default build/release).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${OUP_BENCH_BUILD:-$root/build/release}

cd "$root"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target bench_walk

echo "=== search walk benchmarks ==="
"$build/bench/search/bench_walk" "$@"
