"""Reports of the interaction session: what the grab node saw, and what the poke dented."""

import math

import rova


def play_and_report(frames, grab, target):
    """Plays the replay and prints each change of what the grab node reports, tick by tick."""
    last = [None]

    def report(frame):
        seen = (rova.get(grab + ".intersectObject"), rova.get(grab + ".grabObject"))
        if seen != last[0]:
            position = " ".join("%.3f" % v for v in rova.get(target + ".translate"))
            print("  frame %3d: between the fingers %-6s grabbed %-6s %s at %s"
                  % (frame, seen[0], seen[1], target, position))
            last[0] = seen

    rova.play(frames, on_frame=report)


def report_dent(original_obj, mesh):
    """Compares the mesh's points with the file it was imported from."""
    original = []
    with open(original_obj) as source:
        for line in source:
            if line.startswith("v "):
                original.append([float(v) for v in line.split()[1:4]])
    now = [[float(v) for v in line.split()]
           for line in rova.eval("points " + mesh).splitlines()]
    moved = [math.dist(a, b) for a, b in zip(original, now)]
    dented = sum(1 for d in moved if d > 1e-9)
    print("  %d of %d vertices pushed in, the deepest by %.3f units"
          % (dented, len(now), max(moved) if moved else 0.0))
