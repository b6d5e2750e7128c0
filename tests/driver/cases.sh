#!/bin/sh
# The real-driver rig's guest side: as the initramfs's /init it loads the USB serial drivers and
# runs the cases named in $cases on ttyS1 (whose output the host reads); each case_* returns
# non-zero on failure after printing why. "plug K" and "unplug K [image]" ask the host for them.
hex=/rig/firmware.hex
ok="Last Status: MELOR successfully programmed."

if [ $$ = 1 ]; then
  /bin/busybox --install -s /bin
  mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
  for module in /lib/modules/*.ko; do insmod "$module"; done
  setsid -c sh /init "$cases" <>/dev/ttyS1 >&0 2>&1
  poweroff -f
fi

# wait_node PATH [!]: until PATH exists (or, with !, is gone), for up to 20 s.
wait_node() {
  for _ in $(seq 100); do
    if [ -e "$1" ]; then [ -z "$2" ] && return 0; else [ -n "$2" ] && return 0; fi
    sleep 0.2
  done
  echo "  $1 did not ${2:+dis}appear"
  return 1
}
plug() { echo "@plug $*"; wait_node "/dev/ttyUSB$1"; }
unplug() { echo "@unplug $*"; wait_node "/dev/ttyUSB$1" !; }
swap() { unplug "$1" image && plug "$1"; }

# run NAME STATUS ARG...: pentrel-cli ARG... (as user $as if set), stdout in /tmp/NAME and stderr
# in /tmp/NAME.err; fails unless it ends with STATUS.
run() {
  local out=$1 want=$2 status
  shift 2
  if [ -n "$as" ]; then
    timeout 120 su -s /bin/sh "$as" -c "pentrel-cli $*"
  else
    timeout 120 pentrel-cli "$@"
  fi >"/tmp/$out" 2>"/tmp/$out.err"
  status=$?
  [ "$status" = "$want" ] && return 0
  echo "  pentrel-cli $*: status $status, not $want; its output:"
  sed 's/^/  | /' "/tmp/$out" "/tmp/$out.err"
  return 1
}
# expect FILE LINE: some line of /tmp/FILE is LINE (a basic regex).
expect() {
  grep -qx -- "$2" "/tmp/$1" && return 0
  echo "  no line \"$2\" in /tmp/$1:"
  sed 's/^/  | /' "/tmp/$1"
  return 1
}

case_program_verify_read() {
  settings=$(stty -g </dev/ttyUSB0)
  run program 0 "$hex" /dev/ttyUSB0 --fast && expect program "$ok" || return 1
  [ "$(stty -g </dev/ttyUSB0)" = "$settings" ] || { echo "  ttyUSB0's settings changed"; return 1; }
  run verify 0 verify "$hex" /dev/ttyUSB0 --fast || return 1
  run read 0 read /tmp/flash.bin /dev/ttyUSB0 --length 0x9000 --fast || return 1
  head -c 36864 /rig/expected.bin | cmp - /tmp/flash.bin && swap 0
}

# wait_lines FILE LINE N: until /tmp/FILE holds LINE N times, for up to 60 s.
wait_lines() {
  for _ in $(seq 300); do [ "$(grep -cx -- "$2" "/tmp/$1")" -ge "$3" ] && return 0; sleep 0.2; done
  echo "  /tmp/$1 never held \"$2\" $3 times:" && sed 's/^/  | /' "/tmp/$1" && return 1
}
prompt="<<< Press the MELOR reset button now >>>"
held_dtr="--needs-reset dtr --reset-wiring held"

# A board whose reset is held while DTR is asserted: --reset dtr programs it without a prompt;
# without --reset it stays in reset.
case_reset_dtr() {
  plug 2 $held_dtr && run reset 0 "$hex" /dev/ttyUSB2 --reset dtr --fast && expect reset "$ok" &&
    ! grep -q "$prompt" /tmp/reset.err && unplug 2 image && plug 2 $held_dtr &&
    run plain 1 "$hex" /dev/ttyUSB2 --fast && expect plain "Last Status: MELOR not found" &&
    grep -q "$prompt" /tmp/plain.err && unplug 2
}

# Held by RTS: programmed, and RTS released from the first command to the close.
case_reset_rts_held() {
  plug 2 --needs-reset rts --reset-wiring held && run rts 0 "$hex" /dev/ttyUSB2 --reset rts --fast &&
    expect rts "$ok" && echo "@released 2 rts" && unplug 2 image
}

# Through a capacitor, a board that misses the first pulse (the port's opening gives it) is reset
# again at the prompt's attempt.
case_reset_again_at_prompt() {
  plug 2 --needs-reset dtr --miss-resets 1 && run again 0 "$hex" /dev/ttyUSB2 --reset dtr --fast &&
    expect again "$ok" && expect again "No answer: reset through DTR again" && unplug 2 image
}

# A station with --reset: three boards in turn, each programmed and counted once, the first left
# in place a while; "probe all" with --reset is refused.
case_reset_station() {
  run probe_all 2 info --reset dtr && plug 2 $held_dtr || return 1
  pentrel-cli "$hex" /dev/ttyUSB2 --repeat --reset dtr --fast >/tmp/station 2>&1 &
  station=$!
  wait_lines station "Station: waiting for the board to be taken out." 1 && sleep 5 &&
    for n in 2 3; do
      echo "@control 2 remove" && wait_lines station "Station: waiting for the next board." "$n" &&
        echo "@control 2 insert" && wait_lines station "Station: $n programmed, 0 failed." 1 || break
    done
  kill -TERM $station
  wait $station
  status=$?
  [ "$status" = 0 ] && [ "$(grep -c "^$ok" /tmp/station)" = 3 ] && ! grep -q "Station: 4" /tmp/station ||
    { echo "  station: status $status"; sed 's/^/  | /' /tmp/station; return 1; }
  echo "@boards 2 2"
  unplug 2 image
}

plug 0 && plug 1
for name in $(echo "$1" | tr , ' '); do
  echo "@case $name"
  if $name; then echo "@pass $name"; else echo "@fail $name"; fi
done
