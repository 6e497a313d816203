#!/usr/bin/env bash
# The walk of one print through the files of the print path: how many files ("rooms") it passes
# through and how often it comes back to one it had left. A build without optimisation (so that
# every call is a frame) of the tree SOURCE (default: this checkout) prints a two-sided collated
# job of 2 copies of a 3-page PDF to a firmware-like driverless printer, straight to it (the
# device route, which passes every step), under gdb (bench/print_walk.py); the walk is counted by
# bench/print_walk_count.py.
#
#   bench/print_walk.sh [SOURCE]      e.g. a checkout of main beside this one, to compare
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source_dir=$(cd "${1:-$here}" && pwd)
command -v gdb >/dev/null || scripts/install-packages gdb
export PATH="$PATH:/usr/sbin"

build="$source_dir/build-walk"
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDELLE_TESTS=OFF \
  >/dev/null
cmake --build "$build" --target vardelle vardelle_printing vardelle_documents >/dev/null
[[ -x $here/build/testing/make_test_snapshot && -x $here/build/testing/firmware_render ]] ||
  cmake --build "$here/build" --target make_test_snapshot firmware_render >/dev/null

work=$(mktemp -d)
chmod 0755 "$work"
rig="$work/rig"
trap '"$here/scripts/test-printer" stop "$rig" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$here/scripts/test-printer" start "$rig" >"$work/env"
sed 's/ATTR keyword sides-supported "one-sided"/ATTR keyword sides-supported "one-sided","two-sided-long-edge","two-sided-short-edge"/' \
  "$here/testing/printer/firmware.attrs" >"$work/duplex.attrs"
VARDELLE_FIRMWARE_RENDER="$here/build/testing/firmware_render" \
  "$here/scripts/test-printer" add-firmware "$rig" walk "$work/duplex.attrs" >>"$work/env"
# shellcheck disable=SC1091
source "$work/env"

"$here/build/testing/make_test_snapshot" walk iso_a4_210x297mm portrait PageSize=A4 \
  Duplex=DuplexNoTumble Collate=True >"$work/preset.json"
sample="$here/samples/artwork.pdf"
qpdf --empty --pages "$sample" "$sample" "$sample" -- "$work/three.pdf"
python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
snapshot = json.load(open(f"{work}/preset.json"))
json.dump({"printerName": "walk", "printerId": snapshot.get("printerId"),
           "snapshotPath": f"{work}/preset.json", "filePath": f"{work}/three.pdf",
           "scalePercent": 100, "copies": 2, "acceptMarginClipping": True},
          open(f"{work}/request.json", "w"))
PY

cat >"$work/walk.gdb" <<GDB
set pagination off
set confirm off
set breakpoint pending off
python exec(open('$here/bench/print_walk.py').read())
catch load vardelle-printing
run
python place()
continue
GDB
WALK_OUT="$work/walk.json" gdb -q -batch -x "$work/walk.gdb" \
  --args "$build/vardelle" print "$work/request.json" >"$work/gdb.log" 2>&1
grep -q '"submitted":true' "$work/gdb.log" || { cat "$work/gdb.log" >&2; exit 1; }
python3 "$here/bench/print_walk_count.py" "$work/walk.json"
