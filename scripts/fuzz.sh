#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each for a while:  fuzz.sh [SECONDS] [TARGET...]
# SECONDS per target (default 10); all targets when none is named. Each target keeps its
# corpus in build-fuzz/corpus/TARGET (started from tests/fuzz/seeds.py, with the words of
# tests/fuzz/TARGET.dict when there is one); a crash leaves its
# input in build-fuzz/crashes/TARGET and makes the script fail. One figure line per target.
# Inputs that once crashed or hung, kept in tests/fuzz/regressions/TARGET, join each corpus.
# KOR_FUZZ_SEED fixes libFuzzer's seed, so a brief run in the test command explores the same
# inputs every time; without it each run explores afresh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
shift || true
dir="$root/build-fuzz"
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache} CCACHE_NOHASHDIR=1 CCACHE_BASEDIR=$root
cmake -S "$root" -B "$dir" -G Ninja -DKOR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$dir" --target fuzz_targets -- -j"$(nproc)" | grep -v '^\[' || true

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
/usr/bin/python3 "$root/tests/fuzz/seeds.py" "$dir/corpus"
seed=()
[ -n "${KOR_FUZZ_SEED:-}" ] && seed=(-seed="$KOR_FUZZ_SEED")

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
status=0
for target in "${targets[@]}"; do
  corpus="$dir/corpus/$target"
  crashes="$dir/crashes/$target"
  mkdir -p "$corpus" "$crashes"
  regressions="$root/tests/fuzz/regressions/$target"
  [ -d "$regressions" ] && cp "$regressions"/* "$corpus"/
  log="$dir/$target.log"
  dict=()
  [ -f "$root/tests/fuzz/$target.dict" ] && dict=(-dict="$root/tests/fuzz/$target.dict")
  if "$dir/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      "${dict[@]}" "${seed[@]}" -artifact_prefix="$crashes/" "$corpus" >"$log" 2>&1; then
    result="no crash"
  else
    result="CRASH (see $log, input in $crashes)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  printf '%-18s %10s runs in %ss, %s, corpus %s inputs: %s\n' "$target" "${runs:-?}" "$seconds" \
    "${coverage:-cov: ?}" "$(ls "$corpus" | wc -l)" "$result"
done
exit $status
