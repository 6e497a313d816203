#!/usr/bin/env python3
# Counts the walk bench/print_walk.py recorded: stays, rooms and returns (stays in a room already
# left), over every room and over the pipeline's own (printing/job, app/commands). A loop that
# goes back and forth through the same rooms repeats a stretch of the walk right after itself:
# the repeat is one passage.
import json, sys

def collapse(walk):
    # A loop going back and forth through the same rooms repeats a stretch of the walk right
    # after itself: such a repeat is one passage.
    changed = True
    while changed:
        changed = False
        n = len(walk)
        for length in range(1, n // 2 + 1):
            i = 0
            out = []
            while i < len(walk):
                if walk[i:i + length] == walk[i + length:i + 2 * length] and i + 2 * length <= len(walk):
                    out.extend(walk[i:i + length])
                    i += 2 * length
                    # skip further repeats of the same stretch
                    while walk[i:i + length] == out[-length:] and i + length <= len(walk):
                        i += length
                    changed = True
                else:
                    out.append(walk[i])
                    i += 1
            # merge neighbours that became equal
            merged = []
            for r in out:
                if not merged or merged[-1] != r:
                    merged.append(r)
            walk = merged
    return walk


def report(title, walk):
    walk = collapse(walk)
    rooms = sorted(set(walk))
    print(f"{title}: {len(walk)} stays in {len(rooms)} rooms, {len(walk) - len(rooms)} returns")
    counts = sorted(((walk.count(r), r) for r in rooms), reverse=True)
    print("  entered: " + ", ".join(f"{r} {c}" for c, r in counts if c > 1))
    print("  walk: " + " > ".join(r.split("/")[-1] for r in walk))


walk = json.load(open(sys.argv[1]))["walk"]
report("every room", walk)
own = []
for room in walk:
    if room.startswith("printing/job/") or room.startswith("app/commands/"):
        if not own or own[-1] != room:
            own.append(room)
report("the pipeline's own rooms", own)
