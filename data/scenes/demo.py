"""The bundled session's helpers: one recording made of several, what to look at after a bake.

Paths are relative to the repository root, where scripts/run-demo runs the session.
"""

import json
import math
import os

import rova

GESTURES = ("swipe", "circle", "screenTap", "keyTap")


def join_recordings(paths, output, pause_us=500000):
    """Writes the recordings one after another as one lockstep session: frame ids run on, and
    each recording starts `pause_us` after the one before ends, its own timing kept (so gestures
    are recognised at their recorded speed)."""
    frames, events, offset, next_id = [], 0, 0, 1
    for path in paths:
        with open(path) as source:
            lines = source.read().splitlines()
        header = lines[0].split()
        if header[0] != "kivo-recording" or "gestures=none" not in header:
            raise ValueError("%s: only recordings without recorded gestures can be joined" % path)
        last = offset
        for line in lines[1:]:
            if not line or line.startswith("#") or line.startswith("end "):
                continue
            head, _, rest = line.partition(";")
            words = head.split()
            time = offset + int(words[-1][2:])
            last = max(last, time)
            if words[0] == "frame":
                frames.append("frame %d t=%d;%s" % (next_id, time, rest) if rest
                              else "frame %d t=%d" % (next_id, time))
                next_id += 1
            else:
                frames.append("event %s t=%d" % (words[1], time))
                events += 1
        offset = last + pause_us
    os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
    with open(output, "w") as out:
        out.write("kivo-recording version=1 rate=60 length=mm time=us gestures=none\n")
        out.write("\n".join(frames) + "\n")
        out.write("end frames=%d events=%d\n" % (next_id - 1, events))
    return next_id - 1


def write_paths(table, markers, output):
    """Writes where the markers went, from a bake's JSON table, as OBJ polylines in the bake's
    unit (metres unless it was raw; y up), one object per marker; a path breaks where its
    `enabled` column is 0."""
    with open(table) as source:
        baked = json.load(source)
    columns = baked["columns"]
    lines = ["# marker paths in %ss, y up" % baked.get("unit", "scene unit")]
    count = 0
    samples = {}
    for name, enabled in markers:
        xs, ys, zs = (columns["%s.translation[%d]" % (name, i)] for i in range(3))
        shown = columns.get(enabled, [1] * len(xs))
        pieces, piece = [], []
        for x, y, z, on in zip(xs, ys, zs, shown):
            if on:
                piece.append((x, y, z))
            elif piece:
                pieces.append(piece)
                piece = []
        if piece:
            pieces.append(piece)
        samples[name] = sum(len(p) for p in pieces)
        lines.append("o " + name)
        for piece in pieces:
            if len(piece) < 2:
                continue
            first = count + 1
            lines.extend("v %.9g %.9g %.9g" % p for p in piece)
            count += len(piece)
            lines.append("l " + " ".join(str(i) for i in range(first, count + 1)))
    with open(output, "w") as out:
        out.write("\n".join(lines) + "\n")
    return samples


def summary(table, grab, mesh, original_obj):
    """What the session did, from the bake's table and the mesh as it is now."""
    with open(table) as source:
        baked = json.load(source)
    columns = baked["columns"]
    lines = ["  frames baked: %d" % len(baked["frames"])]
    seen = []
    for gesture in GESTURES:
        states = columns.get("gestures.%sState" % gesture, [])
        # A gesture shows its start record, or a tap its stop record, once per gesture.
        starts = sum(1 for before, now in zip([-1] + states, states)
                     if now in (1, 3) and before not in (1, 2))
        seen.append("%s %d" % (gesture, starts))
    lines.append("  gestures seen: " + ", ".join(seen))
    grabbed = columns.get(grab + ".grabObject", [])
    grabs = sum(1 for before, now in zip(["null"] + grabbed, grabbed)
                if now != "null" and before == "null")
    lines.append("  grabs: %d (%s)" % (grabs, ", ".join(sorted(set(grabbed) - {"null"})) or "none"))
    original = []
    with open(original_obj) as source:
        for line in source:
            if line.startswith("v "):
                original.append([float(v) for v in line.split()[1:4]])
    now = [[float(v) for v in line.split()] for line in rova.eval("points " + mesh).splitlines()]
    moved = [math.dist(a, b) for a, b in zip(original, now)]
    lines.append("  %s: %d of %d vertices dented, the deepest by %.3f units"
                 % (mesh, sum(1 for d in moved if d > 1e-9), len(now), max(moved or [0.0])))
    return "\n".join(lines) + "\n"
