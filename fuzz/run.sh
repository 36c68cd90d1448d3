#!/bin/sh
# Builds the libFuzzer target with clang and runs it.
#   fuzz/run.sh [SECONDS] [BUILD_DIR]
# Default: 600 seconds, build in build-fuzz beside the sources. Crashes are
# written to BUILD_DIR/artifacts; the corpus grows in BUILD_DIR/corpus.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${1:-600}
build=${2:-$root/build-fuzz}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" --target fuzz_task

mkdir -p "$build/corpus" "$build/artifacts"
# Seeds: the example task and the test fixture, on the task-file road (a
# leading even byte).
for seed in "$root/examples/register-task.txt" "$root/tests/task/fixtures/gbk-task.txt"; do
  [ -f "$seed" ] || continue
  { printf '\000'; cat "$seed"; } > "$build/corpus/seed-$(basename "$seed")"
done

export QT_QPA_PLATFORM=offscreen
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  "$build/fuzz_task" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=4096 \
  -dict="$here/task.dict" -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
  "$build/corpus"
