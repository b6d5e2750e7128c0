#!/usr/bin/env bash
# Builds the ReceivePacket fuzzer with clang (ASan, UBSan, libFuzzer) in build/fuzz-serial, runs it
# for 30 s (or PENTREL_FUZZ_SECONDS) from the seed corpus, and exits non-zero on any finding (left in
# build/fuzz-serial/).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz-serial
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENTREL_SANITIZE=address -DPENTREL_TESTS=OFF >/dev/null
cmake --build "$build" --target receive_packet_fuzzer -j 2
found=$(mktemp -d /tmp/pentrel-fuzz-serial.XXXXXX)
trap 'rm -rf "$found"' EXIT
# New inputs go to the scratch folder; the seeds in the repository are only read.
"$build/bin/receive_packet_fuzzer" -max_total_time="${PENTREL_FUZZ_SECONDS:-30}" -max_len=4200 \
  -timeout=10 -artifact_prefix="$build/" "$found" fuzz/receive_packet/corpus
