#!/usr/bin/env bash
# The real-driver rig: pentrel-cli inside a small Linux guest under QEMU, on the guest kernel's own
# xHCI, usbserial and ftdi_sio drivers, whose emulated FTDI adapters lead to melor-sim ptys here.
# Cases are the case_* functions of cases.sh (all, or those named), run in one boot; the guest's
# "@" lines (read at the end) ask for adapters and host-side checks and give each case's verdict.
# RIG_QEMU_ARGS adds QEMU arguments, RIG_SIM_ARGS melor-sim options for every adapter.
# Usage: run-rig.sh BUILD_FOLDER [CASE...]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/prerequisites.sh
install_prerequisites qemu-system-x86 linux-image-amd64 busybox-static cpio socat srecord binutils
build=$(cd "${1:?usage: run-rig.sh BUILD_FOLDER [CASE...]}" && pwd)
cases=("${@:2}")
[ $# -gt 1 ] || mapfile -t cases < <(sed -n 's/^\(case_[a-z0-9_]*\)() {.*/\1/p' tests/driver/cases.sh)
kernel=$(ls /boot/vmlinuz-* | sort -V | tail -n 1)
modules=/lib/modules/${kernel#/boot/vmlinuz-}
initramfs=$build/driver-rig.cpio.gz
work=$(mktemp -d /tmp/pentrel-rig.XXXXXX)
qemu_pid="" follower="" sims=()
trap 'kill $qemu_pid $follower ${sims[*]} 2>/dev/null || true; wait; rm -rf "$work"' EXIT

make_initramfs() {
  local root=$work/root n=10 wanted line module seen=" "
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,rig,lib/modules}
  cp /bin/busybox "$root/bin/"
  ln -s busybox "$root/bin/sh"
  strip -o "$root/bin/pentrel-cli" "$build/bin/pentrel-cli"
  cp -L --parents $(ldd "$build/bin/pentrel-cli" | grep -o '/[^ ]*') "$root"
  # The modules xhci-pci and ftdi_sio need, each once and after those it depends on (modules.dep
  # order), numbered so that the guest loads them in this order.
  for wanted in xhci-pci ftdi_sio; do
    line=$(grep -E "/$wanted\.ko[.a-z]*:" "$modules/modules.dep")
    for module in $(tr ' ' '\n' <<< "${line#*:}" | tac) "${line%%:*}"; do
      [[ $seen != *" $module "* ]] && seen+="$module " && n=$((n + 1)) &&
        xz -dcf "$modules/$module" > "$root/lib/modules/$n-$(basename "${module%.ko*}").ko"
    done
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
    [[ $reply == *'"return"'* ]] && return 0
    [[ $reply == *'"error"'* ]] && echo "rig: QMP $1: $reply" >&2 && return 1
  done
  return 1
}

plug() {
  local k=$1 pty
  shift
  # shellcheck disable=SC2086
  "$build/bin/melor-sim" --dump "$work/dump$k" --timeout 600 --control "$work/control-u$k" \
    --trace "$work/trace$k" ${RIG_SIM_ARGS:-} "$@" > "$work/sim$k.out" &
  sims[k]=$!
  until pty=$(head -n 1 "$work/sim$k.out") && [ -n "$pty" ]; do
    kill -0 "${sims[k]}" && sleep 0.05 || return 1
  done
  qmp chardev-add '{"id":"s'$k'","backend":{"type":"serial","data":{"device":"'$pty'"}}}' &&
    qmp device_add '{"driver":"usb-serial","bus":"xhci.0","id":"u'$k'","chardev":"s'$k'",
      "serial":"RIG'$k'"}'
}

unplug() {
  local k=$1
  [ -n "${sims[k]:-}" ] || return 0
  qmp device_del '{"id":"u'$k'"}' || return 1
  # The chardev stays busy until the guest has let the device go.
  for _ in $(seq 50); do qmp chardev-remove '{"id":"s'$k'"}' 2>/dev/null && break; sleep 0.1; done
  { kill -TERM "${sims[k]}" && wait "${sims[k]}"; } 2>/dev/null || true
  sims[k]=""
  [ "${2:-}" != image ] || holds_image "$work/dump$k" "adapter $k's flash"
}

# holds_image DUMP WHAT: the flash dump DUMP (WHAT) holds the image.
holds_image() { cmp -s "$1" "$work/expected.bin" || broken+=" ($2 does not hold the image)"; }

# released K LINE: from adapter K's first command to its close, LINE was never asserted.
released() {
  sed -n '/^rx /,/cmd=close/p' "$work/trace$1" | grep -q "^lines.* $2=1" &&
    broken+=" ($2 was asserted during adapter $1's run)"
  grep -q "cmd=close" "$work/trace$1" || broken+=" (adapter $1's run did not close)"
}

srec_cat examples/firmware.hex -intel -offset -0x1D000000 -fill 0xFF 0 0x80000 \
  -o "$work/expected.bin" -binary
for input in "$build/bin/pentrel-cli" tests/driver/*.sh examples/firmware.hex \
    "$modules/modules.dep"; do
  [ "$initramfs" -nt "$input" ] || { make_initramfs; break; }
done
# shellcheck disable=SC2086
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -nodefaults -no-user-config -display none \
  -no-reboot -kernel "$kernel" -initrd "$initramfs" \
  -append "console=ttyS0 quiet panic=-1 cases=$(IFS=,; echo "${cases[*]}")" \
  -serial "file:$work/console.log" -serial "file:$work/guest.out" -device qemu-xhci,id=xhci \
  -qmp "unix:$work/qmp,server=on,wait=off" -qmp "unix:$work/qmp-lines,server=on,wait=off" \
  -trace usb_serial_handle_control -D "$work/qemu.trace" ${RIG_QEMU_ARGS:-} &
qemu_pid=$!
until [ -S "$work/qmp" ] && [ -S "$work/qmp-lines" ]; do kill -0 "$qemu_pid" || exit 1; sleep 0.05; done
# Every DTR/RTS change the guest's driver makes reaches the melor-sim behind its adapter.
tail -F -s 0.01 -n +1 --pid="$qemu_pid" "$work/qemu.trace" 2>/dev/null |
  python3 tests/driver/follow_modem_lines.py "$work/qmp-lines" "$work/control-%s" &
follower=$!
coproc QMP { socat - "UNIX-CONNECT:$work/qmp"; }
qmp qmp_capabilities

failed=0 reported=" " broken=""
while IFS= read -r line; do
  line=${line%$'\r'}
  read -r tag k rest <<< "$line"
  case $tag in
    @plug) plug "$k" $rest || broken+=" (adapter $k not plugged)" ;;
    @unplug) unplug "$k" "$rest" || broken+=" (adapter $k not unplugged)" ;;
    @control) echo "$rest" > "$work/control-u$k" ;;
    @released) released "$k" "$rest" ;;
    @boards)  # boards 1 to N, taken out through the adapter's control input
      for n in $(seq "$rest"); do holds_image "$work/dump$k.$n" "board $n of adapter $k"; done ;;
    @case) broken="" started=$SECONDS ;;
    @pass | @fail)
      reported+="$k "
      [ "$tag$broken" = @pass ] && echo "ok   $k ($((SECONDS - started)) s)" ||
        { failed=$((failed + 1)) && echo "FAIL $k$broken"; } ;;
    *) echo "  $line" ;;
  esac
done < <(tail -F -s 0.1 -n +1 --pid="$qemu_pid" "$work/guest.out" 2>/dev/null)
for name in "${cases[@]}"; do
  [[ $reported == *" $name "* ]] || { failed=$((failed + 1)) && echo "FAIL $name: no verdict"; }
done
[[ $reported == *" ${cases[-1]} "* ]] ||
  { echo "the guest's console ended:" && tail -n 15 "$work/console.log"; }
echo "$((${#cases[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
