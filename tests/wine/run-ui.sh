#!/usr/bin/env bash
# Tests pentrel.exe under Wine and Xvfb: pentrel_ui_wine_driver.exe runs each scenario through the
# program's own windows, with melor-sim behind COM5 (the device) and a silent melor-sim behind
# COM6 (a port without a device). Every scenario gets fresh simulators; the good run's flash dump
# is compared with the image. Screenshots land in build/windows/screenshots/.
# PENTREL_UI_ONLY=REGEX runs only the scenarios whose Suite.name matches.
source "$(dirname "$0")/wine_env.sh"

SIM="$PENTREL_ROOT/build/native/bin/melor-sim"
DRIVER="$PENTREL_WIN_BIN/pentrel_ui_wine_driver.exe"
PROGRAM="$PENTREL_WIN_BIN/pentrel.exe"
SHOTS="$PENTREL_ROOT/build/windows/screenshots"
for needed in "$SIM" "$DRIVER" "$PROGRAM"; do
  if [ ! -e "$needed" ]; then
    echo "run-ui.sh: $needed is missing; build the native and windows presets first" >&2
    exit 1
  fi
done

WORK=$(mktemp -d /tmp/pentrel-ui.XXXXXX)
SIM_PIDS=()
WATCHER_PID=""

stop_sims() {
  local pid
  for pid in "${SIM_PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    # melor-sim writes its dump as it ends; give it a moment, then make sure it is gone.
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  SIM_PIDS=()
}

run_ui_cleanup() {
  stop_sims
  [ -n "$WATCHER_PID" ] && kill "$WATCHER_PID" 2>/dev/null || true
  rm -rf "$WORK"
  wine_env_cleanup
}
trap run_ui_cleanup EXIT

# start_sim LINK [melor-sim options...]: a simulator whose pty is linked at LINK.
start_sim() {
  local link=$1
  shift
  rm -f "$link"
  "$SIM" --link "$link" --timeout 900 "$@" >"$link.log" 2>&1 &
  SIM_PIDS+=($!)
  for _ in $(seq 100); do [ -e "$link" ] && return 0; sleep 0.05; done
  echo "run-ui.sh: melor-sim did not create $link" >&2
  return 1
}

# The image: 16,001 bytes at 0x1D000000 (writing it takes seconds, long enough to watch the log
# scroll) with an erased 512-byte stretch (sent as a blank chunk), ending off a multiple of 4.
make_fixtures() {
  python3 - "$WORK" <<'PY'
import sys
work = sys.argv[1]
data = bytearray(((i * 73) ^ (i >> 3)) & 0xFF for i in range(16001))
data[512:1024] = b"\xff" * 512
open(f"{work}/image.bin", "wb").write(data)
PY
  srec_cat "$WORK/image.bin" -binary -offset 0x1D000000 -o "$WORK/good.hex" -intel >/dev/null
}

# Requests from the driver: it writes NAME.request and waits for NAME.done. "shot WxH+X+Y" takes a
# screenshot of that rectangle as NAME.png; "xdotool ARGS..." sends real X input to the display.
watch_requests() {
  local request name kind args
  while true; do
    for request in "$REQUESTS"/*.request; do
      [ -e "$request" ] || continue
      name=$(basename "$request" .request)
      read -r kind args <"$request" || true
      rm -f "$request"
      case $kind in
        shot) import -window root -crop "$args" +repage "png:$SHOTS/$name.tmp" &&
          mv "$SHOTS/$name.tmp" "$SHOTS/$name.png" ;;
        xdotool) xdotool $args ;;
        *) false ;;
      esac && touch "$REQUESTS/$name.done"  # a request that failed is never done
    done
    sleep 0.1
  done
}

# Debian's Wine looks for its own fonts (share/wine/fonts) at "<data dir>\../fonts", a path its
# file layer refuses, and fontconfig does not list that folder either. So a fresh prefix lacks
# Marlett (the caption buttons show the letters 0 1 r) and Tahoma (the dialog font). Windows keeps
# such fonts in its Fonts folder, and so does this prefix.
install_wine_fonts() {
  cp "$(dirname "$(readlink -f "$(command -v wine)")")"/../share/wine/fonts/*.ttf \
    "$WINEPREFIX/drive_c/windows/Fonts/"
}

# The device's flash, from its dump, must begin with the image and be erased after it.
check_dump() {
  local dump=$WORK/device.dump
  [ -s "$dump" ] || { echo "run-ui.sh: melor-sim wrote no dump" >&2; return 1; }
  python3 - "$WORK/image.bin" "$dump" <<'PY'
import sys
image = open(sys.argv[1], "rb").read()
flash = open(sys.argv[2], "rb").read()
expected = image + b"\xff" * (len(flash) - len(image))
if flash != expected:
    first = next(i for i in range(len(flash)) if flash[i] != expected[i])
    sys.exit(f"flash differs from the image at offset {first:#x}")
PY
}

start_display
init_prefix
install_wine_fonts
# A Wine desktop window of the screen's size: the program's windows get their frames and captions
# as on Windows (there is no window manager on the virtual display).
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
map_com_port COM5 "$WORK/device"
map_com_port COM6 "$WORK/other"
make_fixtures
REQUESTS=$WORK/requests
mkdir -p "$SHOTS" "$REQUESTS"
watch_requests &
WATCHER_PID=$!

export PENTREL_EXE=$(winepath -w "$PROGRAM" 2>/dev/null)
export PENTREL_GOOD_HEX=$(winepath -w "$WORK/good.hex" 2>/dev/null)
export PENTREL_MISSING_HEX=$(winepath -w "$WORK/no such file.hex" 2>/dev/null)
export PENTREL_REQUESTS=$(winepath -w "$REQUESTS" 2>/dev/null)
export PENTREL_DEVICE_PORT=COM5 PENTREL_OTHER_PORT=COM6

scenarios=$(timeout 60 wine "$DRIVER" --gtest_list_tests | tr -d '\r' |
  awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }' | grep -E "${PENTREL_UI_ONLY:-.}")
[ -n "$scenarios" ] || { echo "run-ui.sh: the driver lists no scenarios" >&2; exit 1; }

status=0
for scenario in $scenarios; do
  device_options=()
  case $scenario in
    Run.a_good_file*) device_options=(--dump "$WORK/device.dump") ;;
    Run.the_log_follows*) device_options=(--answer-after 200) ;;
    Run.closing_the_log_window*) device_options=(--answer-after 1000000) ;;
  esac
  rm -f "$WORK/device.dump"
  start_sim "$WORK/device" "${device_options[@]}" && start_sim "$WORK/other" --answer-after 1000000 ||
    { status=1; stop_sims; continue; }
  echo "-- $scenario"
  # A filter that selects nothing passes in silence, so the scenario must be seen to pass.
  if ! timeout 300 wine "$DRIVER" --gtest_filter="$scenario" --gtest_brief=1 | tr -d '\r' |
      tee "$WORK/driver.out" || ! grep -q '^\[  PASSED  \] 1 test\.' "$WORK/driver.out"; then
    status=1
    wineserver -k 2>/dev/null || true  # nothing of a failed scenario may linger into the next
  fi
  stop_sims
  case $scenario in
    Run.a_good_file*) check_dump || status=1 ;;
  esac
done
exit $status
