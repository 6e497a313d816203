#!/usr/bin/env bash
# What deciding layers costs: the preview of a 50-page layered PDF (each page five layers of 400
# filled curves, two layers off, one shown on screen but not printed, one drawn through a
# membership dictionary) beside the preview of the same file without /OCProperties, which the
# helper copies as it always has, in the same hyperfine run (medians of RUNS runs), with the
# sizes written and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
bin=$(realpath "${VARDELLE:-build/vardelle}")
runs=${RUNS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import random, sys, zlib
work = sys.argv[1]
random.seed(7)
W, H, PAGES, LAYERS = 595.2756, 841.8898, 50, 5
def content():
    ops = []
    for layer in range(LAYERS):
        name = "/M" if layer == 4 else "/L%d" % layer
        ops.append("/OC %s BDC" % name)
        for _ in range(400):
            x, y, r = random.uniform(0, W), random.uniform(0, H), random.uniform(4, 30)
            ops.append("%.3f %.3f %.3f rg %.2f %.2f m %.2f %.2f %.2f %.2f %.2f %.2f c %.2f %.2f l f"
                       % (random.random(), random.random(), random.random(), x, y, x + r, y,
                          x + r, y + r, x, y + r, x - r / 2, y + r / 2))
        ops.append("EMC")
    return "\n".join(ops).encode()
def write(path, properties):
    objects = {1: b"<< /Type /Catalog /Pages 2 0 R " + properties + b" >>"}
    groups = list(range(3, 3 + LAYERS - 1))
    for i, n in enumerate(groups):
        usage = b" /Usage << /Print << /PrintState /OFF >> >>" if i == 2 else b""
        objects[n] = b"<< /Type /OCG /Name (Layer %d)%s >>" % (i, usage)
    membership = 3 + LAYERS - 1
    objects[membership] = b"<< /Type /OCMD /OCGs [3 0 R 4 0 R] /P /AnyOn >>"
    kids, number = [], membership + 1
    props = b" ".join(b"/L%d %d 0 R" % (i, n) for i, n in enumerate(groups))
    props += b" /M %d 0 R" % membership
    for _ in range(PAGES):
        data = zlib.compress(content())
        objects[number] = b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + data + \
            b"\nendstream"
        objects[number + 1] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.4f %.4f] "
                               b"/Resources << /Properties << %s >> >> /Contents %d 0 R >>"
                               % (W, H, props, number))
        kids.append(b"%d 0 R" % (number + 1))
        number += 2
    objects[2] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(kids), PAGES)
    out = bytearray(b"%PDF-1.7\n")
    offsets = {}
    for n in sorted(objects):
        offsets[n] = len(out)
        out += b"%d 0 obj\n" % n + objects[n] + b"\nendobj\n"
    xref, count = len(out), max(objects) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % count
    for n in range(1, count):
        out += b"%010d 00000 n \n" % offsets[n]
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (count, xref)
    open(path, "wb").write(out)
state = random.getstate()
write(work + "/layered.pdf", b"/OCProperties << /OCGs [3 0 R 4 0 R 5 0 R 6 0 R] /D << /OFF "
      b"[4 0 R 6 0 R] /AS [<< /Event /Print /OCGs [5 0 R] /Category [/Print] >>] >> >>")
random.setstate(state)
write(work + "/plain.pdf", b"")
PY

python3 bench/snapshot.py "$work/a4.json" 595.2755905511812 841.8897637795276
for name in layered plain; do
  printf '{"printerName":"bench","snapshotPath":"%s","filePath":"%s","scalePercent":100,"outputPath":"%s"}' \
    "$work/a4.json" "$work/$name.pdf" "$work/$name-preview.pdf" >"$work/$name.json"
  "$bin" preview "$work/$name.json" | grep -q '"ok":true' || { echo "$name failed"; exit 1; }
done
echo "== preview of a 50-page layered PDF, beside the same file without /OCProperties"
hyperfine -N --style none --runs "$runs" --warmup 1 --export-json "$work/times.json" \
  "$bin preview $work/layered.json" "$bin preview $work/plain.json" >/dev/null
python3 bench/median.py "$work/times.json"
for name in layered plain; do
  rss=$(/usr/bin/time -f %M "$bin" preview "$work/$name.json" 2>&1 >/dev/null | tail -n 1)
  echo "   $name: input $(stat -c %s "$work/$name.pdf") B, preview" \
    "$(stat -c %s "$work/$name-preview.pdf") B, peak memory $((rss / 1024)) MB"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
