#!/usr/bin/env bash
# The main job: starts the simulator with a sample plant (two gateways, a FINS
# and a C-mode controller), then drives the driver through the brelk tool:
# writes of every kind, and reads of every kind printed as a table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/default/bin"

if [ ! -x "$bin/brelk" ] || [ ! -x "$bin/anynet-sim" ] || [ ! -e "$bin/libbrelk.so" ]; then
  echo "== building (cmake --preset default)"
  cmake --preset default -S "$root" >/dev/null
  cmake --build "$root/build/default" -j "$(nproc)" --target brelk_tool anynet-sim brelk marvek >/dev/null
fi

# Port 1023 needs root; elsewhere a private network namespace has its own
# loopback where it is free.
if [ -z "${BRELK_DEMO_INSIDE:-}" ] && [ "$(id -u)" -ne 0 ]; then
  exec env BRELK_DEMO_INSIDE=1 unshare -rn bash "$0" "$@"
fi
if [ -n "${BRELK_DEMO_INSIDE:-}" ]; then
  ip link set lo up 2>/dev/null || true
fi

work="$(mktemp -d)"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$root/examples/BRELK.INT" "$work/"

"$bin/anynet-sim" --config "$root/examples/demo.conf" >"$work/sim.log" 2>&1 &
sim_pid=$!
for address in 127.0.0.2 127.0.0.3; do
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/$address/1023") 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
    sleep 0.1
  done
done

brelk() { "$bin/brelk" --quiet --dir "$work" "$@"; }

echo "== writes"
brelk write AF001005D00100 4660            # a word
brelk write AF001005D00200 11 22 33 44     # a block of four words
brelk write AF001005D0030003 1             # bit 3 of D300
brelk write AF001005D00400 305419896 --type dword
brelk write AF001005!TIME_SYNC 0           # the PC's time
brelk write AF001005!RUN 2                 # monitor mode
brelk write BC002009D00100 43981           # C-mode: DM 100
brelk write BC002009H00010 1 2             # C-mode: HR 10-11
brelk write BC002009!TIME_SYNC 0
brelk write BC002009!RUN 4                 # run mode

echo
echo "== reads"
brelk poll --times 1 \
  AF001005D00100 AF001005D0030003 AF001005D0030004 AF001005D00400 AF001005!PLC_TIME \
  AF001005!PLC_STATUS BC002009D00100 BC002009!PLC_TIME BC002009!PLC_STATUS
brelk read AF001005D00400 --type dword
brelk read AF001005D00200 --count 4
brelk read BC002009H00010 --count 2

echo
echo "== a C-mode write while the controller runs is refused"
brelk write BC002009D00100 1 || true
brelk write BC002009!STOP 0
brelk write BC002009D00100 1
