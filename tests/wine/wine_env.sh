# Sourced by the Wine test scripts: a fresh, throw-away Wine prefix and a virtual display.
# Sets WINEPREFIX, WINEDEBUG and DISPLAY, and registers cleanup on exit.
set -euo pipefail
PENTREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PENTREL_WIN_BIN="$PENTREL_ROOT/build/windows/bin"
export WINEDEBUG=-all
export WINEPREFIX=$(mktemp -d /tmp/pentrel-wine.XXXXXX)
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko prompts in a fresh prefix

wine_env_cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "${PENTREL_XVFB_PID:-}" ] && kill "$PENTREL_XVFB_PID" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap wine_env_cleanup EXIT

# A display for the programs that open windows: Xvfb on the first free display number.
start_display() {
  local number=90
  while [ -e /tmp/.X11-unix/X$number ] || [ -e /tmp/.X$number-lock ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  PENTREL_XVFB_PID=$!
  export DISPLAY=":$number"
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$number ] && return 0; sleep 0.1; done
  echo "Xvfb did not start" >&2
  return 1
}

# Creates the prefix once, before the first test, so that no test pays for it.
init_prefix() {
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
}

# Maps a device path (a melor-sim pty) to a COM port name in the prefix: map_com_port COM5 /dev/pts/3
# Wine's mount manager brings dosdevices/comN up to date with the registry only when its next
# session starts, and programs started at once may open the port before it has; the link is set
# here too, so no program can find the previous test's device behind the name.
map_com_port() {
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$2" /f >/dev/null 2>&1
  ln -sfn "$2" "$WINEPREFIX/dosdevices/${1,,}"
  wineserver -k
  wineserver -w 2>/dev/null || true
}
