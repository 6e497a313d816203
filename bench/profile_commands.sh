#!/usr/bin/env bash
# Speed of the two profile commands, process start to result line, beside a peer in the same run.
#   inspect-profile on a 33-grid LUT RGB printer profile (about 1.3 MB): goal median <= 150 ms;
#     peer: LittleCMS's tificc converting a 2-pixel 16-bit TIFF into the same profile with the
#     same settings (perceptual, black point compensation, high-resolution precalculation); it
#     builds one transform where the usability check builds two.
#   profile-paths with 500 profiles installed in the user's folders: goal median <= 50 ms;
#     peer: find over the same folders.
# Usage: bench/profile_commands.sh [build folder, default build] [runs, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
build=${1:-build}
runs=${2:-30}
cmake --build "$build" --target vardelle make_icc_fixture >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vardelle=$(realpath "$build/vardelle")
maker=$(realpath "$build/color/tests/make_icc_fixture")

# inspect-profile
"$maker" lut-printer-33 "$work/printer.icc"
printf '{"profilePath":"%s"}\n' "$work/printer.icc" >"$work/inspect.json"
printf '\0\0\0\0\0\0\377\377\377\377\377\377' >"$work/pixels.raw"
raw2tiff -w 2 -l 1 -b 3 -d short -c none -p rgb "$work/pixels.raw" "$work/pixels.tif"
echo "== inspect-profile on $(stat -c %s "$work/printer.icc") bytes"
hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/inspect-result.json" \
  -n vardelle "$vardelle inspect-profile $work/inspect.json" \
  -n tificc "tificc -w16 -t0 -b -c2 -i*sRGB -o$work/printer.icc $work/pixels.tif $work/out.tif" \
  >/dev/null

# profile-paths: 500 copies in ~/.color/icc and XDG_DATA_HOME/icc.
home="$work/home"
mkdir -p "$home/.color/icc/vendor" "$home/data/icc"
"$maker" display "$work/display.icc"
for i in $(seq 1 250); do
  cp "$work/display.icc" "$home/.color/icc/vendor/profile-$i.icc"
  cp "$work/display.icc" "$home/data/icc/Profile-$i.ICM"
done
echo '{}' >"$work/paths.json"
cat >"$work/find-peer.sh" <<PEER
#!/bin/sh
find /usr/share/color/icc /usr/local/share/color/icc $home/data/icc $home/.color/icc \\
  /var/lib/colord/icc -type f \\( -iname '*.icc' -o -iname '*.icm' \\) 2>/dev/null | sort -u
PEER
chmod +x "$work/find-peer.sh"
count=$(HOME="$home" XDG_DATA_HOME="$home/data" "$vardelle" profile-paths "$work/paths.json" |
  tr ',' '\n' | grep -ci '\.ic[cm]"')
echo "== profile-paths listing $count profiles"
hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/paths-result.json" \
  -n vardelle "env HOME=$home XDG_DATA_HOME=$home/data $vardelle profile-paths $work/paths.json" \
  -n find "$work/find-peer.sh" \
  >/dev/null

report() {
  # Medians (wall clock) and mean CPU time (user + system) from hyperfine's JSON export, ours
  # first. CPU time is shown too because the machine is shared: it moves less with the load.
  local file=$1 goal=$2
  grep -oE '"(median|user|system)": *[0-9.e-]+' "$file" | tr -d '" ' | awk -F: -v goal="$goal" '
    $1 == "median" { n++; median[n] = $2 * 1000 }
    $1 == "user" { cpu[n] += $2 * 1000 }
    $1 == "system" { cpu[n] += $2 * 1000 }
    END {
      printf "  vardelle: median %.1f ms, cpu %.1f ms (goal <= %d ms: %s)\n", median[1], cpu[1],
             goal, median[1] <= goal ? "met" : "MISSED"
      printf "  peer:     median %.1f ms, cpu %.1f ms\n", median[2], cpu[2]
      printf "  ratio %.2fx\n", median[1] / median[2]
    }'
}
echo "== results (medians of $runs runs)"
echo "inspect-profile:"
report "$work/inspect-result.json" 150
echo "profile-paths:"
report "$work/paths-result.json" 50
