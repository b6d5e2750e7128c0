# Sourced by the Wine test scripts: a fresh, throw-away Wine prefix and scratch folder $WORK, with
# COM5 and COM6 mapped to $WORK/COM5 and $WORK/COM6, where start_sim puts melor-sim's terminals.
set -euo pipefail
PENTREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PENTREL_WIN_BIN="$PENTREL_ROOT/build/windows/bin"
SIM="$PENTREL_ROOT/build/native/bin/melor-sim"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts
export WINEPREFIX=$(mktemp -d /tmp/pentrel-wine.XXXXXX)
WORK=$(mktemp -d /tmp/pentrel-wine-work.XXXXXX)
SIM_PIDS=()

trap 'stop_sims; wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX" "$WORK"' EXIT

# init_prefix [COMMAND...]: the prefix, made once before any test; COMMAND sets up more of it.
# Wine's mount manager updates dosdevices/comN from the registry only at its next session, so the
# links are set here too, to fixed paths where each simulator is reached without a restart.
init_prefix() {
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  for port in COM5 COM6; do
    wine reg add 'HKLM\Software\Wine\Ports' /v $port /d "$WORK/$port" /f >/dev/null 2>&1
    ln -sfn "$WORK/$port" "$WINEPREFIX/dosdevices/${port,,}"
  done
  "$@"
  wineserver -k
  wineserver -w 2>/dev/null || true
  # Started here, with its output dropped: as it ends, it reports on the ports it had open. It
  # outlives its last program by a minute, so that no later one starts a server of its own.
  wineserver -p60 >/dev/null 2>&1
}

# start_sim PORT [OPTION...]: melor-sim behind PORT; it dumps its flash to $WORK/PORT.bin at exit.
start_sim() {
  "$SIM" --link "$WORK/$1" --dump "$WORK/$1.bin" --timeout 900 "${@:2}" >"$WORK/$1.log" 2>&1 &
  SIM_PIDS+=($!)
  for _ in $(seq 100); do [ -e "$WORK/$1" ] && return 0; sleep 0.05; done
  echo "melor-sim did not make $WORK/$1" >&2
  return 1
}

# Stops the simulators; each writes its flash as it ends.
stop_sims() {
  for pid in "${SIM_PIDS[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  SIM_PIDS=()
}

# expect_flash PORT IMAGE.bin: the stopped simulator of PORT holds exactly that flash.
expect_flash() {
  cmp -s "$2" "$WORK/$1.bin" && return 0
  echo "the flash behind $1 does not hold $(basename "$2")"
  status=1
}
