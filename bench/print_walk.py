# The walk of one `print` through the files of the print path, traced under gdb (run by
# bench/print_walk.sh). Rooms: the .cc files of printing/job, printing/cups, printing/settings,
# printing/preset and app/commands (a header counts as its .cc). Every function with a body in a
# room gets a breakpoint once the printing module is loaded; at each stop the rooms on the stack
# are read from the backtrace, and the walk moves from the previous stack to this one: back into
# callers, then into callees; consecutive steps in one room are one stay. The pipeline's own rooms
# (printing/job, app/commands) are followed down; a room it consults elsewhere (printing/cups,
# printing/settings) is one stay whatever it calls inside. Values' own construction, queries and
# release (PrintSettings, PrintOption, QueuePpd but its forQueue, handle closers) are no steps.
import gdb, os, re, json

ROOM_DIRS = ["printing/job", "printing/cups", "printing/settings", "printing/preset",
             "app/commands"]
SKIP = re.compile(r"PrintSettings::|PrintOption::|Closer::|Deleter::|Freer::|Free::|"
                  r"QueuePpd::(?!forQueue)|CupsOptions::|~|operator=|std::|RouteFacts::|"
                  r"CheckedDestination::|JobPlan::|PinnedCertificate::|JobTarget::|"
                  r"ArtworkPrintView::(?!printDocument|ArtworkPrintView)")

ROOM = re.compile(r"((?:printing/(?:job|cups|settings|preset)|app/commands)/[^/]+)\.(?:cc|h)$")

def room_of(filename):
    # Objects shared through ccache may name another checkout's folder: the path inside the
    # tree is what counts.
    if not filename:
        return None
    m = ROOM.search(os.path.normpath(filename))
    return m.group(1) + ".cc" if m else None

walk = []      # the rooms in the order they are stayed in
stack = []     # the rooms on the stack at the last stop

def move(new_stack):
    global stack
    common = 0
    while common < len(stack) and common < len(new_stack) and stack[common] == new_stack[common]:
        common += 1
    # returning: every frame popped hands control back to its caller's room
    for depth in range(len(stack) - 1, common - 1, -1):
        if depth - 1 >= 0:
            stay(stack[depth - 1])
    for room in new_stack[common:]:
        stay(room)
    stack = new_stack

def stay(room):
    if not walk or walk[-1] != room:
        walk.append(room)

class Step(gdb.Breakpoint):
    def stop(self):
        rooms = []
        frame = gdb.newest_frame()
        while frame is not None:
            sal = frame.find_sal()
            room = room_of(sal.symtab.fullname() if sal.symtab else None)
            name = frame.name() or ""
            parts = name.split("::")
            # A value's own construction is no step of the walk.
            constructor = len(parts) >= 2 and parts[-1] == parts[-2]
            if room and not SKIP.search(name) and not constructor:
                rooms.append(room)
            frame = frame.older()
        rooms.reverse()
        # The pipeline's rooms are followed; a room it consults elsewhere is a leaf.
        cut = []
        for r in rooms:
            cut.append(r)
            if not (r.startswith("printing/job/") or r.startswith("app/commands/")):
                break
        rooms = cut
        # consecutive frames in one room are one stay on the stack
        collapsed = []
        for r in rooms:
            if not collapsed or collapsed[-1] != r:
                collapsed.append(r)
        move(collapsed)
        return False

placed = set()
def place():
    out = gdb.execute("info functions -q -n ^vardelle::", to_string=True)
    current = None
    for line in out.splitlines():
        if line.startswith("File "):
            current = line[5:].rstrip(":")
            current = os.path.normpath(current)
            continue
        m = re.match(r"(\d+):\s+(.*);$", line)
        if not m or not current or not room_of(current):
            continue
        key = (current, m.group(1))
        name = m.group(2).replace("(anonymous namespace)", "anon").split("(")[0]
        if key in placed or SKIP.search(name):
            continue
        placed.add(key)
        try:
            Step(f"{ROOM.search(current).group(0)}:{m.group(1)}", internal=True)
        except gdb.error:
            pass
    print("walk: %d breakpoints" % len(placed))

def finish(event):
    move([])
    rooms = sorted(set(walk))
    returns = len(walk) - len(rooms)
    counts = {r: walk.count(r) for r in rooms}
    with open(os.environ["WALK_OUT"], "w") as out:
        json.dump({"stays": len(walk), "rooms": len(rooms), "returns": returns,
                   "entered": counts, "walk": walk}, out, indent=1)

gdb.events.exited.connect(finish)
