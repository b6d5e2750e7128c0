#!/bin/sh
# The real-driver rig's guest side: as the initramfs's /init it loads the USB serial drivers and
# runs the cases named in $cases on ttyS1 (whose output the host reads); each case_* returns
# non-zero on failure after printing why. "plug K [MELOR-SIM OPTION...]", after "unplug K", puts a
# blank board behind ttyUSB<K>; "unplug K image" has the host check that the board holds the image.
hex=/rig/firmware.hex ok="Last Status: MELOR successfully programmed." tab=$(printf '\t')

if [ $$ = 1 ]; then
  /bin/busybox --install -s /bin
  mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
  for module in /lib/modules/*.ko; do insmod "$module"; done
  setsid -c sh /init "$cases" <>/dev/ttyS1 >&0 2>&1
  poweroff -f
fi

no() { printf '  %s\n' "$@"; return 1; }  # prints why, one line an argument
# until_true COMMAND...: until COMMAND succeeds, for up to 60 s.
until_true() {
  for _ in $(seq 300); do "$@" && return 0; sleep 0.2; done
  no "waited 60 s for: $*"
}
# holds OUT LINE N: /tmp/OUT holds LINE at least N times.
holds() { [ "$(grep -cx -- "$2" "/tmp/$1")" -ge "$3" ]; }
plug() { echo "@plug $*"; until_true test -e "/dev/ttyUSB$1"; }
unplug() { echo "@unplug $*"; until_true test ! -e "/dev/ttyUSB$1"; }
swap() { unplug "$1" image && plug "$1"; }
now() { tr -d . </proc/uptime | cut -d' ' -f1; }  # in centiseconds

# run OUT STATUS ARG...: pentrel-cli ARG... (as user $as if set), stdout in /tmp/OUT and stderr
# in /tmp/OUT.err; fails unless it ends with STATUS. start OUT ARG... runs it in the background as
# $pid, and stop SIGNAL ends that with SIGNAL and its status.
run() {
  local out=$1 want=$2 status
  shift 2
  if [ -n "$as" ]; then timeout 60 su -s /bin/sh "$as" -c "pentrel-cli $*"
  else timeout 60 pentrel-cli "$@"; fi >"/tmp/$out" 2>"/tmp/$out.err"
  status=$?
  [ "$status" = "$want" ] || no "pentrel-cli $*: status $status, not $want; its output:" \
    "$(tail -n 5 "/tmp/$out.err" | cat "/tmp/$out" - | sed 's/^/  | /')"
}
start() { out=$1; shift; timeout 60 pentrel-cli "$@" >"/tmp/$out" 2>"/tmp/$out.err" & pid=$!; }
stop() { kill -"$1" $pid; wait $pid; } 2>/dev/null
# expect OUT LINE: some line of /tmp/OUT is LINE (a basic regex).
expect() {
  grep -qx -- "$2" "/tmp/$1" || no "no line \"$2\" in /tmp/$1:" "$(sed 's/^/  | /' "/tmp/$1")"
}
# programs OUT ARG...: pentrel-cli writes the image through ARG... (port and options).
programs() { local out=$1; shift; run "$out" 0 "$hex" "$@" && expect "$out" "$ok"; }
# refused OUT ARG...: pentrel-cli ARG... cannot open COM33.
refused() { local out=$1; shift; run "$out" 1 "$@" && expect "$out" "Unable to open COM33 (5)"; }

case_program_verify_read() {
  local settings
  settings=$(stty -g </dev/ttyUSB0)
  programs program /dev/ttyUSB0 || return 1
  [ "$(stty -g </dev/ttyUSB0)" = "$settings" ] || no "ttyUSB0's settings changed" || return 1
  run verify 0 verify "$hex" /dev/ttyUSB0 &&
    run read 0 read /tmp/flash.bin /dev/ttyUSB0 --length 0x9000 &&
    head -c 36864 /rig/expected.bin | cmp - /tmp/flash.bin && swap 0
}

case_two_adapters() {
  run two 0 "$hex" /dev/ttyUSB0 /dev/ttyUSB1 && expect two "Programmed 2 of 2 devices." &&
    swap 0 && swap 1
}

case_ports_lists_the_adapter_and_no_uartless_node() {
  run ports 0 ports && expect ports \
    "COM33$tab/dev/ttyUSB0${tab}USB 0403:6001 QEMU QEMU USB SERIAL RIG0, driver ftdi_sio" &&
    { ! grep ttyS /tmp/ports || no "ttyS ports offered (above)"; }
}

# The guest's ttyS0 is the kernel console and ttyS1 this script's terminal.
case_probe_all_leaves_console_and_own_terminal_alone() {
  local serial settings
  serial=$(cat /proc/tty/driver/serial) settings=$(stty -g)
  run probe 0 info && expect probe "Found MELOR device on COM33" || return 1
  [ "$(cat /proc/tty/driver/serial)" = "$serial" ] ||
    no "a ttyS port was opened or written:" "$serial" "$(cat /proc/tty/driver/serial)" || return 1
  [ "$(stty -g)" = "$settings" ] || no "its own terminal's settings changed"
}

case_dialout_member_programs_and_others_are_refused() {
  chown root:dialout /dev/ttyUSB0 && chmod 0660 /dev/ttyUSB0 &&
    as=guest refused outsider "$hex" COM33 && as=tech programs member COM33 && swap 0
}

case_second_instance_refused_and_killed_run_leaves_port_usable() {
  start first "$hex" COM33
  until_true grep -q "Sending firmware image" /tmp/first.err && refused second info COM33
  local verdict=$?
  stop KILL
  [ $verdict = 0 ] && programs after COM33 && swap 0
}

case_unplug_mid_write_ends_the_run() {
  local t0 status
  start cut "$hex" COM33
  until_true grep -q "Sending firmware image" /tmp/cut.err && unplug 0 || return 1
  t0=$(now)
  wait $pid
  status=$? t0=$(($(now) - t0))
  plug 0 || return 1
  [ "$status" = 1 ] && [ $t0 -le 200 ] || no "status $status ${t0}0 ms after the unplug" ||
    return 1
  expect cut "Last Status: .*" && ! grep -qx "$ok" /tmp/cut
}

case_held_port_is_refused_then_free() {
  cat /dev/ttyUSB0 >/dev/null &
  pid=$!
  refused held "$hex" COM33 && expect held.err "COM33 (/dev/ttyUSB0) is open in cat (pid $pid)" &&
    run skipped 0 info && expect skipped "Found MELOR device on COM34"
  local verdict=$?
  stop TERM
  [ $verdict = 0 ] && programs freed COM33 && swap 0
}

# Each board stops answering once programmed (its next query hangs it up), as a board running its
# application does; the station waits through that and the unplug, saying so once.
case_station_waits_quietly_across_replug() {
  local byid=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_RIG0-if00-port0 status
  mkdir -p /dev/serial/by-id && ln -sf ../../ttyUSB0 $byid
  unplug 0 && plug 0 --fault hang-up@query:2 || return 1
  start station "$hex" $byid --repeat
  until_true grep -q "^Station: 1 programmed" /tmp/station && unplug 0 image && sleep 3 &&
    plug 0 --fault hang-up@query:2 && until_true grep -q "^Station: 2 programmed" /tmp/station
  status=$?
  stop INT
  [ $status = 0 ] && swap 0 && expect station "Station: 2 programmed, 0 failed." &&
    [ "$(grep -cx "Unable to open $byid (2)" /tmp/station)" = 1 ] ||
    no "not one whole waiting line in:" "$(cat /tmp/station)" || return 1
  # Each wait's lines (up to "MELOR not detected") differ from the wait's before them.
  awk '/^Station:/ {group = last = ""; next} {group = group $0 "\n"}
    /^MELOR not detected$/ {if (group == last) exit 1; last = group; group = ""}' /tmp/station ||
    no "lines repeated while waiting in:" "$(cat /tmp/station)"
}

prompt="<<< Press the MELOR reset button now >>>"
held_dtr="--needs-reset dtr --reset-wiring held"

# A board whose reset is held while DTR is asserted: --reset dtr programs it without a prompt;
# without --reset it stays in reset.
case_reset_dtr() {
  plug 2 $held_dtr && programs reset /dev/ttyUSB2 --reset dtr && ! grep -q "$prompt" /tmp/reset.err &&
    unplug 2 image && plug 2 $held_dtr && run plain 1 "$hex" /dev/ttyUSB2 &&
    expect plain "Last Status: MELOR not found" && grep -q "$prompt" /tmp/plain.err && unplug 2
}

# Held by RTS: programmed, and RTS released from the first command to the close.
case_reset_rts_held() {
  plug 2 --needs-reset rts --reset-wiring held && programs rts /dev/ttyUSB2 --reset rts &&
    echo "@released 2 rts" && unplug 2 image
}

# Through a capacitor, a board that misses the first pulse (the port's opening gives it) is reset
# again at the prompt's attempt.
case_reset_again_at_prompt() {
  plug 2 --needs-reset dtr --miss-resets 1 && programs again /dev/ttyUSB2 --reset dtr &&
    expect again "No answer: reset through DTR again" && unplug 2 image
}

# A station with --reset: three boards in turn, each programmed and counted once, the first left
# in place a while; "probe all" with --reset is refused.
case_reset_station() {
  run probe_all 2 info --reset dtr && plug 2 $held_dtr || return 1
  start station "$hex" /dev/ttyUSB2 --repeat --reset dtr
  until_true holds station "Station: waiting for the board to be taken out." 1 && sleep 3 &&
    for n in 2 3; do
      echo "@control 2 remove" && until_true holds station "Station: waiting for the next board." $n &&
        echo "@control 2 insert" &&
        until_true holds station "Station: $n programmed, 0 failed." 1 || break
    done
  stop TERM
  local status=$?
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
