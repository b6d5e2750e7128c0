#!/usr/bin/env bash
# The Windows build's console programs under Wine, in one prefix: every *_tests.exe, the serial
# checks, and pentrel-cli.exe against melor-sim where Windows has code of its own: probe all, a raw
# read, ports, two ports at once, Ctrl-C, text outside ASCII redirected and on a console.
source "$(dirname "$0")/wine_env.sh"
export LC_ALL=C.UTF-8  # Wine reads the command line's bytes in the locale's encoding
init_prefix
status=0
start_sim COM5 --answer-after 2  # the serial checks only open it; pentrel-cli.exe programs it
for test in "$PENTREL_WIN_BIN"/*_tests.exe "$PENTREL_WIN_BIN/serial_wine_checks.exe"; do
  echo "-- $(basename "$test") under Wine"
  timeout 600 wine "$test" --gtest_brief=1 || status=1
done

# run_cli ARGUMENT...: stdout without CRs in $WORK/cli.out (Wine's helpers would hold a pipe open);
# with console=1 under `script`, whose terminal gives the program a console.
run_cli() {
  local command=(wine "$PENTREL_WIN_BIN/pentrel-cli.exe" "$@")
  [ -z "${console:-}" ] || command=(script -qec "${command[*]@Q}" /dev/null)
  timeout 300 "${command[@]}" >"$WORK/cli.raw" 2>/dev/null || true
  tr -d '\r' <"$WORK/cli.raw" >"$WORK/cli.out"
}
# expect_cli LINE ARGUMENT...: some line of pentrel-cli.exe's stdout is LINE (a basic regex).
expect_cli() {
  run_cli "${@:2}"
  grep -qx -- "$1" "$WORK/cli.out" && echo "pentrel-cli.exe ${*:2}: $1" && return 0
  echo "pentrel-cli.exe ${*:2}: no line \"$1\" in:"; cat -v "$WORK/cli.out"; status=1
}

hex="Z:${PENTREL_ROOT//\//\\}\\examples\\firmware.hex"
srec_cat "$PENTREL_ROOT/examples/firmware.hex" -intel -offset -0x1D000000 -fill 0xFF 0 0x80000 \
  -o "$WORK/expected.bin" -binary
expect_cli "Last Status: MELOR successfully programmed." "$hex" "probe all"
# A raw file: written in text mode, its 0x0a bytes would come out as 0d 0a.
expect_cli "Last Status: MELOR flash read." read "Z:${WORK//\//\\}\\read.bin" COM5 --length 0x1000
cmp <(head -c 4096 "$WORK/expected.bin") "$WORK/read.bin" || status=1
expect_cli "COM5"$'\t'".*" ports
stop_sims
expect_flash COM5 "$WORK/expected.bin"

start_sim COM5 --answer-after 2
start_sim COM6 --answer-after 2
expect_cli "Programmed 2 of 2 devices." "$hex" COM5 COM6
stop_sims
expect_flash COM5 "$WORK/expected.bin"
expect_flash COM6 "$WORK/expected.bin"

# Ctrl-C puts the port back as it was found (Wine turns SIGINT into the console's CTRL_C_EVENT).
# Wine maps a DCB to termios its own way, so the line speed stands for the settings.
start_sim COM5 --answer-after 100000
found=$(stty -F "$WORK/COM5" speed)
wine "$PENTREL_WIN_BIN/pentrel-cli.exe" info COM5 >"$WORK/ctrl-c.out" 2>&1 &
cli=$!
for _ in $(seq 300); do [ "$(stty -F "$WORK/COM5" speed)" = 57600 ] && break; sleep 0.1; done
kill -INT "$cli"
ended=0 && wait "$cli" || ended=$?
speed=$(stty -F "$WORK/COM5" speed)
[ "$ended" = 130 ] && [ "$speed" = "$found" ] && echo "pentrel-cli.exe: Ctrl-C put COM5 back" ||
  { echo "pentrel-cli.exe after Ctrl-C: status $ended, COM5 at $speed baud, not $found"; status=1; }
stop_sims

# A missing file's name comes back whole: UTF-8 redirected, as wide text on a console.
name='Zürich-Ωmega.hex'
expect_cli "Unable to open input file $name" "$name" COM5
console=1 expect_cli ".*Unable to open input file $name.*" "$name" COM5
exit $status
