#!/usr/bin/env bash
# The serial, detection and programming-run suites once more as an unprivileged user (nobody),
# against an already built folder: what a user without root sees of ports, their locks and their
# terminal settings. scripts/test runs it when it runs as root. Usage: unprivileged-pass.sh BUILD
set -euo pipefail
build=$(cd "${1:?usage: unprivileged-pass.sh BUILD_FOLDER}" && pwd)
suites=(serial_tests run_abort_tests cli_ending_tests)
shards=3  # run_tests mostly waits out read periods, so its cases run side by side in shards

as_nobody() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env HOME=/nonexistent TMPDIR=/tmp "$@"
}

# The user must reach the build folder and run its programs; a folder on the way that others
# cannot search gets search permission (only that), and the programs become readable.
dir=$build
while [ "$dir" != / ]; do
  if ! as_nobody test -x "$dir"; then
    echo "granting search permission on $dir to others"
    chmod o+x "$dir"
  fi
  dir=$(dirname "$dir")
done
chmod -R o+rX "$build/bin"

logs=$(mktemp -d /tmp/pentrel-unprivileged.XXXXXX)
trap 'rm -rf "$logs"' EXIT
names=() pids=()
start() {
  local name=$1
  shift
  as_nobody "$@" > "$logs/$name.log" 2>&1 &
  names+=("$name") pids+=($!)
}
for suite in "${suites[@]}"; do
  [ -x "$build/bin/$suite" ] || { echo "missing $build/bin/$suite"; exit 1; }
  start "$suite" "$build/bin/$suite"
done
for ((shard = 0; shard < shards; shard++)); do
  start "run_tests.$shard" env GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
    "$build/bin/run_tests"
done

failed=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "as nobody: ${names[$i]}: $(grep -E '^\[  PASSED  \]' "$logs/${names[$i]}.log")"
  else
    echo "as nobody: ${names[$i]} FAILED:"
    cat "$logs/${names[$i]}.log"
    failed=1
  fi
done
exit $failed
