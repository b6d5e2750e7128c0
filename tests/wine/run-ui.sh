#!/usr/bin/env bash
# pentrel.exe under Wine and Xvfb: pentrel_ui_wine_driver.exe runs its scenarios (those that
# --gtest_filter=$PENTREL_UI_ONLY selects, when set) with melor-sim behind COM5, answering from its
# 200th query on, and a silent one behind COM6; then COM5's flash must hold the image.
# Screenshots land in build/windows/screenshots/.

# A virtual display of its own (xvfb-run), under which the script starts again.
[ -n "${PENTREL_UI_DISPLAY:-}" ] ||
  exec env PENTREL_UI_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
source "$(dirname "$0")/wine_env.sh"
export WORK SHOTS="$PENTREL_ROOT/build/windows/screenshots"  # for the driver's shell commands
mkdir -p "$SHOTS"

# The example image: 34 KiB with an erased stretch (sent as blank chunks); writing it takes
# seconds, long enough to watch the log scroll.
cp "$PENTREL_ROOT/examples/firmware.hex" "$WORK/good.hex"
srec_cat "$WORK/good.hex" -intel -offset -0x1D000000 -fill 0xFF 0 0x80000 -o "$WORK/flash.bin" -binary

# Debian's Wine looks for its own fonts at "<data dir>\../fonts", a path its file layer refuses,
# so a fresh prefix lacks Marlett (caption buttons read "0 1 r") and Tahoma (the dialog font):
# they go to its Fonts folder, as on Windows. A Wine desktop of the screen's size gives the
# windows their frames and captions (the virtual display has no window manager).
set_up_desktop() {
  cp "$(dirname "$(readlink -f "$(command -v wine)")")"/../share/wine/fonts/*.ttf \
    "$WINEPREFIX/drive_c/windows/Fonts/"
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
}
init_prefix set_up_desktop
start_sim COM5 --answer-after 200
start_sim COM6 --answer-after 1000000

export PENTREL_EXE=$(winepath -w "$PENTREL_WIN_BIN/pentrel.exe" 2>/dev/null)
export PENTREL_WORK=$(winepath -w "$WORK" 2>/dev/null)
status=0
timeout 900 wine "$PENTREL_WIN_BIN/pentrel_ui_wine_driver.exe" --gtest_brief=1 \
  --gtest_filter="${PENTREL_UI_ONLY:-*}" || status=1
stop_sims
[[ -n ${PENTREL_UI_ONLY:-} ]] || expect_flash COM5 "$WORK/flash.bin"
exit $status
