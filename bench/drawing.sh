#!/usr/bin/env bash
# Drawing benchmarks, each beside a peer tool in the same hyperfine run (medians of RUNS runs):
#  1. preview of a 200-page text-and-graphics PDF vs `qpdf --empty --pages SRC -- OUT`;
#     goal ≤ 1.2× the time, output ≤ 1.05× the input size;
#  2. thumbnail vs `pdftoppm -scale-to 1200 -png`, peak memory ≤ 64 MB, of: a page of text (page
#     11 of libtasn1's manual, typeset by TeX, on Letter), a vector page (CUPS' test page, A4),
#     goal ≤ 1.0× each; and an A4 photo page (150 DPI noise), no slower than before.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=$(realpath "${VARDELLE:-build/vardelle}")
runs=${RUNS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

preset() {  # name width height -> snapshot with 12 pt margins
  python3 bench/snapshot.py "$work/$1.json" "$2" "$3"
}
request() {  # name mode artwork snapshot output
  printf '{"printerName":"bench","snapshotPath":"%s","filePath":"%s","scalePercent":100,"outputPath":"%s"}' \
    "$4" "$3" "$5" >"$work/$1.json"
}

echo "== preview of a 200-page PDF"
# Distinct pages of text in an embedded font, with vector graphics.
python3 bench/drawing_fixtures.py "$work" book
mv "$work/book.pdf" "$work/200.pdf"
pdfinfo "$work/200.pdf" | grep -E '^Pages'
preset a4 595.2755905511812 841.8897637795276
request preview preview "$work/200.pdf" "$work/a4.json" "$work/preview.pdf"
hyperfine -N --style none --runs "$runs" --warmup 2 --export-json "$work/preview-times.json" \
  "$bin preview $work/preview.json" \
  "qpdf --empty --pages $work/200.pdf -- $work/peer.pdf" >/dev/null
python3 bench/median.py "$work/preview-times.json"
in=$(stat -c %s "$work/200.pdf")
out=$(stat -c %s "$work/preview.pdf")
peer=$(stat -c %s "$work/peer.pdf")
python3 -c "print(f'size: input {$in} B, preview {$out} B ({$out/$in:.3f}x input), qpdf copy {$peer} B')"

echo "== thumbnails"
python3 bench/drawing_fixtures.py "$work"
preset letter 612 792
qpdf --empty --pages /usr/share/doc/libtasn1-doc/libtasn1.pdf 11 -- "$work/manual.pdf"
cp /usr/share/cups/data/default-testpage.pdf "$work/testpage.pdf"
ratios=()
for row in "manual letter" "testpage a4" "photo a4"; do
  read -r page paper <<<"$row"
  request "thumb-$page" thumbnail "$work/$page.pdf" "$work/$paper.json" "$work/thumb-$page.png"
  "$bin" thumbnail "$work/thumb-$page.json" | grep -q '"ok":true' || { echo "$page failed"; exit 1; }
  hyperfine -N --style none --runs "$runs" --warmup 2 --export-json "$work/$page-times.json" \
    "$bin thumbnail $work/thumb-$page.json" \
    "pdftoppm -scale-to 1200 -png -singlefile $work/$page.pdf $work/peer-$page" >/dev/null
  echo "-- $page.pdf on $paper"
  python3 bench/median.py "$work/$page-times.json"
  ratios+=("$(python3 -c "
import json, statistics
r = json.load(open('$work/$page-times.json'))['results']
print(statistics.median(r[0]['times']) / statistics.median(r[1]['times']))")")
  rss=$(/usr/bin/time -f %M "$bin" thumbnail "$work/thumb-$page.json" 2>&1 >/dev/null | tail -n 1)
  peer_rss=$(/usr/bin/time -f %M pdftoppm -scale-to 1200 -png -singlefile "$work/$page.pdf" \
    "$work/peer-$page" 2>&1 | tail -n 1)
  echo "   peak memory: vardelle $((rss / 1024)) MB, pdftoppm $((peer_rss / 1024)) MB"
done
python3 -c "
import math, sys
r = [float(x) for x in sys.argv[1:]]
print(f'thumbnail geometric mean: {math.exp(sum(map(math.log, r)) / len(r)):.2f}x pdftoppm')
" "${ratios[@]}"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
