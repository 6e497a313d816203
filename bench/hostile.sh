#!/usr/bin/env bash
# Files built to exhaust a reader (build/testing/make_hostile_pdf), run once each in inspect,
# preview and thumbnail: wall time, peak resident memory and the line (or how the run ended).
# Valid pages that are only too much work to draw (the last rows) also run in sheet-thumbnail and
# with application colour (thumbnail and preview, Ghostscript), and with PRINT=1 printed with
# application colour to the private test printer, under the helper's own drawing deadline.
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
  "a gigabyte of drawing (100 million rectangles, Flate of Flate)|contentBomb 100000000"
  "forms 40 deep, each drawing the next twice|formTree 40"
  "an image claiming 200,000 x 200,000 pixels|hugeImage 200000"
  "a sampled function claiming 2^31 x 3 values|hugeFunction 2147483648"
  "operands nested 300,000 deep|deepOperands 300000"
)
icc=$(realpath "${MAKE_ICC_FIXTURE:-build/color/tests/make_icc_fixture}")
[ -x "$icc" ] || cmake --build --preset dev --target make_icc_fixture >/dev/null
"$icc" lut-printer-33 "$work/printer.icc"
id=$(python3 -c "import hashlib,sys; print('icc-' + hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())" "$work/printer.icc")
managed=$(printf ',"colorManagement":{"mode":"application","profileId":"%s","profilePath":"%s","renderingIntent":"perceptual","blackPointCompensation":true,"driverColorManagementDisabled":true}' "$id" "$work/printer.icc")
if [ "${PRINT:-0}" = 1 ]; then
  rig="$work/rig"
  chmod 0755 "$work"
  eval "$(scripts/test-printer start "$rig")"
  trap 'scripts/test-printer stop "$rig" >/dev/null 2>&1; rm -rf "$work"' EXIT
  export PATH="$PATH:/usr/sbin"
  build/testing/make_test_snapshot "$VARDELLE_TEST_PRINTER" iso_a4_210x297mm portrait >"$work/print-preset.json"
  printer_id=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["printerId"])' "$work/print-preset.json")
  cupsdisable "$VARDELLE_TEST_PRINTER"
fi

# One run: "seconds|peak MB|line or ending". A third argument adds to the request.
run() {
  local mode=$1 pdf=$2 more=${3:-} ext=png
  [ "$mode" = preview ] && ext=pdf
  if [ "$mode" = print ]; then
    printf '{"printerName":"%s","printerId":"%s","snapshotPath":"%s","scalePercent":50,"filePath":"%s"%s}' \
      "$VARDELLE_TEST_PRINTER" "$printer_id" "$work/print-preset.json" "$pdf" "$more" >"$work/request.json"
  else
    printf '{"printerName":"vardelle-demo","snapshotPath":"%s","scalePercent":50,"filePath":"%s","outputPath":"%s"%s}' \
      "$PWD/samples/preset-a4.json" "$pdf" "$work/out.$ext" "$more" >"$work/request.json"
  fi
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
  case $row in
    *contentBomb*|*formTree*|*hugeImage*|*hugeFunction*|*deepOperands*)
      echo "| $title | $((size / 1024)) KB | sheet-thumbnail | $(run sheet-thumbnail "$work/hostile.pdf" | sed 's/|/ | /g') |"
      for mode in thumbnail preview; do
        echo "| $title | $((size / 1024)) KB | $mode, application colour | $(run "$mode" "$work/hostile.pdf" "$managed" | sed 's/|/ | /g') |"
      done
      if [ "${PRINT:-0}" = 1 ]; then
        echo "| $title | $((size / 1024)) KB | print, application colour | $(run print "$work/hostile.pdf" "$managed" | sed 's/|/ | /g') |"
        cancel -a "$VARDELLE_TEST_PRINTER" 2>/dev/null || true
      fi
      ;;
  esac
done
