#!/usr/bin/env bash
# The same inputs on machines of 2, 64 and 128 cores (as the helper sees them: the tests' preloaded
# library, testing/tools/machine_shape.c, answers its question for the processors): a 24-megapixel
# 16-bit photograph (made as in bench/photo.sh), an A4 photo page and an A4 text page (PDF,
# bench/drawing_fixtures.py), each with application colour into a 33^3 LUT printer profile,
# `preview` and `thumbnail`. Every run must succeed; each row gives the median time of RUNS runs
# and the peak memory of one run (/usr/bin/time), and the ratio of the peak to the 2-core one
# (goal: within 10 %). CORES lists the machines (default "2 64 128"); RUNS=0 measures the peaks
# alone, from the one run each row checks.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
cmake --build --preset dev --target vardelle_machine_shape >/dev/null
bin=$(realpath "${VARDELLE:-build/vardelle}")
icc=$(realpath "${MAKE_ICC_FIXTURE:-build/color/tests/make_icc_fixture}")
shape=$(realpath build/testing/libvardelle_machine_shape.so)
runs=${RUNS:-5}
cores_list=${CORES:-"2 64 128"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source=/usr/share/backgrounds/gnome/wood-l.webp
vips crop "$source" "$work/cut.v" 0 682 4096 2731
vips resize "$work/cut.v" "$work/big.v" 1.46485 --vscale 1.46466
vips crop "$work/big.v" "$work/sized.v" 0 0 6000 4000
vips cast "$work/sized.v" "$work/wide.v" ushort --shift
vips copy "$work/wide.v" "$work/photo.png[compression=6]" --xres 11.811 --yres 11.811
python3 bench/drawing_fixtures.py "$work"
"$icc" lut-printer-33 "$work/printer.icc"
id=$(python3 -c "import hashlib,sys; print('icc-' + hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())" "$work/printer.icc")
# 24 x 18 inches for the photograph at 100 %, A4 for the pages.
python3 bench/snapshot.py "$work/large.json" 1728 1296
python3 bench/snapshot.py "$work/a4.json" 595.2755905511812 841.8897637795276
managed=$(printf '"colorManagement":{"mode":"application","profileId":"%s","profilePath":"%s","renderingIntent":"perceptual","blackPointCompensation":true,"driverColorManagementDisabled":true}' "$id" "$work/printer.icc")

echo "| Input | Mode | Cores | Median | Peak | Peak / 2 cores |"
echo "|---|---|---|---|---|---|"
for input in "24 MP photograph|photo.png|large" "A4 photo page|photo.pdf|a4" "A4 text page|text.pdf|a4"; do
  IFS='|' read -r title file sheet <<<"$input"
  for mode in preview thumbnail; do
    ext=pdf
    [ "$mode" = thumbnail ] && ext=png
    printf '{"printerName":"bench","snapshotPath":"%s","filePath":"%s","scalePercent":100,"outputPath":"%s",%s}' \
      "$work/$sheet.json" "$work/$file" "$work/out.$ext" "$managed" >"$work/request.json"
    base=""
    for cores in $cores_list; do
      export LD_PRELOAD=$shape VARDELLE_SHAPE_CORES=$cores
      /usr/bin/time -o "$work/peak" -f %M "$bin" "$mode" "$work/request.json" >"$work/line" || true
      grep -q '"ok":true' "$work/line" || { echo "$title $mode on $cores cores: $(cat "$work/line")" >&2; exit 1; }
      kb=$(tail -n 1 "$work/peak")
      median=-
      if [ "$runs" -gt 0 ]; then
        hyperfine -N --style none --runs "$runs" --warmup 1 --export-json "$work/t.json" \
          "$bin $mode $work/request.json" >/dev/null
        median=$(python3 -c "import json,statistics,sys; print(f'{statistics.median(json.load(open(sys.argv[1]))[\"results\"][0][\"times\"]):.2f} s')" "$work/t.json")
      fi
      unset LD_PRELOAD VARDELLE_SHAPE_CORES
      [ -z "$base" ] && base=$kb
      echo "| $title | $mode | $cores | $median | $((kb / 1024)) MB | $(python3 -c "print(f'{$kb / $base:.3f}')") |"
    done
  done
done
