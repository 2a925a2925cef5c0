#!/usr/bin/env python3
"""Seeded synthetic boot records (schema 1) for bootcrank-analyze benchmarks.

One plugin graph is drawn once: N plugins, each requiring up to three
barriers provided by earlier plugins and providing its own barrier. Every
record is one host's boot of that graph: durations vary around the plugin's
base duration, about one plugin in a hundred fails, and the times come from
list scheduling with the executor's urgency rule (lowest class, greatest
dependent depth, earliest queued) on W workers, with a small dispatch cost,
so ready, started and ended agree with the edges the way a real run does.
The records carry what bootcrank writes (sources, commands, settings), so
their size is realistic: about 0.5 KiB per plugin.

Usage:
  gen_records.py --out DIR [--records 10000] [--plugins 200] [--workers 4] [--seed 1]
"""

import argparse
import heapq
import json
import os
import random

EPOCH = 1765000000000000  # 2025-12-06T05:46:40Z, in microseconds


def make_graph(plugins, rng):
    names = ["svc-%03d" % i for i in range(plugins)]
    requires = []
    for i in range(plugins):
        k = rng.randint(0, 3) if i else 0
        pool = range(max(0, i - 40), i)
        requires.append(sorted(rng.sample(pool, min(k, len(pool)))))
    base = [int(rng.lognormvariate(10.0, 1.0)) + 500 for _ in range(plugins)]  # µs, median ~22 ms
    kinds = [rng.choice(["json", "json", "json", "native", "debug"]) for _ in range(plugins)]
    return names, requires, base, kinds


class Nodes:
    """The node graph: plugins 0..N-1, then barrier i (N + i) provided by plugin i."""

    def __init__(self, requires):
        n = len(requires)
        self.n = n
        self.deps = [[n + j for j in requires[i]] for i in range(n)] + [[i] for i in range(n)]
        self.dependents = [[] for _ in range(2 * n)]
        for node, ds in enumerate(self.deps):
            for d in ds:
                self.dependents[d].append(node)
        self.depth = [0] * (2 * n)
        # Plugins only depend on earlier plugins' barriers: reverse order is topological.
        for i in reversed(range(n)):
            b = n + i
            self.depth[b] = 1 + max((self.depth[d] for d in self.dependents[b]), default=-1)
            self.depth[i] = 1 + self.depth[b]


def schedule(nodes, durations, workers, t0, rng):
    n2 = 2 * nodes.n
    pending = [len(d) for d in nodes.deps]
    ready, started, ended, worker = [0] * n2, [0] * n2, [0] * n2, [0] * n2
    queue, seq = [], 0
    for node in range(n2):
        if node >= nodes.n and not nodes.dependents[node]:
            continue  # never walked, never run
        if pending[node] == 0:
            ready[node] = t0
            heapq.heappush(queue, (-nodes.depth[node], seq, node))
            seq += 1
    free = list(range(workers))
    running = []
    now = t0
    while queue or running:
        while free and queue:
            _, _, node = heapq.heappop(queue)
            w = free.pop(0)
            started[node] = now + rng.randint(20, 80)
            ended[node] = started[node] + durations[node]
            worker[node] = w
            heapq.heappush(running, (ended[node], node))
        now, node = heapq.heappop(running)
        free.append(worker[node])
        free.sort()
        for d in nodes.dependents[node]:
            pending[d] -= 1
            if pending[d] == 0 and (d < nodes.n or nodes.dependents[d]):
                ready[d] = now + rng.randint(5, 20)
                heapq.heappush(queue, (-nodes.depth[d], seq, d))
                seq += 1
    return ready, started, ended, worker


def record(host, names, requires, base, kinds, nodes, workers, rng):
    n = len(names)
    durations = [max(1, int(b * rng.uniform(0.7, 1.4))) for b in base] + [rng.randint(2, 9) for _ in range(n)]
    start = EPOCH + rng.randint(0, 86400 * 1000000)
    t0 = start + rng.randint(30000, 60000)
    ready, started, ended, worker = schedule(nodes, durations, workers, t0, rng)
    end = max(e for e in ended if e) + rng.randint(10000, 20000)
    plugins = []
    for i in range(n):
        failed = rng.random() < 0.01
        p = {
            "name": names[i], "kind": kinds[i],
            "source": {"file": "/usr/libexec/bootcrank/plugins/%s.%s" % (
                names[i], {"json": "json", "native": "so", "debug": "debug"}[kinds[i]])},
            "requires": [names[j] + "-ready" for j in requires[i]],
            "provides": [names[i] + "-ready"],
            "execution_class": 1, "depth": nodes.depth[i],
            "after": [names[j] + "-ready" for j in requires[i]],
            "result": "failed" if failed else "succeeded",
            "ready": ready[i], "started": started[i], "ended": ended[i], "worker": worker[i],
        }
        if kinds[i] == "json":
            p["commands"] = [{"command": "file write --path=/var/run/%s.state --content=up" % names[i], "status": 0},
                             {"command": "sysctl set --key=net.%s.enabled --value=1" % names[i].replace("-", "_"),
                              "status": 1 if failed else 0}]
            if failed:
                p["commands"][1]["error"] = "No such file or directory"
        if failed:
            p["error"] = "command 2 of 2 failed"
        plugins.append(p)
    barriers = []
    for i in range(n):
        b = {"name": names[i] + "-ready", "kind": "init", "after": [names[i]]}
        # The executor's walk never reaches a barrier that nothing waits for.
        if nodes.dependents[n + i]:
            b.update({"ready": ready[n + i], "started": started[n + i], "ended": ended[n + i],
                      "worker": worker[n + i]})
        barriers.append(b)
    return start, {
        "schema": 1,
        "program": {"name": "bootcrank", "version": "1.0.0"},
        "host": {"name": host, "kernel": "6.1.0-26-amd64"},
        "mode": "init", "arguments": ["--init", "--parallel"], "boot_flags": [],
        "settings": {"parallel": True, "workers": workers, "randomize": False, "random_seed": 0,
                     "interactive": False, "verbose": False,
                     "plugin_directory": "/usr/libexec/bootcrank/plugins", "method": "",
                     "daemon_wait": False, "daemon_wait_timeout": 40},
        "start": start, "end": end, "uptime_seconds": rng.randint(8, 20),
        "exit_status": 0, "signal": None,
        "plugins": plugins, "barriers": barriers,
        "load_failures": [], "cycles": [], "missing_barriers": [],
    }


def file_name(start):
    import datetime
    t = datetime.datetime.fromtimestamp(start // 1000000, datetime.timezone.utc)
    return t.strftime("%Y%m%dT%H%M%S") + ".%06dZ.json" % (start % 1000000)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--out", required=True)
    p.add_argument("--records", type=int, default=10000)
    p.add_argument("--plugins", type=int, default=200)
    p.add_argument("--workers", type=int, default=4)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args()
    rng = random.Random(a.seed)
    names, requires, base, kinds = make_graph(a.plugins, rng)
    nodes = Nodes(requires)
    os.makedirs(a.out, exist_ok=True)
    total = 0
    for r in range(a.records):
        host = "host-%05d" % r
        start, rec = record(host, names, requires, base, kinds, nodes, a.workers, rng)
        text = json.dumps(rec, separators=(",", ":"))
        total += len(text)
        # One directory per host, as records are collected from a fleet.
        with open(os.path.join(a.out, "%s-%s" % (host, file_name(start))), "w") as f:
            f.write(text)
    print("%d records, %d plugins each, %.1f MiB" % (a.records, a.plugins, total / 1048576.0))


if __name__ == "__main__":
    main()
