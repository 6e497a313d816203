#!/usr/bin/env bash
# Application-managed colour benchmarks, each beside a peer tool in the same run (medians of RUNS):
#  1. converting a 24-megapixel 16-bit picture from ROMM RGB to a LUT-based RGB printer profile
#     vs `tificc` (lcms2's own tool) on the same pixels as a 16-bit TIFF; goal ≤ 0.5× its time;
#  2. rendering an A4 PDF page to 16-bit ROMM RGB at 300 DPI vs `pdftoppm -r 300` (8-bit);
#     goal ≤ 1.5× its time;
#  3. peak memory of a whole A4 `preview` with application colour; goal ≤ 3 × 2481 × 3508 × 8 bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=$(realpath "${VARDELLE:-build/vardelle}")
tool=$(realpath "${MANAGED_BENCH:-build/artwork/tests/managed_bench}")
icc=$(realpath "${MAKE_ICC_FIXTURE:-build/color/tests/make_icc_fixture}")
runs=${RUNS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$icc" lut-printer-33 "$work/printer.icc"
echo "== 24 MP 16-bit conversion to a LUT-based RGB printer profile (6000 x 4000)"
"$tool" make-tiff "$work/picture.tif" "$work/romm.icc"
hyperfine -N --style none --runs "$runs" --warmup 1 --export-json "$work/convert-times.json" \
  "$tool convert $work/picture.tif $work/printer.icc" \
  "tificc -i$work/romm.icc -o$work/printer.icc -t0 -b -c2 -w16 $work/picture.tif $work/peer.tif" \
  >/dev/null
python3 bench/median.py "$work/convert-times.json"
echo "   (whole processes: both read the 144 MB TIFF; tificc also writes one)"
in_process=$("$tool" convert "$work/picture.tif" "$work/printer.icc" "$runs")
echo "   conversion alone, in process, median of $runs: $in_process ms"

echo "== A4 page to 16-bit ROMM RGB at 300 DPI"
python3 bench/drawing_fixtures.py "$work"
for page in vector photo; do
  hyperfine -N --style none --runs "$runs" --warmup 1 --export-json "$work/$page-times.json" \
    "$tool rasterize $work/$page.pdf" \
    "pdftoppm -r 300 -singlefile $work/$page.pdf $work/peer-$page" >/dev/null
  echo "-- $page"
  python3 bench/median.py "$work/$page-times.json"
done

echo "== peak memory of an A4 preview with application colour"
python3 bench/snapshot.py "$work/a4.json" 595.2755905511812 841.8897637795276 0
id=$(python3 -c "import hashlib,sys; print('icc-' + hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())" "$work/printer.icc")
limit=$((3 * 2481 * 3508 * 8 / 1024))
for page in vector photo; do
  printf '{"printerName":"bench","snapshotPath":"%s","filePath":"%s","scalePercent":100,"outputPath":"%s","colorManagement":{"mode":"application","profileId":"%s","profilePath":"%s","renderingIntent":"perceptual","blackPointCompensation":true,"driverColorManagementDisabled":true}}' \
    "$work/a4.json" "$work/$page.pdf" "$work/preview-$page.pdf" "$id" "$work/printer.icc" \
    >"$work/preview-$page.json"
  start=$(date +%s.%N)
  rss=$(/usr/bin/time -f %M "$bin" preview "$work/preview-$page.json" 2>&1 >"$work/result" | tail -n 1)
  end=$(date +%s.%N)
  grep -q '"error"' "$work/result" && { cat "$work/result"; exit 1; }
  echo "-- $page: peak $((rss / 1024)) MB (goal <= $((limit / 1024)) MB)," \
    "$(python3 -c "print(f'{$end - $start:.2f}')") s, preview $(stat -c %s "$work/preview-$page.pdf") B"
done
