#!/usr/bin/env bash
# The sending engine's figures in one run: builds the benchmarks (Release)
# and prints the first-catch, 20-drop, after-stop, flood, pacing and
# timed-start figures, each next to its baseline.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
zembrin_install_packages nginx-light wrk nghttp2-client
zembrin_build build/bench Release -DZEMBRIN_BUILD_TESTS=OFF -DZEMBRIN_BUILD_BENCH=ON >/dev/null
build/bench/bench_sending "$@"
echo
build/bench/bench_pacing 10 200 400
echo
build/bench/bench_timed_start
