#!/usr/bin/env bash
# Builds the fuzz configuration (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer over the whole library) and runs every fuzz target
# in turn for SECONDS each (default 60), starting from the seeds in
# fuzz/corpus/<target>. Inputs that crash, hang or exhaust memory are kept in
# fuzz/findings/<target>/. FUZZ_TARGETS="fuzz_png fuzz_tar" runs a subset.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

tools/setup.sh clang libclang-rt-dev

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZOVEVOD_BUILD_FUZZ=ON -DZOVEVOD_BUILD_GUI=OFF -DZOVEVOD_BUILD_TESTS=OFF -DZOVEVOD_BUILD_BENCH=OFF >/dev/null
targets=${FUZZ_TARGETS:-$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')}
# shellcheck disable=SC2086
cmake --build build-fuzz -j"$(nproc)" --target $targets

failed=()
for t in $targets; do
  # New inputs grow a working corpus in the build folder; the seeds stay as they are.
  mkdir -p "build-fuzz/corpus/$t" "fuzz/findings/$t" "fuzz/corpus/$t"
  echo "== $t: $seconds s"
  if ! "build-fuzz/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="fuzz/findings/$t/" \
      "build-fuzz/corpus/$t" "fuzz/corpus/$t" 2>"build-fuzz/$t.log"; then
    failed+=("$t")
  fi
  grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)|cov:" "build-fuzz/$t.log" | tail -3 || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings in: ${failed[*]} (see fuzz/findings/ and build-fuzz/<target>.log)"
  exit 1
fi
echo "No findings."
