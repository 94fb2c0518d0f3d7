#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for the
# given number of seconds (default 60) on its seed corpus, which the project
# generates. A crash, leak, hang or sanitizer report fails the run and leaves
# the input that caused it in build-fuzz/.
#   tools/fuzz.sh            # about a minute per target
#   tools/fuzz.sh 3600       # an hour per target
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
tools/bootstrap.sh clang libclang-rt-14-dev
[ -f build-fuzz/CMakeCache.txt ] ||
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINTRIX_FUZZ=ON
targets=$(sed -n 's/^vintrix_add_fuzzer(\([a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)
cmake --build build-fuzz --parallel "$(nproc)" --target $targets fuzz_seeds
for target in $targets; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  seeds=build-fuzz/seeds/$target
  echo "== $target for ${seconds}s"
  (cd build-fuzz && "fuzz-bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 "corpus/$target" $( [ -d "seeds/$target" ] && echo "seeds/$target" )) 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY|Done)' || true
  [ -z "$(ls build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* build-fuzz/oom-* 2>/dev/null)" ] || {
    echo "$target found a fault: see build-fuzz/"; exit 1; }
done
