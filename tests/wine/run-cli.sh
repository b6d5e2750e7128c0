#!/usr/bin/env bash
# pentrel-cli.exe under Wine against melor-sim mapped as COM5: a named-port run and a
# "probe all" run both program the device, and its flash then holds exactly the image; after the
# second run verify, read, info --json and ports run against the programmed device; text outside
# ASCII comes out whole on a console and redirected.
source "$(dirname "$0")/wine_env.sh"
init_prefix
sim_dir=$(mktemp -d /tmp/pentrel-cli-wine.XXXXXX)
sim_pid=""
stop_sim() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
trap 'stop_sim; rm -rf "$sim_dir"; wine_env_cleanup' EXIT

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
  "$PENTREL_ROOT/build/native/bin/melor-sim" --dump "$sim_dir/flash.bin" --answer-after 2 \
    --timeout 300 > "$sim_dir/sim.out" &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$sim_dir/sim.out" ] && break; sleep 0.05; done
  map_com_port COM5 "$(head -n 1 "$sim_dir/sim.out")"
  echo "-- pentrel-cli.exe firmware.hex \"$port\" under Wine"
  if ! timeout 300 wine "$PENTREL_WIN_BIN/pentrel-cli.exe" 'Z:'"${hex//\//\\}" "$port" \
      > "$sim_dir/cli.out" 2>/dev/null; then
    echo "pentrel-cli.exe did not succeed:"; cat "$sim_dir/cli.out"; status=1
  fi
  [ "$port" = "probe all" ] && other_commands
  stop_sim
  tail -n 1 "$sim_dir/cli.out"
  if ! cmp -s "$sim_dir/expected.bin" "$sim_dir/flash.bin"; then
    echo "the flash does not hold the image"; status=1
  fi
done

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
