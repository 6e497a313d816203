#!/usr/bin/env bash
# Files built to exhaust a reader (build/testing/make_hostile_pdf), run once each in inspect,
# preview and thumbnail: wall time, peak resident memory and the line (or how the run ended).
# A run still going after LIMIT seconds (default 40) is killed and its peak read from /proc
# while it ran. VARDELLE names the binary (default build/vardelle), so a build of an older tree
# can be measured beside this one:
#   VARDELLE=/path/to/old/build/vardelle bench/hostile.sh
set -uo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${VARDELLE:-build/vardelle}")
maker=$(realpath "${MAKE_HOSTILE_PDF:-build/testing/make_hostile_pdf}")
limit=${LIMIT:-40}
only=${ROWS:-.}  # a regular expression: only the rows whose title matches it are measured
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rows=(
  "object-stream /Length chain, 3,000 links|lengthChain 3000"
  "object-stream /Length chain, 20,000 links|lengthChain 20000"
  "empty-array bomb at /MediaBox|emptyArrayBomb 30000000"
  "empty-array bomb in /Resources|emptyArrayBomb 30000000 Resources"
  "arrays nested 100,000 deep at /MediaBox|deepNesting 100000"
  "page tree 50,000 nodes deep|deepPageTree 50000"
  "/Parent chain of 50,000 nodes|longParentChain 50000"
  "cross-reference stream of 9 million entries|xrefBomb 9000000"
  "linked list of 100,000 objects in /Resources|manySmallObjects 100000 Resources"
  "empty-array bomb, object streams hex-encoded|emptyArrayBomb 30000000 hex"
  "linked list of 200,000 objects, hex-encoded|manySmallObjects 200000 Resources hex"
  "empty-array bomb, /Typ#65 (left to qpdf)|emptyArrayBomb 30000000 escaped"
  "/Length chain of 20,000 links, /Typ#65 (left to qpdf)|lengthChain 20000 escaped"
  "linked list of 200,000 objects, /Typ#65 (left to qpdf)|manySmallObjects 200000 Resources escaped"
)

# One run: "seconds|peak MB|line or ending".
run() {
  local mode=$1 pdf=$2 ext=png
  [ "$mode" = preview ] && ext=pdf
  printf '{"printerName":"vardelle-demo","snapshotPath":"%s","scalePercent":50,"filePath":"%s","outputPath":"%s"}' \
    "$PWD/samples/preset-a4.json" "$pdf" "$work/out.$ext" >"$work/request.json"
  local start peak=0 hwm child rc
  start=$(date +%s.%N)
  /usr/bin/time -o "$work/time" -f "%M" "$bin" "$mode" "$work/request.json" >"$work/line" 2>/dev/null &
  local timer=$!
  while kill -0 "$timer" 2>/dev/null; do
    child=$(pgrep -P "$timer" | head -n 1)
    if [ -n "$child" ]; then
      hwm=$(awk '/VmHWM/ {print $2}' "/proc/$child/status" 2>/dev/null)
      [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
      if [ "$(echo "$(date +%s.%N) - $start > $limit" | bc)" = 1 ]; then kill -KILL "$child"; fi
    fi
    sleep 0.05
  done
  wait "$timer"
  rc=$?
  local seconds line
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  local measured
  measured=$(grep -E '^[0-9]+$' "$work/time" | tail -n 1)
  [ -n "$measured" ] && [ "$measured" -gt "$peak" ] && peak=$measured
  line=$(head -c 200 "$work/line")
  if [ -z "$line" ]; then
    line=$(grep -o 'signal [0-9]*' "$work/time" | head -n 1)
    line="no line (${line:-exit $rc})"
  fi
  rm -f "$work/out.$ext"
  printf '%.1f s|%d MB|%s' "$seconds" $((peak / 1024)) "$line"
}

echo "| Input | Size | Mode | Time | Peak | Line |"
echo "|---|---|---|---|---|---|"
for row in "${rows[@]}"; do
  title=${row%%|*}
  [[ $title =~ $only ]] || continue
  # shellcheck disable=SC2086
  "$maker" ${row#*|} >"$work/hostile.pdf"
  size=$(stat -c %s "$work/hostile.pdf")
  for mode in inspect preview thumbnail; do
    echo "| $title | $((size / 1024)) KB | $mode | $(run "$mode" "$work/hostile.pdf" | sed 's/|/ | /g') |"
  done
done
