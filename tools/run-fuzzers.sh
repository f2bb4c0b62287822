#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs each for a bounded
# time, starting from the committed corpus. New inputs go to build-fuzz/corpus/<target>/;
# crashes are written to build-fuzz/findings/.
#   tools/run-fuzzers.sh [seconds per target, default 60] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSK_FUZZ=ON -DSK_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzzers
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for src in tests/fuzz/*_fuzz.cpp; do
        targets+=("$(basename "$src" .cpp)")
    done
fi
mkdir -p build-fuzz/findings
status=0
for t in "${targets[@]}"; do
    seed=tests/data/fuzz-corpus/${t%_fuzz}
    work=build-fuzz/corpus/${t%_fuzz}
    mkdir -p "$work"
    echo "== $t: ${seconds}s"
    # rss limit well above the decoders' own ceilings; a single input must finish in 10 s.
    if ! build-fuzz/"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=65536 \
            -artifact_prefix=build-fuzz/findings/"$t"- -print_final_stats=1 \
            "$work" $( [ -d "$seed" ] && echo "$seed" ) 2>&1 | tee build-fuzz/"$t".log | grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)"; then
        :
    fi
    if grep -qE "==[0-9]+==ERROR|SUMMARY: (Address|Undefined)|deadly signal|Timeout" build-fuzz/"$t".log; then
        echo "!! $t found a problem; see build-fuzz/$t.log and build-fuzz/findings/"
        status=1
    fi
done
exit $status
