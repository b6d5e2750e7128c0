#!/bin/sh
# The real-driver rig's guest side: as the initramfs's /init it loads the USB serial drivers and
# runs the cases named in $cases on ttyS1 (whose output the host reads); each case_* returns
# non-zero on failure after printing why. "plug K [MELOR-SIM OPTION...]", after "unplug K", puts a
# blank board behind ttyUSB<K>; "unplug K image" has the host check that the board holds the image.
hex=/rig/firmware.hex
ok="Last Status: MELOR successfully programmed."

if [ $$ = 1 ]; then
  /bin/busybox --install -s /bin
  mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
  for module in /lib/modules/*.ko; do insmod "$module"; done
  setsid -c sh /init "$cases" <>/dev/ttyS1 >&0 2>&1
  poweroff -f
fi

# until_true COMMAND...: until COMMAND succeeds, for up to 20 s.
until_true() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.2; done
  echo "  waited 20 s for: $*"
  return 1
}
plug() { echo "@plug $*"; until_true test -e "/dev/ttyUSB$1"; }
unplug() { echo "@unplug $*"; until_true test ! -e "/dev/ttyUSB$1"; }
swap() { unplug "$1" image && plug "$1"; }
now() { tr -d . </proc/uptime | cut -d' ' -f1; }  # in centiseconds

# run OUT STATUS ARG...: pentrel-cli ARG... (as user $as if set), stdout in /tmp/OUT and stderr
# in /tmp/OUT.err; fails unless it ends with STATUS. start OUT ARG... runs it in the background.
run() {
  local out=$1 want=$2 status
  shift 2
  if [ -n "$as" ]; then
    timeout 60 su -s /bin/sh "$as" -c "pentrel-cli $*"
  else
    timeout 60 pentrel-cli "$@"
  fi >"/tmp/$out" 2>"/tmp/$out.err"
  status=$?
  [ "$status" = "$want" ] && return 0
  echo "  pentrel-cli $*: status $status, not $want; its output:"
  tail -n 5 "/tmp/$out.err" | cat "/tmp/$out" - | sed 's/^/  | /'
  return 1
}
start() { out=$1; shift; timeout 60 pentrel-cli "$@" >"/tmp/$out" 2>"/tmp/$out.err" & }
# expect OUT LINE: some line of /tmp/OUT is LINE (a basic regex).
expect() {
  grep -qx -- "$2" "/tmp/$1" && return 0
  echo "  no line \"$2\" in /tmp/$1:"
  sed 's/^/  | /' "/tmp/$1"
  return 1
}
no() { echo "  $*"; return 1; }

case_program_verify_read() {
  settings=$(stty -g </dev/ttyUSB0)
  run program 0 "$hex" /dev/ttyUSB0 --fast && expect program "$ok" || return 1
  [ "$(stty -g </dev/ttyUSB0)" = "$settings" ] || no "ttyUSB0's settings changed" || return 1
  run verify 0 verify "$hex" /dev/ttyUSB0 --fast || return 1
  run read 0 read /tmp/flash.bin /dev/ttyUSB0 --length 0x9000 --fast || return 1
  head -c 36864 /rig/expected.bin | cmp - /tmp/flash.bin && swap 0
}

case_two_adapters() {
  run two 0 "$hex" /dev/ttyUSB0 /dev/ttyUSB1 --fast && expect two "Programmed 2 of 2 devices." &&
    swap 0 && swap 1
}

case_ports_lists_the_adapter_and_no_uartless_node() {
  local tab
  tab=$(printf '\t')
  run ports 0 ports &&
    expect ports "COM33$tab/dev/ttyUSB0${tab}USB 0403:6001 QEMU QEMU USB SERIAL RIG0.*" || return 1
  ! grep ttyS /tmp/ports || no "ttyS ports offered (above)"
}

# The guest's ttyS0 is the kernel console and ttyS1 this script's terminal.
case_probe_all_leaves_console_and_own_terminal_alone() {
  local serial settings
  serial=$(cat /proc/tty/driver/serial) settings=$(stty -g)
  run probe 0 info && expect probe "Found MELOR device on COM33" || return 1
  [ "$(cat /proc/tty/driver/serial)" = "$serial" ] || no "a ttyS port was opened or written:" \
    "$serial" "$(cat /proc/tty/driver/serial)" || return 1
  [ "$(stty -g)" = "$settings" ] || no "its own terminal's settings changed"
}

case_dialout_member_programs_and_others_are_refused() {
  chown root:dialout /dev/ttyUSB0 && chmod 0660 /dev/ttyUSB0
  as=guest run outsider 1 "$hex" COM33 && expect outsider "Unable to open COM33 (5)" &&
    as=tech run member 0 "$hex" COM33 --fast && expect member "$ok" && swap 0
}

case_second_instance_refused_and_killed_run_leaves_port_usable() {
  local first
  start first "$hex" COM33
  first=$!
  until_true grep -q "Sending firmware image" /tmp/first.err &&
    run second 1 info COM33 && expect second "Unable to open COM33 (5)"
  local verdict=$?
  kill -KILL $first && wait $first
  [ $verdict = 0 ] && run after 0 "$hex" COM33 --fast && expect after "$ok" && swap 0
}

case_unplug_mid_write_ends_the_run() {
  local cli t0 status
  start cut "$hex" COM33
  cli=$!
  until_true grep -q "Sending firmware image" /tmp/cut.err && unplug 0 || return 1
  t0=$(now)
  wait $cli
  status=$? t0=$(($(now) - t0))
  plug 0 || return 1
  [ "$status" = 1 ] && [ $t0 -le 200 ] || no "status $status ${t0}0 ms after the unplug" ||
    return 1
  expect cut "Last Status: .*" && ! grep -qx "$ok" /tmp/cut
}

case_held_port_is_refused_then_free() {
  cat /dev/ttyUSB0 >/dev/null &
  local holder=$!
  run held 1 "$hex" COM33 --fast && expect held "Unable to open COM33 (5)" &&
    expect held.err "COM33 (/dev/ttyUSB0) is open in cat (pid $holder)" &&
    run skipped 0 info && expect skipped "Found MELOR device on COM34"
  local verdict=$?
  kill $holder 2>/dev/null && wait $holder
  [ $verdict = 0 ] && run freed 0 "$hex" COM33 --fast && expect freed "$ok" && swap 0
}

# Each board stops answering once programmed (its next query hangs it up), as a board running its
# application does; the station waits through that and the unplug, saying so once.
case_station_waits_quietly_across_replug() {
  local byid=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_RIG0-if00-port0 station status
  mkdir -p /dev/serial/by-id && ln -sf ../../ttyUSB0 $byid
  unplug 0 && plug 0 --fault hang-up@query:2 || return 1
  start station "$hex" $byid --repeat --fast
  station=$!
  until_true grep -q "^Station: 1 programmed" /tmp/station && unplug 0 image && sleep 3 &&
    plug 0 --fault hang-up@query:2 && until_true grep -q "^Station: 2 programmed" /tmp/station
  status=$?
  kill -INT $station
  wait $station
  [ $status = 0 ] && swap 0 && expect station "Station: 2 programmed, 0 failed." &&
    [ "$(grep -cx "Unable to open $byid (2)" /tmp/station)" = 1 ] ||
    no "not one whole waiting line in:" "$(cat /tmp/station)" || return 1
  ! sort /tmp/station | uniq -c | grep -v '^ *[12] ' || no "lines repeated while waiting"
}

# wait_lines OUT LINE N: until /tmp/OUT holds LINE N times, for up to 60 s.
wait_lines() {
  for _ in $(seq 300); do [ "$(grep -cx -- "$2" "/tmp/$1")" -ge "$3" ] && return 0; sleep 0.2; done
  no "/tmp/$1 never held \"$2\" $3 times:" "$(cat "/tmp/$1")"
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
  local station status
  run probe_all 2 info --reset dtr && plug 2 $held_dtr &&
    start station "$hex" /dev/ttyUSB2 --repeat --reset dtr --fast || return 1
  station=$!
  wait_lines station "Station: waiting for the board to be taken out." 1 && sleep 3 &&
    for n in 2 3; do
      echo "@control 2 remove" && wait_lines station "Station: waiting for the next board." $n &&
        echo "@control 2 insert" && wait_lines station "Station: $n programmed, 0 failed." 1 || break
    done
  kill -TERM $station
  wait $station
  status=$?
  [ $status = 0 ] && [ "$(grep -c "^$ok" /tmp/station)" = 3 ] && ! grep -q "Station: 4" /tmp/station ||
    no "station: status $status, output:" "$(cat /tmp/station)" || return 1
  echo "@boards 2 2" && unplug 2 image
}

plug 0 && plug 1
for name in $(echo "$1" | tr , ' '); do
  echo "@case $name"
  $name && echo "@pass $name" && continue
  echo "@fail $name"
  unplug 0; unplug 1; plug 0 && plug 1  # the next case starts from two fresh boards
done
