#!/usr/bin/env bash
# Runs the Windows build's plain unit tests (every *_tests.exe) under Wine.
source "$(dirname "$0")/wine_env.sh"
init_prefix
status=0
for test in "$PENTREL_WIN_BIN"/*_tests.exe; do
  echo "-- $(basename "$test") under Wine"
  if ! timeout 600 wine "$test" --gtest_brief=1; then status=1; fi
done
exit $status
