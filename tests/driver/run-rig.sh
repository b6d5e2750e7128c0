#!/usr/bin/env bash
# The real-driver rig: pentrel-cli inside a small Linux guest under QEMU, on the guest kernel's own
# xHCI, usbserial and ftdi_sio drivers, whose emulated FTDI adapters lead to melor-sim ptys here.
# Cases are the case_* functions of cases.sh (all, or those named), run in one boot; the guest asks
# for adapters ("@plug K [MELOR-SIM OPTION...]", "@unplug K [image]", where "image" checks the
# adapter's flash dump against the image) and reports "@pass CASE" or "@fail CASE".
# RIG_QEMU_ARGS adds QEMU arguments, RIG_SIM_ARGS melor-sim options for every adapter.
# Usage: run-rig.sh BUILD_FOLDER [CASE...]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/prerequisites.sh
install_prerequisites qemu-system-x86 linux-image-amd64 busybox-static cpio socat srecord binutils
build=$(cd "${1:?usage: run-rig.sh BUILD_FOLDER [CASE...]}" && pwd)
shift
cases=("$@")
[ $# -gt 0 ] ||
  mapfile -t cases < <(sed -n 's/^\(case_[a-z0-9_]*\)() {.*/\1/p' tests/driver/cases.sh)
kernel=$(ls /boot/vmlinuz-* | sort -V | tail -n 1)
modules=/lib/modules/${kernel#/boot/vmlinuz-}
initramfs=$build/driver-rig.cpio.gz
work=$(mktemp -d /tmp/pentrel-rig.XXXXXX)
qemu_pid="" follower="" sims=()
trap 'kill $qemu_pid $follower ${sims[*]} 2>/dev/null || true; wait; rm -rf "$work"' EXIT

# The modules xhci-pci and ftdi_sio need, each after those it depends on (modules.dep order).
module_chain() {
  local wanted line module seen=" "
  for wanted in xhci-pci ftdi_sio; do
    line=$(grep -E "/$wanted\.ko[.a-z]*:" "$modules/modules.dep")
    for module in $(tr ' ' '\n' <<< "${line#*:}" | tac) "${line%%:*}"; do
      [[ $seen == *" $module "* ]] || { echo "$module"; seen+="$module "; }
    done
  done
}

make_initramfs() {
  local root=$work/root n=10 module lib
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,rig,lib/modules}
  cp /bin/busybox "$root/bin/"
  ln -s busybox "$root/bin/sh"
  strip -o "$root/bin/pentrel-cli" "$build/bin/pentrel-cli"
  for lib in $(ldd "$build/bin/pentrel-cli" | grep -o '/[^ ]*'); do
    cp -L --parents "$lib" "$root"
  done
  for module in $(module_chain); do  # numbered, so that the guest loads them in this order
    case $module in *.xz) xz -dc ;; *) cat ;; esac < "$modules/$module" \
      > "$root/lib/modules/$((n++))-$(basename "${module%.ko*}").ko"
  done
  install -m 755 tests/driver/cases.sh "$root/init"
  cp examples/firmware.hex "$work/expected.bin" "$root/rig/"
  printf '%s\n' root:x:0:0::/:/bin/sh tech:x:1000:1000::/tmp:/bin/sh \
    guest:x:1001:1001::/tmp:/bin/sh > "$root/etc/passwd"
  printf '%s\n' root:x:0: dialout:x:20:tech tech:x:1000: guest:x:1001: > "$root/etc/group"
  (cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 > "$initramfs"
}

# qmp COMMAND [ARGUMENTS-JSON]: one QMP command, waiting for its answer.
qmp() {
  local reply
  echo "{\"execute\":\"$1\",\"arguments\":${2:-{\}}}" >&"${QMP[1]}"
  while read -r -t 20 reply <&"${QMP[0]}"; do
    case $reply in
      *'"return"'*) return 0 ;;
      *'"error"'*) echo "rig: QMP $1: $reply" >&2; return 1 ;;
    esac
  done
  return 1
}

plug() {
  local k=$1 pty=""
  shift
  # shellcheck disable=SC2086
  "$build/bin/melor-sim" --dump "$work/dump$k" --timeout 600 --control "$work/control-u$k" \
    --trace "$work/trace$k" ${RIG_SIM_ARGS:-} "$@" > "$work/sim$k.out" &
  sims[k]=$!
  until [ -n "$pty" ]; do
    kill -0 "${sims[k]}" || return 1
    sleep 0.05
    pty=$(head -n 1 "$work/sim$k.out")
  done
  qmp chardev-add '{"id":"s'$k'","backend":{"type":"serial","data":{"device":"'$pty'"}}}' &&
    qmp device_add '{"driver":"usb-serial","bus":"xhci.0","id":"u'$k'","chardev":"s'$k'",
      "serial":"RIG'$k'"}'
}

unplug() {
  local k=$1
  [ -n "${sims[k]:-}" ] || return 0
  qmp device_del '{"id":"u'$k'"}' || return 1
  for _ in $(seq 50); do  # the chardev stays busy until the guest has let the device go
    qmp chardev-remove '{"id":"s'$k'"}' 2>/dev/null && break
    sleep 0.1
  done
  kill -TERM "${sims[k]}" 2>/dev/null || true
  wait "${sims[k]}" || true
  sims[k]=""
  [ "${2:-}" != image ] || cmp -s "$work/dump$k" "$work/expected.bin" ||
    broken+=" (adapter $k's flash does not hold the image)"
}

# released K LINE: from adapter K's first command to its close, LINE was never asserted.
released() {
  sed -n '/^rx /,/cmd=close/p' "$work/trace$1" | grep -q "^lines.* $2=1" &&
    broken+=" ($2 was asserted during adapter $1's run)"
  grep -q "cmd=close" "$work/trace$1" || broken+=" (adapter $1's run did not close)"
}

# boards K N: adapter K's boards 1 to N, taken out through its control input, hold the image.
boards() {
  for n in $(seq "$2"); do
    cmp -s "$work/dump$1.$n" "$work/expected.bin" || broken+=" (board $n of adapter $1 does not hold the image)"
  done
}

srec_cat examples/firmware.hex -intel -offset -0x1D000000 -fill 0xFF 0 0x80000 \
  -o "$work/expected.bin" -binary
for input in "$build/bin/pentrel-cli" tests/driver/*.sh examples/firmware.hex \
    "$modules/modules.dep"; do
  [ "$initramfs" -nt "$input" ] || { make_initramfs; break; }
done
list=${cases[*]}
# shellcheck disable=SC2086
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -nodefaults -no-user-config -display none \
  -no-reboot -kernel "$kernel" -initrd "$initramfs" \
  -append "console=ttyS0 quiet panic=-1 cases=${list// /,}" \
  -serial "file:$work/console.log" -serial "file:$work/guest.out" -device qemu-xhci,id=xhci \
  -qmp "unix:$work/qmp,server=on,wait=off" -qmp "unix:$work/qmp-lines,server=on,wait=off" \
  -trace usb_serial_handle_control -D "$work/qemu.trace" ${RIG_QEMU_ARGS:-} &
qemu_pid=$!
# Every DTR/RTS change the guest's driver makes reaches the melor-sim behind its adapter.
python3 tests/driver/follow_modem_lines.py "$work/qemu.trace" "$work/qmp-lines" "$work/control-%s" &
follower=$!
until [ -S "$work/qmp" ]; do kill -0 "$qemu_pid" || exit 1; sleep 0.05; done
coproc QMP { socat - "UNIX-CONNECT:$work/qmp"; }
qmp qmp_capabilities

passed=0 failed=0 reported=" " broken=""
while IFS= read -r line; do
  line=${line%$'\r'}
  read -r tag k rest <<< "$line"
  case $tag in
    @plug) plug "$k" $rest || broken+=" (adapter $k not plugged)" ;;
    @unplug) unplug "$k" "$rest" || broken+=" (adapter $k not unplugged)" ;;
    @control) echo "$rest" > "$work/control-u$k" ;;
    @released) released "$k" "$rest" ;;
    @boards) boards "$k" "$rest" ;;
    @case) broken="" started=$SECONDS ;;
    @pass | @fail)
      reported+="$k "
      if [ "$tag$broken" = @pass ]; then
        passed=$((passed + 1)) && echo "ok   $k ($((SECONDS - started)) s)"
      else
        failed=$((failed + 1)) && echo "FAIL $k$broken"
      fi ;;
    *) echo "  $line" ;;
  esac
done < <(tail -F -s 0.1 -n +1 --pid="$qemu_pid" "$work/guest.out" 2>/dev/null)
for name in "${cases[@]}"; do
  [[ $reported == *" $name "* ]] || { failed=$((failed + 1)) && echo "FAIL $name: no verdict"; }
done
[[ $reported == *" ${cases[-1]} "* ]] ||
  { echo "the guest's console ended:" && tail -n 15 "$work/console.log"; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
