#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang and runs each for the
# given number of seconds (default 60) over its corpus in fuzz/corpus/<target>.
# The corpus is run first, so a seed or a past finding that crashes again fails
# at once. New inputs go to build/fuzz/work/<target>, crashes to
# build/fuzz/artifacts/<target>/; the repository corpus is only read.
# Usage: scripts/fuzz.sh [seconds] [target...]
# QUORBEL_FUZZ_RUNS=N also stops each target after N executions (a long run:
# QUORBEL_FUZZ_RUNS=10000000 scripts/fuzz.sh 36000 fuzz_json).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
all=(fuzz_json fuzz_highlighter fuzz_editor fuzz_registry fuzz_script)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

# The newest versioned clang the release has (14 on Debian 12, 19 on 13), with
# the matching llvm tools.
clang=$(ls /usr/bin/clang++-[0-9]* 2>/dev/null | grep -E 'clang\+\+-[0-9]+$' | sort -V | tail -n 1 || true)
[ -n "$clang" ] || { echo "no clang++-NN in /usr/bin: run scripts/deps.sh"; exit 1; }
llvm_version=${clang##*-}

build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DCMAKE_CXX_COMPILER="$clang" -DQUORBEL_FUZZ=ON -DQUORBEL_TESTS=OFF -DQUORBEL_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j2

# Longest input per target: long enough that work growing faster than the
# input shows up as a timeout. The limit per input leaves room for a loaded
# machine: the slowest linear case (64 KB of JSON nested 512 deep, 64 MB of
# output) takes 2 s with the checks.
max_len() {
  case "$1" in
    fuzz_json | fuzz_highlighter) echo 65536 ;;
    *) echo 8192 ;;
  esac
}

# Readable stacks in reports without the unversioned llvm package.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && [ -x "/usr/lib/llvm-$llvm_version/bin/llvm-symbolizer" ]; then
  export ASAN_SYMBOLIZER_PATH="/usr/lib/llvm-$llvm_version/bin/llvm-symbolizer"
fi

failed=()
for t in "${targets[@]}"; do
  work="$build/work/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$work" "$artifacts"
  args=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -max_len="$(max_len "$t")"
        -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "fuzz/$t.dict" ] && args+=(-dict="fuzz/$t.dict")
  [ -n "${QUORBEL_FUZZ_RUNS:-}" ] && args+=(-runs="$QUORBEL_FUZZ_RUNS")
  # The editor's many features make the entropic schedule's bookkeeping cost
  # more than half of each run; the plain schedule runs two to three times as many.
  [ "$t" = fuzz_editor ] && args+=(-entropic=0)
  echo "== $t: ${seconds}s"
  # Short allocation stacks: recording deep ones costs a third of the speed.
  if QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=4}" UBSAN_OPTIONS=print_stacktrace=1 \
     "$build/bin/$t" "${args[@]}" "$work" "fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
    grep -E "cov:" "$build/$t.log" | tail -n 1
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec)" "$build/$t.log" || true
  else
    echo "$t FAILED; log: $build/$t.log, inputs: $artifacts/"
    tail -n 40 "$build/$t.log"
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
