#!/usr/bin/env bash
# The PDFs that Debian's documentation packages ship (those bench/pdf_values.sh installs) that
# have layers, found by running inspect on every one with VARDELLE_DEBUG=1 (the plain reader
# leaves a layered file to qpdf and says so), each with the warning that names its layers that
# will not print, if any. Ends with the counts.
set -uo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${VARDELLE:-build/vardelle}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files=0
layered=0
named=0
while IFS= read -r pdf; do
  files=$((files + 1))
  python3 -c 'import json, sys; print(json.dumps({"printerName": "vardelle-demo",
    "snapshotPath": sys.argv[1], "filePath": sys.argv[2], "scalePercent": 100}))' \
    "$PWD/samples/preset-a4.json" "$pdf" >"$work/request.json"
  VARDELLE_DEBUG=1 timeout 60 "$bin" inspect "$work/request.json" >"$work/line" 2>"$work/notes"
  grep -q "declined: layers" "$work/notes" || continue
  layered=$((layered + 1))
  warning=$(python3 -c 'import json, sys
line = json.load(open(sys.argv[1]))
print(next((w for w in line.get("document", {}).get("warnings", []) if w.startswith("This PDF has")), ""))' "$work/line")
  [[ -n $warning ]] && named=$((named + 1))
  printf '%s\t%s\n' "$pdf" "$warning"
done < <(find /usr/share/doc /usr/share/R/doc /usr/share/cups/data -name '*.pdf' -type f -size +0 | sort)
echo "$files PDFs, $layered with layers, $named of them with layers that will not print"
