#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, ASan and UBSan (build/fuzz) and runs each for 30 s,
# or PENTREL_FUZZ_SECONDS, from its seeds. Exits non-zero on any finding, whose input is left in
# build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
cmake -S . -B "$build" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPENTREL_SANITIZE=address \
  -DPENTREL_TESTS=OFF -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" --target fuzz_hex_loader receive_packet_fuzzer -j 2
scratch=$(mktemp -d /tmp/pentrel-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/findings"

seconds=${PENTREL_FUZZ_SECONDS:-30}
# The guard only catches a fuzzer that hangs past its own time limit: start-up, merging the seeds
# and the final stats get five minutes beyond the time asked for.
guard=$((seconds + 300))

# fuzz PROGRAM SEEDS MAX_LEN: new inputs go to the scratch folder; the seeds are only read.
fuzz() {
  mkdir "$scratch/$1"
  timeout "$guard" "$build/bin/$1" "$scratch/$1" "$2" -max_total_time="$seconds" \
    -max_len="$3" -timeout=10 -print_final_stats=1 -artifact_prefix="$build/findings/"
}
fuzz fuzz_hex_loader fuzz/hex_loader/seeds 8192
fuzz receive_packet_fuzzer fuzz/receive_packet/corpus 4200
