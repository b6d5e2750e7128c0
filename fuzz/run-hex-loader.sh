#!/usr/bin/env bash
# Fuzzes LoadHexFile for 30 seconds (or PENTREL_FUZZ_SECONDS) in a clang build with ASan, UBSan and
# libFuzzer (build/fuzz).
# Exits non-zero on any finding; the input that caused it is left in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
cmake -S . -B "$build" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPENTREL_SANITIZE=address \
  -DPENTREL_TESTS=OFF -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" --target fuzz_hex_loader -j 2
corpus="$build/corpus/hex_loader"
findings="$build/findings"
mkdir -p "$corpus" "$findings"
timeout 300 "$build/bin/fuzz_hex_loader" "$corpus" fuzz/hex_loader/seeds \
  -max_total_time="${PENTREL_FUZZ_SECONDS:-30}" -max_len=8192 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$findings/"
