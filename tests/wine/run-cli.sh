#!/usr/bin/env bash
# pentrel-cli.exe under Wine against melor-sim mapped as COM ports: a named-port run and a
# "probe all" run both program the device, and its flash then holds exactly the image; after the
# second run verify, read, info --json and ports run against the programmed device; then one run
# programs two devices (COM5 and COM6) at once; last, text outside ASCII comes out whole on a
# console and redirected.
source "$(dirname "$0")/wine_env.sh"
init_prefix
sim_dir=$(mktemp -d /tmp/pentrel-cli-wine.XXXXXX)
sim_pids=()
stop_sims() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  sim_pids=()
}
trap 'stop_sims; rm -rf "$sim_dir"; wine_env_cleanup' EXIT

# start_sim NAME: melor-sim (waiting for its reset button) as the COM port NAME, its flash
# written to $sim_dir/NAME.bin when it stops.
start_sim() {
  "$PENTREL_ROOT/build/native/bin/melor-sim" --dump "$sim_dir/$1.bin" --answer-after 2 \
    --timeout 300 > "$sim_dir/$1.sim" &
  sim_pids+=($!)
  for _ in $(seq 100); do [ -s "$sim_dir/$1.sim" ] && break; sleep 0.05; done
  map_com_port "$1" "$(head -n 1 "$sim_dir/$1.sim")"
}

hex="$PENTREL_ROOT/examples/firmware.hex"
srec_cat "$hex" -intel -offset -0x1D000000 -fill 0xFF 0 0x80000 -o "$sim_dir/expected.bin" -binary

winpath() { echo 'Z:'"${1//\//\\}"; }
cli() {  # cli OUTFILE ARGUMENT...: stdout into a file (not a pipe, which Wine's helpers hold open)
  local out=$1; shift
  timeout 300 wine "$PENTREL_WIN_BIN/pentrel-cli.exe" "$@" > "$out.raw" 2>/dev/null || true
  tr -d '\r' < "$out.raw" > "$out"
}
expect_last() {  # expect_last FILE TEXT: the file's last line is TEXT
  [ "$(tail -n 1 "$1")" = "$2" ] && echo "$2" && return 0
  echo "expected \"$2\", got:"; cat "$1"; status=1
}
expect_image() {  # expect_image NAME: the stopped device NAME holds exactly the image
  cmp -s "$sim_dir/expected.bin" "$sim_dir/$1.bin" && return 0
  echo "the flash of $1 does not hold the image"; status=1
}

# The other commands, against the device the last run programmed.
other_commands() {
  echo "-- pentrel-cli.exe verify, read, info --json and ports under Wine"
  cli "$sim_dir/verify.out" verify "$(winpath "$hex")" COM5
  expect_last "$sim_dir/verify.out" "Last Status: MELOR flash matches the image."
  cli "$sim_dir/read.out" read "$(winpath "$sim_dir/read.hex")" COM5 --length 0x1000
  expect_last "$sim_dir/read.out" "Last Status: MELOR flash read."
  srec_cat "$sim_dir/read.hex" -intel -offset -0x1D000000 -fill 0xFF 0 0x1000 \
    -o "$sim_dir/read.bin" -binary
  if ! cmp -s "$sim_dir/read.bin" <(head -c 4096 "$sim_dir/expected.bin"); then
    echo "the file read does not hold the flash"; status=1
  fi
  cli "$sim_dir/info.json" info COM5 --json
  python3 -c 'import json, sys
lines = [json.loads(line) for line in open(sys.argv[1])]
result = lines[-1]
assert result["event"] == "result" and result["ok"] and result["device"]["flash_size"] == 0x80000, result
print(result["status"])' "$sim_dir/info.json" || status=1
  cli "$sim_dir/ports.out" ports
  grep -q "^COM5"$'\t' "$sim_dir/ports.out" && echo "ports lists COM5" ||
    { echo "ports does not list COM5:"; cat "$sim_dir/ports.out"; status=1; }
}

status=0
for port in COM5 "probe all"; do
  start_sim COM5
  echo "-- pentrel-cli.exe firmware.hex \"$port\" under Wine"
  cli "$sim_dir/cli.out" "$(winpath "$hex")" "$port"
  expect_last "$sim_dir/cli.out" "Last Status: MELOR successfully programmed."
  [ "$port" = "probe all" ] && other_commands
  stop_sims
  expect_image COM5
done

echo "-- pentrel-cli.exe firmware.hex COM5 COM6 under Wine"
start_sim COM5
start_sim COM6
cli "$sim_dir/two.out" "$(winpath "$hex")" COM5 COM6
expect_last "$sim_dir/two.out" "Programmed 2 of 2 devices."
stop_sims
expect_image COM5
expect_image COM6

# Text outside ASCII: UTF-8 when redirected, and as it is on a console (`script` gives Wine a
# terminal, so the program gets a console), where UTF-8 bytes would be read in the console's code
# page. A file that does not exist is enough: its name comes back in the log.
name='Zürich-Ωmega.hex'
expected="Unable to open input file $name"
cd "$sim_dir"
LC_ALL=C.UTF-8 timeout 120 wine "$PENTREL_WIN_BIN/pentrel-cli.exe" "$name" COM5 \
  > redirected.out 2>/dev/null || true
LC_ALL=C.UTF-8 timeout 120 script -qec "wine '$PENTREL_WIN_BIN/pentrel-cli.exe' '$name' COM5" \
  /dev/null > console.out 2>&1 || true
for out in redirected.out console.out; do
  if grep -q "$expected" "$out"; then
    echo "-- $out: $expected"
  else
    echo "-- $out lacks \"$expected\":"; cat -v "$out"; status=1
  fi
done
exit $status
