"""Collects the headline figures of a scripts/run-bench run from the programs' outputs and prints
them, each with its baseline and ratio; writes them to OUT/figures.json. Usage: bench-summary.py OUT
"""

import json
import os
import re
import sys

out = sys.argv[1]


def text(name):
    path = os.path.join(out, name + ".txt")
    return open(path).read().splitlines() if os.path.exists(path) else []


def lines_matching(name, pattern):
    return [line.strip() for line in text(name) if re.search(pattern, line)]


figures = []
tracking = os.path.join(out, "tracking.json")
if os.path.exists(tracking):
    for f in json.load(open(tracking))["figures"]:
        figures.append({"bench": "tracking", **f})
live = os.path.join(out, "live.json")
if os.path.exists(live):
    for f in json.load(open(live))["figures"]:
        figures.append({"bench": "live", **f})
bake = os.path.join(out, "bake-throughput.json")
if os.path.exists(bake):
    figures.append({"bench": "bake", **json.load(open(bake))})

headlines = {
    "data-thread CPU and latency (tracking nodes)": [
        "%s: %g %s; baseline %s %g; ratio %.4g%s" % (
            f["name"], f["value"], f["unit"], f["baseline_name"], f["baseline"], f["ratio"],
            "" if "target" not in f else
            " (target %g: %s)" % (f["target"], "met" if f["meets_target"] else "NOT MET"))
        for f in figures if f["bench"] == "tracking"],
    "data-thread CPU (realTime node)": lines_matching("realtime", r"%|ratio"),
    "data-thread CPU (host, a test node)": lines_matching("host-threads", r"%|median"),
    "graph cost per node against the 100-node scene": lines_matching("graph-scale",
                                                                      r"^graph scale \w+ at"),
    "rova script cost per node against the 1,000-node chain": lines_matching(
        "script-scale", r"^script scale at"),
    "grab queries against brute force (G1-G3)": lines_matching("rays", r"^G[123]"),
    "deformer against its reference and a plain copy (D1-D3)":
        lines_matching("deformer", r"^(D[123]|fastest|all within|OUT OF)"),
    "bake throughput": lines_matching("bake", r"^bake throughput"),
    "tracker page (headless Chromium, CPU inference)":
        lines_matching("tracker", r"^(tracking time|fake camera)"),
    "smoothing on the real recording (F1-F6)": lines_matching("filter", r"^F[1-6]"),
    "camera live source: capture to the host's tick, host CPU (L1-L3)":
        lines_matching("live", r"^(L[123] |load average)"),
}
print("\n== headline figures (each against its baseline from this run)")
for title, lines in headlines.items():
    print(title + ":")
    for line in lines or ["(no output: see %s)" % out]:
        print("  " + line)
with open(os.path.join(out, "figures.json"), "w") as target:
    json.dump({"figures": figures, "headlines": headlines}, target, indent=1)
print("\nfigures: %s" % os.path.join(out, "figures.json"))
