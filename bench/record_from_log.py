#!/usr/bin/env python3
"""A boot record (schema 1) assembled from what a bootcrank run leaves
today: its profiling log (plugin start and end) and its dependency dump
(`--dump-dependency-tree`, the graph's nodes and edges).

The benchmarks use it to measure `bootcrank-analyze what-if` against real
runs. What the two files do not hold is filled in and marked as such:
a plugin's ready time is the end of its last dependency (the run's first
plugin start for one without), a barrier ran for no time at the end of its
last dependency, and no worker indices are given (the replay then takes no
dispatch cost from the record).

Usage:
  record_from_log.py --log sysboot.log --dot graph.dot --workers 4 > record.json
"""

import argparse
import calendar
import json
import re
import sys
import time


def parse_time(text):
    t = time.strptime(text[:19], "%Y-%m-%d %H:%M:%S")
    return calendar.timegm(t) * 1000000 + int(text[20:26])


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--log", required=True)
    p.add_argument("--dot", required=True)
    p.add_argument("--workers", type=int, required=True)
    a = p.parse_args()

    plugins, start, end, uptime = [], None, None, None
    line_re = re.compile(r"^\[(.{26}) - (.{26})\] sysboot: (.*)$")
    for line in open(a.log):
        line = line.rstrip("\n")
        m = line_re.match(line)
        if m:
            s, e = parse_time(m.group(1)), parse_time(m.group(2))
            plugins.append({"name": m.group(3), "after": [], "started": s, "ended": e})
        elif line.startswith("HVKernel Initialization Time: "):
            uptime = int(line.split(": ")[1]) // 1000000
        elif line.startswith(" Start: "):
            start = parse_time(line[8:])
        elif line.startswith(" End: "):
            end = parse_time(line[6:])
        elif line.startswith("=== Daemon"):
            break

    labels, shapes, edges = {}, {}, []
    for line in open(a.dot):
        m = re.match(r'^(\d+) \[label="(.*)"( shape=(\w+))?\];$', line.strip())
        if m:
            labels[m.group(1)] = m.group(2)
            shapes[m.group(1)] = m.group(4)
            continue
        m = re.match(r"^(\d+) -> (\d+);$", line.strip())
        if m:
            edges.append((m.group(1), m.group(2)))

    by_name = {p["name"]: p for p in plugins}
    barriers = {}
    for node_id, shape in shapes.items():
        if shape in ("box", "trapezium"):
            barriers[node_id] = {"name": labels[node_id], "kind": "init" if shape == "box" else "priority",
                                 "after": []}
    def node(node_id):
        if node_id in barriers:
            return barriers[node_id]
        return by_name.get(labels.get(node_id))
    dependents = {}
    for on, who in edges:
        a_node, b_node = node(on), node(who)
        if a_node is None or b_node is None:
            continue  # a plugin that discovery filtered out of the run list
        b_node["after"].append(a_node["name"])
        dependents.setdefault(id(a_node), []).append(b_node)

    ran = [p for p in plugins if p["started"] > 0]
    run_start = min(p["started"] for p in ran)
    for p in plugins:
        p["execution_class"] = 1
        if p["started"] == 0:
            del p["started"], p["ended"]
            p["result"] = "skipped"
        else:
            p["result"] = "succeeded"
    # Barriers and ready times in dependency order.
    all_nodes = list(plugins) + list(barriers.values())
    names = {("b", b["name"]): b for b in barriers.values()}
    names.update({("p", p["name"]): p for p in plugins})
    def deps_of(n):
        first, second = ("p", "b") if n in barriers.values() else ("b", "p")
        return [names.get((first, x)) or names.get((second, x)) for x in n["after"]]
    done = set()
    def settle(n, depth=0):
        if id(n) in done:
            return
        done.add(id(n))
        deps = deps_of(n)
        for d in deps:
            settle(d, depth + 1)
        released = max([d["ended"] for d in deps if "ended" in d] or [run_start])
        if n in barriers.values():
            if dependents.get(id(n)):
                n["ready"] = n["started"] = n["ended"] = released
        elif "started" in n:
            n["ready"] = min(released, n["started"])
    sys.setrecursionlimit(100000)
    for n in all_nodes:
        settle(n)
    record = {
        "schema": 1, "program": {"name": "bootcrank", "version": "1.0.0"},
        "mode": "plain", "settings": {"parallel": args_parallel(a.workers), "workers": a.workers},
        "start": start, "end": end, "uptime_seconds": uptime,
        "plugins": plugins, "barriers": list(barriers.values()),
    }
    json.dump(record, sys.stdout, indent=1)
    sys.stdout.write("\n")


def args_parallel(workers):
    return workers > 1


if __name__ == "__main__":
    main()
