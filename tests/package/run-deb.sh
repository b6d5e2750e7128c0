#!/usr/bin/env bash
# The Debian package, unpacked into a scratch root with dpkg -x: it holds both programs, the man
# page and the documents, nothing in the programs points back into the build tree, and the
# installed pentrel-cli programs the installed melor-sim, whose flash then holds exactly the image.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/prerequisites.sh
source scripts/lib/debian_package.sh
install_prerequisites cmake make g++ libcli11-dev nlohmann-json3-dev libssl-dev help2man dpkg-dev srecord

deb=$(build_debian_package)
work=$(mktemp -d /tmp/pentrel-deb.XXXXXX)
sim_pid=""
trap '[ -z "$sim_pid" ] || { kill "$sim_pid"; wait "$sim_pid"; } 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

root="$work/root"
dpkg -x "$deb" "$root"
for file in usr/bin/pentrel-cli usr/bin/melor-sim usr/share/man/man1/pentrel-cli.1.gz \
    usr/share/doc/pentrel/README.md usr/share/doc/pentrel/LICENSE; do
  [ -s "$root/$file" ] || fail "$file is missing from $(basename "$deb")"
done
dpkg-deb -f "$deb" Depends | grep -q 'libssl3' ||
  fail "the package does not depend on libssl3, whose libcrypto computes the digests"
zcat "$root/usr/share/man/man1/pentrel-cli.1.gz" | grep -q -F -- '\-\-plain\-reads' ||
  fail "the man page does not hold pentrel-cli's options"
if grep -l -F "$PWD" "$root/usr/bin/pentrel-cli" "$root/usr/bin/melor-sim"; then
  fail "a program names the source or build tree"
fi

mkdir "$work/dosdevices"
"$root/usr/bin/melor-sim" --link "$work/dosdevices/COM3" --dump "$work/flash.bin" \
  --timeout 120 > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/dosdevices/COM3" ] && break; sleep 0.05; done
(cd "$work" && PATH="$root/usr/bin:/usr/bin:/bin" PENTREL_DOSDEVICES="$work/dosdevices" \
  pentrel-cli "$OLDPWD/examples/firmware.hex" COM3 > "$work/cli.out" 2> /dev/null) ||
  fail "the installed pentrel-cli ended with status $? ($(tail -n 1 "$work/cli.out"))"
kill -TERM "$sim_pid" && wait "$sim_pid" || true
sim_pid=""
srec_cat examples/firmware.hex -intel -offset -0x1D000000 -fill 0xFF 0 0x80000 \
  -o "$work/expected.bin" -binary
cmp -s "$work/expected.bin" "$work/flash.bin" || fail "the flash does not hold the image"
echo "package test: $(basename "$deb") installs a working pentrel-cli and melor-sim"
