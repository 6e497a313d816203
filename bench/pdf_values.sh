#!/usr/bin/env bash
# How many values real writers put in a PDF per byte, for the budgets of the check before qpdf
# (artwork/plain_pdf_limits.cc): every PDF that Debian's documentation packages below ship (TeX
# manuals by pdfTeX, LuaTeX, XeTeX and dvipdfmx, R's and texinfo manuals, and what package authors
# made with Ghostscript, Acrobat Distiller, macOS, FOP or ReportLab), each also written again by
# qpdf with object streams at the highest compression, as an optimising writer would. For each
# file, build/artwork/tests/pdf_values counts
# with no budget: the values read for the pages (with cross-reference entries and object-stream
# offsets), the values reached from the pages as qpdf builds them to copy them (whole object
# streams), the bytes its object and cross-reference streams decode to. Prints the distribution
# of values per file byte and per decoded byte, the files nearest the budgets, and how many the
# budgets refuse; the hostile files (build/testing/make_hostile_pdf) are counted beside them.
#   bench/pdf_values.sh            the whole corpus: 4,613 files and their rewrites (counting takes
#                                  a minute; qpdf's rewriting, about an hour on 2 cores)
#   LIMIT=500 bench/pdf_values.sh  the first 500 files found (and their rewrites)
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
scripts/install-packages texlive-latex-base-doc texlive-latex-recommended-doc \
  texlive-latex-extra-doc texlive-pictures-doc texlive-science-doc texlive-metapost-doc \
  texlive-fonts-recommended-doc lilypond-doc-pdf r-doc-pdf gnuplot-doc asymptote-doc gnutls-doc \
  octave-doc libidn2-doc maxima-doc gmsh-doc swig4.0-doc groff fop-doc python-reportlab-doc
cmake --build --preset dev --target pdf_values make_hostile_pdf >/dev/null
counter=build/artwork/tests/pdf_values
maker=build/testing/make_hostile_pdf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

find /usr/share/doc /usr/share/R/doc /usr/share/cups/data -name '*.pdf' -type f -size +0 | sort |
  awk -v most="${LIMIT:-0}" 'most == 0 || NR <= most' >"$work/files"
echo "$(wc -l <"$work/files") PDFs found; counting..." >&2
xargs -d '\n' -n 200 "$counter" <"$work/files" >"$work/shipped.tsv"

# The same files written again by qpdf: object streams, Flate at level 9. Files qpdf cannot write
# again (damaged, encrypted) are skipped.
mkdir "$work/rewritten"
n=0
while IFS= read -r pdf; do
  n=$((n + 1))
  qpdf --object-streams=generate --recompress-flate --compression-level=9 --no-warn \
    "$pdf" "$work/rewritten/$n.pdf" 2>/dev/null || [ $? -eq 3 ] || rm -f "$work/rewritten/$n.pdf"
done <"$work/files"
find "$work/rewritten" -name '*.pdf' | sort | xargs -d '\n' -n 200 "$counter" >"$work/rewritten.tsv"

for recipe in "emptyArrayBomb 30000000" "emptyArrayBomb 30000000 Resources" \
  "manySmallObjects 100000 Resources" "xrefBomb 9000000" "deepNesting 100000"; do
  # shellcheck disable=SC2086
  "$maker" $recipe >"$work/hostile-${recipe// /-}.pdf"
done
"$counter" "$work"/hostile-*.pdf >"$work/hostile.tsv"

python3 bench/pdf_values_report.py "$work/shipped.tsv" "$work/rewritten.tsv" "$work/hostile.tsv"
