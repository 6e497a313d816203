#!/usr/bin/env python3
"""Prints the median of each command in a hyperfine --export-json file, and ratios to the last."""
import json
import statistics
import sys

results = json.load(open(sys.argv[1]))["results"]
medians = [(r["command"], statistics.median(r["times"]) * 1000) for r in results]
peer = medians[-1][1]
for command, ms in medians:
    print(f"{ms:9.2f} ms median  ({ms / peer:5.2f}x peer)  {command}")
