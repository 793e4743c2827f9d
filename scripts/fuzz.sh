#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [SECONDS]   (default 60)
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# in build-fuzz/, writes their seed corpora with the project's seed tool, runs each
# target over its corpus and then fuzzes it for SECONDS. Inputs that crash are kept
# in build-fuzz/crashes/<target>/; any crash makes the script fail. Prints the number
# of inputs each target executed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${ORVO2_FUZZ_BUILD:-$here/build-fuzz}
targets=(fuzz_itex fuzz_tiff fuzz_batch fuzz_config fuzz_reference fuzz_h5 fuzz_xafs_build)

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ not found; install clang and libclang-rt-14-dev" >&2
    exit 1
fi
if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DORVO2_FUZZ=ON -DORVO2_BUILD_TESTS=OFF \
        -DORVO2_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}" orvo2fuzzseeds

seeds=$build/seeds
rm -rf "$seeds"
"$build/tools/orvo2fuzzseeds" "$seeds"

failed=0
summary=()
for t in "${targets[@]}"; do
    kind=${t#fuzz_}
    corpus=$build/corpus/$kind
    crashes=$build/crashes/$kind
    mkdir -p "$corpus" "$crashes" "$seeds/$kind"
    # Crash inputs found earlier and kept in the source tree are part of the corpus.
    extra=()
    [ -d "$here/fuzz/regressions/$kind" ] && extra+=("$here/fuzz/regressions/$kind")
    log=$build/$t.log
    set +e
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -dict="$here/fuzz/$kind.dict" \
        -artifact_prefix="$crashes/" "$corpus" "$seeds/$kind" "${extra[@]}" >"$log" 2>&1
    status=$?
    set -e
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    summary+=("$t: ${runs:-?} inputs in ${seconds} s, exit $status")
    if [ "$status" -ne 0 ]; then
        failed=1
        echo "== $t failed (exit $status); the input is in $crashes/" >&2
        tail -n 40 "$log" >&2
    fi
done
printf '%s\n' "${summary[@]}"
exit $failed
