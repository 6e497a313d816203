#!/usr/bin/env bash
# A 24-megapixel 16-bit photograph (6000 x 4000 at 300 DPI, made from a picture
# gnome-backgrounds ships) printed with application-managed colour (33^3 LUT printer profile) on
# A4 landscape at 55 %, process start to `submitted`, medians of RUNS runs in one hyperfine run,
# and peak memory of one run of each with /usr/bin/time:
#  1. the raster route: a Gutenprint Epson P800 queue at the PPD's default quality (720 x 360 dpi);
#  2. the same at its highest, the Best quality (5760 x 2880 dpi);
#  3. the PDF route, as every application-colour job took before the raster route: the same
#     photograph, paper and placement on a queue of CUPS' generic PostScript driver.
# Goal: 1 and 2 no slower than 1.5x row 3, each at most 200 MB.
#
# Against the private test printer's cupsd (scripts/test-printer), with both queues disabled so
# that jobs are accepted and held, not filtered, while the next one is timed; the held jobs are
# purged before each run.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=$(realpath "${VARDELLE:-build/vardelle}")
icc=$(realpath "${MAKE_ICC_FIXTURE:-build/color/tests/make_icc_fixture}")
maker=$(realpath "${MAKE_TEST_SNAPSHOT:-build/testing/make_test_snapshot}")
runs=${RUNS:-7}
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
# 4096 x 2731 cut from the 4096-pixel square, enlarged to 6000 x 4000, 16 bits, 300 DPI.
vips crop "$source" "$work/cut.v" 0 682 4096 2731
vips resize "$work/cut.v" "$work/big.v" 1.46485 --vscale 1.46466
vips crop "$work/big.v" "$work/sized.v" 0 0 6000 4000
vips colourspace "$work/sized.v" "$work/wide.v" rgb16
vips copy "$work/wide.v" "$photo[compression=6]" --xres 11.811 --yres 11.811
vipsheader "$photo"
"$icc" lut-printer-33 "$work/printer.icc"
id=$(python3 -c "import hashlib,sys; print('icc-' + hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())" "$work/printer.icc")

eval "$(scripts/test-printer start "$rig")"
export PATH="$PATH:/usr/sbin"
mkdir -m 0777 "$work/out"
lpadmin -p p800 -E -v "file://$work/out/p800" -m gutenprint.5.3://escp2-p800/expert \
  -o PageSize=A4 2>/dev/null
lpadmin -p postscript -E -v "file://$work/out/postscript" -m drv:///sample.drv/generic.ppd \
  -o PageSize=A4 2>/dev/null

request() {  # name queue snapshot-options...
  local name=$1 queue=$2
  shift 2
  "$maker" "$queue" iso_a4_210x297mm landscape PageSize=A4 "$@" >"$work/$name-preset.json"
  local printer_id
  printer_id=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["printerId"])' "$work/$name-preset.json")
  printf '{"printerName":"%s","printerId":"%s","snapshotPath":"%s","filePath":"%s","scalePercent":55,"acceptMarginClipping":true,"colorManagement":{"mode":"application","profileId":"%s","profilePath":"%s","renderingIntent":"perceptual","blackPointCompensation":true,"driverColorManagementDisabled":true}}' \
    "$queue" "$printer_id" "$work/$name-preset.json" "$photo" "$id" "$work/printer.icc" >"$work/$name.json"
  # A failing run would time only its refusal.
  out=$("$bin" print "$work/$name.json" 2>&1) && grep -q '"submitted":true' <<<"$out" || {
    echo "$out" >&2
    echo "bench/driver_raster.sh: $name did not submit" >&2
    exit 1
  }
}
cupsdisable p800 postscript
request default p800
request best p800 StpQuality=Best
request pdf postscript
held() {  # the document of the last held job: its kind and size
  local spool kind=PDF
  spool=$(ls -t "$rig"/cups/spool/d*-001 | head -n 1)
  case $(head -c 4 "$spool") in RaS2 | 2SaR) kind="CUPS raster" ;; esac
  echo "$kind, $(($(stat -c %s "$spool") / 1048576)) MB"
}

purge="cancel -a -x p800 postscript"
hyperfine -N --style none --runs "$runs" --warmup 1 --prepare "$purge" \
  --export-json "$work/t.json" \
  "$bin print $work/default.json" "$bin print $work/best.json" "$bin print $work/pdf.json" \
  >/dev/null
echo "== application colour, 24 MP 16-bit photograph, A4 landscape at 55 %: time to submitted"
python3 bench/median.py "$work/t.json"
for name in default best pdf; do
  $purge
  kb=$(/usr/bin/time -f %M "$bin" print "$work/$name.json" 2>&1 >/dev/null | tail -n 1)
  echo "   $name: peak $((kb / 1024)) MB, document $(held)"
done
$purge
