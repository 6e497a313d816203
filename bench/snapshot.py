"""Writes the print-settings snapshot the benchmarks use: a sheet of WIDTH x HEIGHT points with
MARGIN points unprinted on every side (default 12), saved for no real printer.

    python3 bench/snapshot.py PATH WIDTH HEIGHT [MARGIN] [ORIENTATION]
"""
import base64
import json
import sys

path, w, h = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
margin = float(sys.argv[4]) if len(sys.argv) > 4 else 12
orientation = sys.argv[5] if len(sys.argv) > 5 else "portrait"
with open(path, "w") as out:
    json.dump({"version": 1, "printerName": "bench", "archive": base64.b64encode(b"{}").decode(),
               "paper": {"width": w, "height": h, "imageableX": margin, "imageableY": margin,
                         "imageableWidth": w - 2 * margin, "imageableHeight": h - 2 * margin},
               "summary": {"paperName": "bench", "paperWidthMm": w * 25.4 / 72,
                           "paperHeightMm": h * 25.4 / 72, "orientation": orientation,
                           "copies": 1, "printerName": "bench"}}, out)
