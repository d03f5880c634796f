#!/bin/sh
# Time of one unplug and replug of the simulated device with N live hand-tracking nodes, each
# node's manager queueing its notices and the host-side switch; the switches together should cost
# in proportion to N. Prints "N seconds" per line.
#
# Usage: bench/plugin/unplug_replug_cost.sh [ROVA] [N...]
#        (defaults: build/release/bin/rova; 50 100 200 400 800)
set -eu
rova=${1:-build/release/bin/rova}
[ $# -gt 0 ] && shift
sizes=${*:-50 100 200 400 800}
script=$(mktemp --suffix=.rova)
trap 'rm -f "$script"' EXIT
for n in $sizes; do
    {
        echo "plugin -load kivo_rova"
        i=0
        while [ "$i" -lt "$n" ]; do
            echo "create kivoTransform -name hands$i; set hands$i.live true"
            i=$((i + 1))
        done
        echo "device -connect; refresh"
        echo 'python("import time; _start = time.perf_counter()")'
        echo "device -disconnect; refresh; device -connect; refresh"
        echo "python(\"print('$n %.4f' % (time.perf_counter() - _start))\")"
    } >"$script"
    "$rova" "$script" 2>/dev/null | tail -n 1
done
