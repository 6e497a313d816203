#!/usr/bin/env bash
# `inspect` from process start to result line, beside a peer reading the same file in the same run:
#   a 1,000-page PDF (goal: median ≤ 0.8x the peer), peer `pdfinfo -f 1 -l 1000`, which reports
#   every page's size as `inspect` does; the same PDF written by qpdf with object and
#   cross-reference streams, as most writers of today do, beside the same peer;
#   a 100-megapixel PNG (goal: median ≤ 8 ms and ≤ 20 MB peak resident memory), peers
#   `file` (reads the header) and `pngcheck` (reads every chunk and inflates the image data).
# Medians of RUNS runs (default 30). Inputs are made once per run by bench/make_inputs.py.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=${VARDELLE:-build/vardelle}
runs=${RUNS:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/make_inputs.py "$work"
request() {
  printf '{"filePath":"%s","printerName":"P","snapshotPath":"%s/none.json","scalePercent":100}' \
    "$1" "$work" >"$2"
}
qpdf --object-streams=generate "$work/pages1000.pdf" "$work/streams1000.pdf"
request "$work/pages1000.pdf" "$work/pdf.json"
request "$work/streams1000.pdf" "$work/streams.json"
request "$work/megapixels100.png" "$work/png.json"
"$bin" inspect "$work/pdf.json" | grep -q '"pageCount":1000' || { echo "PDF inspect failed"; exit 1; }
"$bin" inspect "$work/streams.json" | grep -q '"pageCount":1000' || { echo "PDF inspect failed"; exit 1; }
"$bin" inspect "$work/png.json" | grep -q '"ok":true' || { echo "PNG inspect failed"; exit 1; }

echo "== 1,000-page PDF (goal ≤ 0.8x pdfinfo)"
hyperfine -N --style none --runs "$runs" --warmup 3 --export-json "$work/pdf.r.json" \
  "$bin inspect $work/pdf.json" "pdfinfo -f 1 -l 1000 $work/pages1000.pdf" >/dev/null
python3 bench/median.py "$work/pdf.r.json"

echo "== the same PDF with object streams (goal ≤ 0.8x pdfinfo)"
hyperfine -N --style none --runs "$runs" --warmup 3 --export-json "$work/streams.r.json" \
  "$bin inspect $work/streams.json" "pdfinfo -f 1 -l 1000 $work/streams1000.pdf" >/dev/null
python3 bench/median.py "$work/streams.r.json"

echo "== 100-megapixel PNG (goal ≤ 8 ms)"
hyperfine -N --style none --runs "$runs" --warmup 3 --export-json "$work/png.r.json" \
  "pngcheck $work/megapixels100.png" "$bin inspect $work/png.json" \
  "file $work/megapixels100.png" >/dev/null
python3 bench/median.py "$work/png.r.json"

echo "== peak resident memory (goal ≤ 20 MB for the PNG)"
peak() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }
printf '%9s KB  %s\n' "$(peak "$bin" inspect "$work/png.json")" "vardelle inspect (100 MP PNG)"
printf '%9s KB  %s\n' "$(peak file "$work/megapixels100.png")" "file (100 MP PNG)"
printf '%9s KB  %s\n' "$(peak "$bin" inspect "$work/pdf.json")" "vardelle inspect (1,000-page PDF)"
printf '%9s KB  %s\n' "$(peak pdfinfo "$work/pages1000.pdf")" "pdfinfo (1,000-page PDF)"
