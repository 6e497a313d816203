#!/usr/bin/env bash
# Process start to job accepted by CUPS for a 50-page PDF: `vardelle print` beside
# `lp -o print-scaling=none -o media=<same paper> FILE` to the same queue, in one hyperfine run
# (medians of RUNS runs). Goal: ≤ 1.5× lp.
#
# Runs against the private test printer (scripts/test-printer). Its queue is disabled for the
# run, so jobs are accepted and held rather than filtered while the next one is timed; they are
# cancelled at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
root=$(pwd)
bin=$(realpath "${VARDELLE:-build/vardelle}")
maker=$(realpath "${MAKE_TEST_SNAPSHOT:-build/testing/make_test_snapshot}")
runs=${RUNS:-20}
work=$(mktemp -d)
chmod 0755 "$work"
rig="$work/rig"
cleanup() {
  scripts/test-printer stop "$rig" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

eval "$(scripts/test-printer start "$rig")"
export PATH="$PATH:/usr/sbin"
queue=$VARDELLE_TEST_PRINTER
media=iso_a4_210x297mm

# 50 different A4 pages of text and vector drawing.
python3 - "$work/fifty.pdf" <<'PY'
import sys, zlib
pages = 50
objects = {1: b"<< /Type /Catalog /Pages 2 0 R >>",
           3: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}
kids = []
for i in range(pages):
    page, contents = 4 + 2 * i, 5 + 2 * i
    kids.append(b"%d 0 R" % page)
    ops = ["BT /F1 11 Tf 56 780 Td 14 TL"]
    for line in range(48):
        ops.append("(Page %d line %d: exact-size printing of artwork, nothing scaled.) '"
                   % (i + 1, line + 1))
    ops.append("ET")
    for k in range(40):
        ops.append("%.3f %.3f %.3f rg %d %d %d %d re f" % ((k * 7 % 10) / 10, (i % 10) / 10,
                   (k % 5) / 5, 40 + (k * 13 + i) % 500, 40 + (k * 17) % 300, 20 + k, 10 + k))
    data = zlib.compress("\n".join(ops).encode())
    objects[page] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.2756 841.8898] "
                     b"/Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>" % contents)
    objects[contents] = (b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + data +
                         b"\nendstream")
objects[2] = b"<< /Type /Pages /Kids [" + b" ".join(kids) + b"] /Count %d >>" % pages
out = bytearray(b"%PDF-1.7\n")
offsets = {}
for n in sorted(objects):
    offsets[n] = len(out)
    out += b"%d 0 obj\n" % n + objects[n] + b"\nendobj\n"
xref = len(out)
count = max(objects) + 1
out += b"xref\n0 %d\n0000000000 65535 f \n" % count
for n in range(1, count):
    out += b"%010d 00000 n \n" % offsets[n]
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (count, xref)
open(sys.argv[1], "wb").write(bytes(out))
PY

"$maker" "$queue" "$media" portrait >"$work/preset.json"
printer_id=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["printerId"])' "$work/preset.json")
printf '{"printerName":"%s","printerId":"%s","snapshotPath":"%s","filePath":"%s","scalePercent":100,"acceptMarginClipping":true}' \
  "$queue" "$printer_id" "$work/preset.json" "$work/fifty.pdf" >"$work/print.json"

cupsdisable "$queue"
# A failing run would time only its refusal.
out=$("$bin" print "$work/print.json" 2>&1) && grep -q "\"submitted\":true" <<<"$out" || {
  echo "$out" >&2
  echo "bench/print.sh: vardelle print did not submit" >&2
  exit 1
}
# The first command is the floor: the helper refusing a missing request file (process start,
# dynamic loading of its libraries, the result line), shown to read the print figure against.
hyperfine -N -i --style none --runs "$runs" --warmup 2 --export-json "$work/r.json" \
  "$bin print $work/missing.json" \
  "$bin print $work/print.json" \
  "lp -d $queue -o print-scaling=none -o media=$media $work/fifty.pdf" >/dev/null
cancel -a "$queue" 2>/dev/null || true
python3 bench/median.py "$work/r.json"
