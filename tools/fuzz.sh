#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for the
# given number of seconds (default 60), two at a time, on its corpus
# (build-fuzz/corpus/<target>, kept between runs), the seed inputs that
# make_seeds writes and the inputs that once found a fault
# (fuzz/regressions/<target>/). A crash, leak, timeout (10 s an input), memory use over
# 2 GiB or a failed check fails the run; the input that caused it is left in
# build-fuzz/findings/<target>/ and the log in build-fuzz/logs/<target>.log.
#   tools/fuzz.sh                  # a minute per target
#   tools/fuzz.sh 3600             # an hour per target
#   tools/fuzz.sh 600 image_decode_fuzz   # one target
# Reproduce a finding: build-fuzz/fuzz-bin/<target> <file>
# VINTRIX_FUZZ_BUILD=dir uses another build folder, configured with clang and
# -DVINTRIX_FUZZ=ON (CI fuzzes in the folder it ran the suite in).
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
tools/bootstrap.sh --packages-only clang libclang-rt-14-dev
dir=${VINTRIX_FUZZ_BUILD:-build-fuzz}
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
[ -f "$dir/CMakeCache.txt" ] ||
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVINTRIX_FUZZ=ON -DVINTRIX_TESTS=OFF -DVINTRIX_BENCH=OFF $launcher
targets=${*:-$(sed -n 's/^vintrix_add_fuzzer(\([a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)}
cmake --build "$dir" --parallel "$(nproc)" --target $targets fuzz_seeds
mkdir -p "$dir/logs"
for target in $targets; do
  rm -rf "$dir/findings/$target"
  mkdir -p "$dir/corpus/$target" "$dir/findings/$target"
done

fuzzOne() {
  target=$1
  status=0
  # Inputs that once found a fault are run again first, every time.
  regressions=""
  [ -d "fuzz/regressions/$target" ] && regressions="$PWD/fuzz/regressions/$target"
  (cd "$dir" && "fuzz-bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 -artifact_prefix="findings/$target/" \
     "corpus/$target" "seeds/$target" $regressions) >"$dir/logs/$target.log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/logs/$target.log")
  if [ "$status" -eq 0 ]; then
    echo "$target: ${runs:-?} inputs in ${seconds}s, no fault"
  else
    echo "$target: FAULT (exit $status), see $dir/logs/$target.log and $dir/findings/$target/"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|Test unit written)' "$dir/logs/$target.log" | head -5
  fi
  return "$status"
}

failed=0
set -- $targets
while [ $# -gt 0 ]; do
  fuzzOne "$1" & first=$!
  second=""
  if [ $# -gt 1 ]; then
    fuzzOne "$2" & second=$!
    shift
  fi
  shift
  wait "$first" || failed=1
  [ -z "$second" ] || wait "$second" || failed=1
done
exit "$failed"
