"""Plays a lockstep replay tick by tick and records where tracked markers went.

The paths are written as Wavefront OBJ polylines in scene units (y up), one object per marker,
so any mesh viewer shows where the hands went after the plug-in mapped them into the scene. A
path breaks where its output was not enabled (the hand or finger was out of view).
"""

import os
import sys

import rova

GESTURE_STATES = ("swipeState", "circleState", "screenTapState", "keyTapState")
STATE_NAMES = {1: "start", 2: "update", 3: "stop"}


def world_position(transform):
    matrix = [float(v) for v in rova.get(transform + ".worldMatrix").split()]
    return matrix[12], matrix[13], matrix[14]


def play_and_trace(frames, markers, gestures, path):
    """markers: (transform, enabled plug) pairs; gestures: a gestures node or ''."""
    tracks = {name: [[]] for name, _ in markers}
    seen = {state: {} for state in GESTURE_STATES}
    show_progress = sys.stderr.isatty()
    for frame in range(frames):
        rova.eval("play -frames 1")
        for name, enabled in markers:
            pieces = tracks[name]
            if rova.get(enabled) == "true":
                pieces[-1].append(world_position(name))
            elif pieces[-1]:
                pieces.append([])
        if gestures:
            for state in GESTURE_STATES:
                value = int(rova.get(gestures + "." + state))
                if value in STATE_NAMES:
                    counts = seen[state]
                    counts[STATE_NAMES[value]] = counts.get(STATE_NAMES[value], 0) + 1
        if show_progress and (frame % 25 == 0 or frame + 1 == frames):
            sys.stderr.write("\rtracing %d/%d frames" % (frame + 1, frames))
    if show_progress:
        sys.stderr.write("\n")
    write_obj(path, tracks)
    return tracks, seen


def write_obj(path, tracks):
    folder = os.path.dirname(path)
    if folder:
        os.makedirs(folder, exist_ok=True)
    lines = ["# marker paths in scene units, y up"]
    count = 0
    for name, pieces in tracks.items():
        lines.append("o " + name)
        for piece in pieces:
            if len(piece) < 2:
                continue
            first = count + 1
            for x, y, z in piece:
                lines.append("v %.9g %.9g %.9g" % (x, y, z))
            count += len(piece)
            lines.append("l " + " ".join(str(i) for i in range(first, count + 1)))
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def summary(tracks, seen, path):
    lines = []
    for name, pieces in tracks.items():
        points = [p for piece in pieces for p in piece]
        if not points:
            lines.append("  %-6s never in view" % name)
            continue
        low = [min(p[i] for p in points) for i in range(3)]
        high = [max(p[i] for p in points) for i in range(3)]
        lines.append("  %-6s %3d samples, from (%.2f %.2f %.2f) to (%.2f %.2f %.2f)"
                     % ((name, len(points)) + tuple(low) + tuple(high)))
    for state, counts in seen.items():
        text = ", ".join("%s %d" % item for item in sorted(counts.items())) or "none"
        lines.append("  %-14s %s" % (state, text))
    lines.append("  paths written to " + path)
    return "\n".join(lines) + "\n"
