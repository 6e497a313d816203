#!/usr/bin/env bash
# Process start to result for a request that fails validation, beside /bin/true in the same run.
# Goal: median under 5 ms; nothing heavy may be initialised on such a path.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=${VARDELLE:-build/vardelle}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '{"printerName":"P","snapshotPath":"/tmp/s.json","scalePercent":5}' >"$work/bad.json"
hyperfine -N -i --style none --runs "${RUNS:-100}" --warmup 5 --export-json "$work/r.json" \
  "$bin inspect $work/bad.json" "/bin/true" >/dev/null
python3 bench/median.py "$work/r.json"
