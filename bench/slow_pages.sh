#!/usr/bin/env bash
# The slowest real pages found in the PDF manuals Debian ships, each cut out as a one-page PDF
# (qpdf), drawn by `pdftoppm -r 150` and by the helper: `thumbnail` (poppler) and `preview` with
# application colour (Ghostscript, 300 DPI, 16 bits), processor seconds (user + system) and peak
# memory of one run each: what the drawing deadline (base/drawing_deadline.h) must leave room for.
# SCAN=1 first times every PDF of texlive-pstricks-doc at 30 dpi (the slowest files, to look
# through page by page).
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=$(realpath "${VARDELLE:-build/vardelle}")
icc=$(realpath "${MAKE_ICC_FIXTURE:-build/color/tests/make_icc_fixture}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
docs=/usr/share/doc/texlive-doc

if [ "${SCAN:-0}" = 1 ]; then
  find "$docs" -path '*pst*' -name '*.pdf' | while read -r f; do
    /usr/bin/time -o "$work/t" -f '%U %S' timeout 120 pdftoppm -r 30 "$f" "$work/scan" >/dev/null 2>&1 || true
    rm -f "$work"/scan*
    echo "$(awk '{print $1 + $2}' "$work/t") s $f"
  done | sort -rn | head -n 10
fi

"$icc" lut-printer-33 "$work/printer.icc"
id=$(python3 -c "import hashlib,sys; print('icc-' + hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())" "$work/printer.icc")
cpu() {  # command... -> "processor seconds|peak MB"
  /usr/bin/time -o "$work/t" -f '%U %S %M' "$@" >"$work/line" 2>/dev/null || true
  awk '{printf "%.2f s|%d MB", $1 + $2, $3 / 1024}' "$work/t"
}
echo "| Page | pdftoppm -r 150 | thumbnail | preview, application colour |"
echo "|---|---|---|---|"
for page in "generic/pst-geo/pst-geo-doc.pdf 25" "generic/pst-geo/pst-geo-doc.pdf 38" \
  "generic/pst-fractal/pst-fractal-doc.pdf 32" "metapost/fiziko/fiziko.pdf 8"; do
  read -r file number <<<"$page"
  qpdf --empty --pages "$docs/$file" "$number" -- "$work/page.pdf"
  printf '{"printerName":"vardelle-demo","snapshotPath":"%s","scalePercent":90,"filePath":"%s","outputPath":"%s"%s}' \
    "$PWD/samples/preset-a4.json" "$work/page.pdf" "$work/thumb.png" "" >"$work/thumb.json"
  printf '{"printerName":"vardelle-demo","snapshotPath":"%s","scalePercent":90,"filePath":"%s","outputPath":"%s","colorManagement":{"mode":"application","profileId":"%s","profilePath":"%s","renderingIntent":"perceptual","blackPointCompensation":true,"driverColorManagementDisabled":true}}' \
    "$PWD/samples/preset-a4.json" "$work/page.pdf" "$work/managed.pdf" "$id" "$work/printer.icc" >"$work/managed.json"
  peer=$(cpu pdftoppm -r 150 -png "$work/page.pdf" "$work/peer")
  thumb=$(cpu "$bin" thumbnail "$work/thumb.json")
  grep -q '"ok":true' "$work/line" || thumb="$thumb $(head -c 120 "$work/line")"
  managed=$(cpu "$bin" preview "$work/managed.json")
  grep -q '"ok":true' "$work/line" || managed="$managed $(head -c 120 "$work/line")"
  echo "| $file p. $number | ${peer/|/, } | ${thumb/|/, } | ${managed/|/, } |"
done
