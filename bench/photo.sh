#!/usr/bin/env bash
# A 24-megapixel photograph (6000 x 4000 at 300 DPI, made from a picture gnome-backgrounds ships)
# on a sheet larger than the picture; each row beside its peer in one hyperfine run (medians of
# RUNS runs; ROWS, a regular expression, picks rows by title), peak memory of one run of each
# with /usr/bin/time:
#  1. thumbnail, printer-managed, vs `vipsthumbnail -s 1200`; goal <= 0.8x, <= 100 MB;
#  2. preview, printer-managed, vs `img2pdf`; goal <= 1.0x, output <= 1.02x the PNG;
#  3. thumbnail, application colour (33^3 LUT printer profile), vs `tificc -w16` on the same
#     pixels; goal <= 1.2x, <= 200 MB;
#  4. preview, application colour, vs tificc; goal <= 2.0x, <= 120 MB;
#  5. print, application colour, A4 landscape at 55 %, vs tificc; goal <= 3.0x, <= 200 MB
#     (against the private test printer, its queue held so that only submission is timed);
#  6. thumbnail, printer-managed, of an A4 text page vs `pdftoppm -scale-to 1200`;
#  7. thumbnail, soft proof with gamut warning through a smaller-gamut 33^3 LUT printer profile on
#     a tinted paper, vs `tificc -p PROFILE -m3 -g` (the same intent and black-point compensation)
#     on the same picture as a TIFF; goal <= 1.0x, peak <= the application-colour thumbnail's
#     through the same profile (measured in the same run).
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=$(realpath "${VARDELLE:-build/vardelle}")
icc=$(realpath "${MAKE_ICC_FIXTURE:-build/color/tests/make_icc_fixture}")
maker=$(realpath "${MAKE_TEST_SNAPSHOT:-build/testing/make_test_snapshot}")
runs=${RUNS:-7}
only=${ROWS:-.}  # a regular expression: only the rows whose title matches it are measured
work=$(mktemp -d)
chmod 0755 "$work"
rig="$work/rig"
cleanup() {
  [ -n "${VARDELLE_TEST_PRINTER:-}" ] && scripts/test-printer stop "$rig" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

source=/usr/share/backgrounds/gnome/wood-l.webp
photo=$work/photo.png
# 4096 x 2731 cut from the 4096-pixel square, enlarged to 6000 x 4000, 300 DPI (11811 px/m).
vips crop "$source" "$work/cut.v" 0 682 4096 2731
vips resize "$work/cut.v" "$work/big.v" 1.46485 --vscale 1.46466
vips crop "$work/big.v" "$work/sized.v" 0 0 6000 4000
vips copy "$work/sized.v" "$photo[compression=6]" --xres 11.811 --yres 11.811
vips copy "$photo" "$work/photo.tif"
vipsheader "$photo"
png_bytes=$(stat -c %s "$photo")
echo "   PNG $png_bytes bytes"
srgb=/usr/share/color/icc/colord/sRGB.icc
"$icc" lut-printer-33 "$work/printer.icc"
id=$(python3 -c "import hashlib,sys; print('icc-' + hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())" "$work/printer.icc")

# 24 x 18 inches with 12 pt margins: the 20 x 13.3 inch picture fits at 100 %.
python3 bench/snapshot.py "$work/sheet.json" 1728 1296 12 landscape
managed=$(printf ',"colorManagement":{"mode":"application","profileId":"%s","profilePath":"%s","renderingIntent":"perceptual","blackPointCompensation":true,"driverColorManagementDisabled":true}' "$id" "$work/printer.icc")
request() {  # name output [colour]
  printf '{"printerName":"bench","snapshotPath":"%s","filePath":"%s","scalePercent":100,"outputPath":"%s"%s}' \
    "$work/sheet.json" "$photo" "$2" "${3:-}" >"$work/$1.json"
}
request thumb "$work/thumb.png"
request preview "$work/preview.pdf"
request mthumb "$work/mthumb.png" "$managed"
request mpreview "$work/mpreview.pdf" "$managed"
"$icc" small-printer-33 "$work/small.icc"
small_id=$(python3 -c "import hashlib,sys; print('icc-' + hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())" "$work/small.icc")
small=$(printf ',"colorManagement":{"mode":"application","profileId":"%s","profilePath":"%s","renderingIntent":"perceptual","blackPointCompensation":true,"driverColorManagementDisabled":true}' "$small_id" "$work/small.icc")
request sthumb "$work/sthumb.png" "$small"
request proof "$work/proof.png" "$small"',"softProof":{"paperWhite":true,"gamutWarning":true}'

check() {  # mode request
  out=$("$bin" "$1" "$2" 2>&1) && ! grep -q '"error"' <<<"$out" || {
    echo "$out" >&2
    exit 1
  }
}
peak() {  # command... -> peak resident MB of one run
  local kb
  kb=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1)
  echo "$((kb / 1024)) MB"
}
tificc_cmd="tificc -i$srgb -o$work/printer.icc -t0 -w16 $work/photo.tif $work/peer16.tif"
row() {  # title mode request peer-command
  [[ "$1" =~ $only ]] || return 0
  check "$2" "$3"
  hyperfine -N --style none --runs "$runs" --warmup 1 --export-json "$work/t.json" \
    "$bin $2 $3" "$4" >/dev/null
  echo "== $1"
  python3 bench/median.py "$work/t.json"
  echo "   peak: vardelle $(peak "$bin" "$2" "$3"), peer $(peak $4)"
}

row "thumbnail, printer-managed" thumbnail "$work/thumb.json" \
  "vipsthumbnail -s 1200 $photo -o $work/vips.png"
row "preview, printer-managed" preview "$work/preview.json" "img2pdf -o $work/img2pdf.pdf $photo"
[ -f "$work/preview.pdf" ] && echo "   output: vardelle $(python3 -c "print(f'{$(stat -c %s "$work/preview.pdf") / $png_bytes:.3f}')")x the PNG," \
  "img2pdf $(python3 -c "print(f'{$(stat -c %s "$work/img2pdf.pdf") / $png_bytes:.3f}')")x"
row "thumbnail, application colour" thumbnail "$work/mthumb.json" "$tificc_cmd"
row "preview, application colour" preview "$work/mpreview.json" "$tificc_cmd"
[ -f "$work/mpreview.pdf" ] && echo "   output $(($(stat -c %s "$work/mpreview.pdf") / 1048576)) MB"

proof_row="thumbnail, soft proof with gamut warning"
if [[ "$proof_row" =~ $only ]]; then
  row "$proof_row" thumbnail "$work/proof.json" \
    "tificc -i$srgb -t0 -b -p$work/small.icc -m3 -g $work/photo.tif $work/peer-proof.tif"
  check thumbnail "$work/sthumb.json"
  echo "   application-colour thumbnail through the same profile: peak $(peak "$bin" thumbnail "$work/sthumb.json")"
  echo "   $("$bin" thumbnail "$work/proof.json" | python3 -c 'import json,sys; print("outOfGamutPercent", json.load(sys.stdin)["document"]["outOfGamutPercent"])')"
fi

print_row="print, application colour, A4 at 55 %"
if [[ "$print_row" =~ $only ]]; then
  eval "$(scripts/test-printer start "$rig")"
  export PATH="$PATH:/usr/sbin"
  queue=$VARDELLE_TEST_PRINTER
  "$maker" "$queue" iso_a4_210x297mm landscape >"$work/a4.json"
  printer_id=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["printerId"])' "$work/a4.json")
  printf '{"printerName":"%s","printerId":"%s","snapshotPath":"%s","filePath":"%s","scalePercent":55,"acceptMarginClipping":true%s}' \
    "$queue" "$printer_id" "$work/a4.json" "$photo" "$managed" >"$work/print.json"
  cupsdisable "$queue"
  row "$print_row" print "$work/print.json" "$tificc_cmd"
  cancel -a "$queue" 2>/dev/null || true
fi

python3 bench/drawing_fixtures.py "$work"
python3 bench/snapshot.py "$work/a4sheet.json" 595.2755905511812 841.8897637795276
printf '{"printerName":"bench","snapshotPath":"%s","filePath":"%s","scalePercent":100,"outputPath":"%s"}' \
  "$work/a4sheet.json" "$work/text.pdf" "$work/text-thumb.png" >"$work/text.json"
row "thumbnail, printer-managed, A4 text page" thumbnail "$work/text.json" \
  "pdftoppm -scale-to 1200 -png -singlefile $work/text.pdf $work/peer-text"
