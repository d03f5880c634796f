#!/usr/bin/env python3
"""How the cost of a scene's statements grows with the scene, through the `rova` program: a chain
of timeRotate nodes, each also fed by sceneTime.time, built by a script (create and two connects a
node), then the chain's end read after a time change, and one node deleted from the middle and the
deletion undone. Prints, per size, the time per node of the whole run and its ratio against the
smallest size of the same run. A statement whose cost does not grow with the scene keeps the
ratio near 1 (a statement that walks the scene makes it grow with the size).

Usage: script-scale.py ROVA [--max N]   (sizes go up by 10 from 1,000 to N; default 100000)
Times are the child's user and system CPU time, less the run of an empty script (start-up and
loading the plug-in).
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile


def chain_script(n):
    lines = ["plugin -load kivo_rova"]
    for k in range(n):
        lines.append(f"create timeRotate -name n{k}")
        lines.append(f"connect sceneTime.time n{k}.time")
        if k:
            lines.append(f"connect n{k - 1}.outputRotate n{k}.initialRotate")
    middle = n // 2
    lines += [
        "time -seconds 0.5",
        f"get n{n - 1}.outputRotate",
        f"delete n{middle}",
        "undo",
        "time -seconds 1",
        f"get n{n - 1}.outputRotate",
    ]
    return "\n".join(lines) + "\n"


def cpu_seconds(rova, script, folder):
    path = os.path.join(folder, "scene.rova")
    with open(path, "w") as f:
        f.write(script)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    run = subprocess.run([rova, path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if run.returncode != 0:
        sys.exit(f"script-scale: rova exited with {run.returncode}: {run.stderr[-500:]}")
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("rova")
    parser.add_argument("--max", type=int, default=100000)
    args = parser.parse_args()
    if args.max < 1000:
        sys.exit("script-scale: --max must be at least 1000")
    sizes = []
    n = 1000
    while n <= args.max:
        sizes.append(n)
        n *= 10
    with tempfile.TemporaryDirectory() as folder:
        empty = min(cpu_seconds(args.rova, "plugin -load kivo_rova\n", folder) for _ in range(3))
        print("script scale: a chain of timeRotate nodes built, pulled, cut and undone by one rova "
              "script;\nCPU time per node in us, and its ratio against the smallest chain")
        print(f"{'nodes':>8} {'per node':>9} {'ratio':>7}")
        base = None
        for n in sizes:
            per_node = (cpu_seconds(args.rova, chain_script(n), folder) - empty) / n * 1e6
            base = base or per_node
            print(f"{n:8d} {per_node:9.2f} {per_node / base:7.2f}", flush=True)
        print(f"script scale at {sizes[-1]} nodes: {per_node:.2f} us a node, "
              f"{per_node / base:.2f} x the {sizes[0]}-node chain's")


if __name__ == "__main__":
    main()
