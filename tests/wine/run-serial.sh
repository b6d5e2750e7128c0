#!/usr/bin/env bash
# Runs the Windows build's serial checks under Wine against COM5, a pseudo-terminal whose far end
# (socat with cat behind it) echoes every byte.
source "$(dirname "$0")/wine_env.sh"
checks="$PENTREL_WIN_BIN/serial_wine_checks.exe"
[ -x "$checks" ] || { echo "missing $checks: build the windows preset first" >&2; exit 1; }
init_prefix

link_dir=$(mktemp -d /tmp/pentrel-echo.XXXXXX)
socat PTY,link="$link_dir/tty",rawer,echo=0 EXEC:cat,nofork 2>/dev/null &
echo_pid=$!
stop_echo() { kill "$echo_pid" 2>/dev/null || true; rm -rf "$link_dir"; wine_env_cleanup >/dev/null 2>&1; }
trap stop_echo EXIT
for _ in $(seq 50); do [ -e "$link_dir/tty" ] && break; sleep 0.1; done
[ -e "$link_dir/tty" ] || { echo "socat did not make its pty" >&2; exit 1; }

map_com_port COM5 "$(readlink -f "$link_dir/tty")" >/dev/null 2>&1
# Started here, so that its diagnostics at shutdown do not bury the test output.
wineserver >/dev/null 2>&1
echo "-- $(basename "$checks") under Wine, COM5 on $(readlink -f "$link_dir/tty")"
PENTREL_TEST_COM=COM5 timeout 300 wine "$checks" --gtest_brief=1
