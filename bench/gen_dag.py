#!/usr/bin/env python3
"""Seeded random workloads for bootcrank and its peers.

One workload -- a DAG of jobs, each a shell command of a given duration --
is written three ways:

  <out>/plugins/            bootcrank plugin directory (one root descriptor)
  <out>/debug.conf          bootcrank debug injections, one job per line
  <out>/build.ninja         the same jobs for ninja
  <out>/Makefile            the same jobs for make
  <out>/workload.json       durations, edges and the schedule figures

and the makespan figures are computed for a worker count W:

  lower_bound   max(critical path, total work / W)
  urgency_ideal the makespan of list scheduling with bootcrank's own urgency
                rule (lowest class, greatest dependent depth, earliest
                queued) on W workers with zero overhead, simulated on the
                very node graph that bootcrank builds (barrier nodes too).

Other forms (no commands, scheduling only):

  --form=json-empty   N independent JSON descriptors with empty start lists
  --form=json-chain   N JSON descriptors, each requiring its predecessor
  --form=json-cli     one JSON descriptor with N "file append" CLI commands

Usage:
  gen_dag.py --out DIR --jobs 2000 --seed 1 [--min-ms 0 --max-ms 0]
             [--max-deps 3 --window 50] [--workers 4] [--form dag]
"""

import argparse
import heapq
import json
import os
import random
import shutil
import sys

ROOT = "bench-root"   # the JSON plugin every job waits for (through GO)
GO = "bench-go"
DONE = "bench-done"   # provided by jobs nobody waits for


def has_dependents(deps):
    """For each job, whether some other job depends on it."""
    result = [False] * len(deps)
    for d in deps:
        for j in d:
            result[j] = True
    return result


def make_dag(jobs, seed, min_ms, max_ms, max_deps, window):
    rng = random.Random(seed)
    durations = []
    deps = []
    for i in range(jobs):
        durations.append(rng.randint(min_ms, max_ms) if max_ms > 0 else 0)
        if i == 0:
            deps.append([])
            continue
        k = rng.randint(0, max_deps)
        lo = max(0, i - window)
        pool = range(lo, i)
        deps.append(sorted(rng.sample(pool, min(k, len(pool)))))
    return durations, deps


def command_for(ms):
    return "true" if ms == 0 else "sleep %.3f" % (ms / 1000.0)


def job_name(i):
    return "j%d" % i


def barrier_name(i):
    return "b%d" % i


class Graph:
    """The node graph bootcrank builds for the dag form: the root plugin,
    barriers GO, DONE and one per job that has dependents, and the jobs."""

    def __init__(self, durations, deps):
        n = len(durations)
        provides = has_dependents(deps)
        self.names = []
        self.duration = []
        self.dependencies = []
        self.dependents = []
        self.index = {}

        def add(name, dur):
            self.index[name] = len(self.names)
            self.names.append(name)
            self.duration.append(dur)
            self.dependencies.append([])
            self.dependents.append([])
            return self.index[name]

        def edge(node, on):  # node depends on `on`
            self.dependencies[node].append(on)
            self.dependents[on].append(node)

        def barrier(name):
            return self.index[name] if name in self.index else add(name, 0)

        # Discovery order: the directory's descriptor, then the debug entries
        # in file order (each linked as its constructor links it).
        root = add(ROOT, 0)
        edge(barrier(GO), root)
        self.run_list = [root]
        for i in range(n):
            me = add(job_name(i), durations[i])
            required = [barrier_name(j) for j in deps[i]] or [GO]
            provided = [barrier_name(i)] if provides[i] else [DONE]
            for b in required:
                edge(me, barrier(b))
            for b in provided:
                edge(barrier(b), me)
            self.run_list.append(me)
        self.depth = self._dependent_depths()

    def _dependent_depths(self):
        depth = [None] * len(self.names)
        # Nodes were added so that every dependency precedes... not quite
        # (a barrier is created on first mention), so walk iteratively.
        for start in range(len(self.names)):
            if depth[start] is not None:
                continue
            stack = [(start, 0)]
            while stack:
                node, i = stack.pop()
                deps = self.dependents[node]
                if i < len(deps):
                    stack.append((node, i + 1))
                    if depth[deps[i]] is None:
                        stack.append((deps[i], 0))
                    continue
                depth[node] = 0 if not deps else 1 + max(depth[d] for d in deps)
        return depth

    def urgency_schedule(self, workers, job_overhead_ms=0.0):
        """Makespan (ms) of the executor's rule, with zero overhead or with
        `job_overhead_ms` added to every job (not to barriers or the root):
        the cost of starting a job's processes."""
        state = ["idle"] * len(self.names)
        queue = []
        seq = [0]

        def enqueue(node):
            state[node] = "queued"
            heapq.heappush(queue, (1, -self.depth[node], seq[0], node))
            seq[0] += 1

        def schedule(node):  # ScheduleStart, iteratively in the same order
            # (node, next dependency index, any unfinished)
            stack = [[node, 0, False]]
            if state[node] in ("queued", "started"):
                return
            if state[node] == "idle":
                state[node] = "pending"
            while stack:
                top = stack[-1]
                n, i, unfinished = top
                deps = self.dependencies[n]
                if i < len(deps):
                    top[1] += 1
                    d = deps[i]
                    if state[d] == "idle":
                        state[d] = "pending"
                        top[2] = True
                        stack.append([d, 0, False])
                    elif state[d] in ("pending", "queued"):
                        top[2] = True
                    continue
                stack.pop()
                if not unfinished:
                    enqueue(n)

        for node in self.run_list:
            schedule(node)

        now = 0.0
        running = []  # (finish time, node)
        free = workers
        finished = 0
        total = len(self.names)
        while finished < total:
            while free > 0 and queue:
                _, _, _, node = heapq.heappop(queue)
                cost = self.duration[node]
                if self.names[node].startswith("j"):
                    cost += job_overhead_ms
                heapq.heappush(running, (now + cost, seq[0], node))
                seq[0] += 1
                free -= 1
            if not running:
                break  # the remaining nodes can never run (not for a DAG)
            now, _, node = heapq.heappop(running)
            free += 1
            finished += 1
            state[node] = "started"
            for d in self.dependents[node]:
                if state[d] == "pending":
                    schedule(d)
        return now


def critical_path(durations, deps):
    longest = [0] * len(durations)
    for i in range(len(durations)):
        longest[i] = durations[i] + max((longest[j] for j in deps[i]), default=0)
    return max(longest, default=0)


def write_root_descriptor(plugins):
    with open(os.path.join(plugins, ROOT + ".json"), "w") as f:
        json.dump({"metadata": {"version": 1, "requires": [], "provides": [GO]},
                   "operations": {"start": []}}, f)


def write_dag(out, durations, deps):
    n = len(durations)
    provides = has_dependents(deps)
    plugins = os.path.join(out, "plugins")
    os.makedirs(plugins)
    write_root_descriptor(plugins)
    with open(os.path.join(out, "debug.conf"), "w") as f:
        for i in range(n):
            required = ",".join(barrier_name(j) for j in deps[i]) or GO
            provided = barrier_name(i) if provides[i] else DONE
            f.write("%s:%s:%s:%s\n" % (job_name(i), required, provided,
                                       command_for(durations[i])))
    with open(os.path.join(out, "build.ninja"), "w") as f:
        f.write("rule job\n  command = $cmd\n\n")
        for i in range(n):
            implicit = " | " + " ".join(job_name(j) for j in deps[i]) if deps[i] else ""
            f.write("build %s: job%s\n  cmd = %s\n" % (job_name(i), implicit,
                                                       command_for(durations[i])))
        f.write("build all: phony %s\ndefault all\n" % " ".join(job_name(i) for i in range(n)))
    with open(os.path.join(out, "Makefile"), "w") as f:
        names = " ".join(job_name(i) for i in range(n))
        f.write(".PHONY: all %s\nall: %s\n" % (names, names))
        for i in range(n):
            # $(VIA_SHELL), empty by default, lets a run force make to start
            # every command through /bin/sh as bootcrank and ninja do
            # (VIA_SHELL=':;'); make otherwise execs a simple command itself.
            f.write("%s: %s\n\t@$(VIA_SHELL)%s\n" % (job_name(i), " ".join(job_name(j) for j in deps[i]),
                                                      command_for(durations[i])))


def write_json_empty(out, jobs, chain):
    plugins = os.path.join(out, "plugins")
    os.makedirs(plugins)
    for i in range(jobs):
        requires = ["c%d" % (i - 1)] if chain and i > 0 else []
        provides = ["c%d" % i] if chain else []
        with open(os.path.join(plugins, "p%d.json" % i), "w") as f:
            json.dump({"metadata": {"version": 1, "requires": requires, "provides": provides},
                       "operations": {"start": []}}, f)
    open(os.path.join(out, "debug.conf"), "w").close()


def write_json_cli(out, jobs):
    plugins = os.path.join(out, "plugins")
    os.makedirs(plugins)
    commands = ["file append --path=/var/lib/bench/out --content=y" for _ in range(jobs)]
    with open(os.path.join(plugins, "cli.json"), "w") as f:
        json.dump({"metadata": {"version": 1, "requires": [], "provides": []},
                   "operations": {"start": commands}}, f)
    open(os.path.join(out, "debug.conf"), "w").close()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--out", required=True)
    p.add_argument("--form", default="dag", choices=["dag", "json-empty", "json-chain", "json-cli"])
    p.add_argument("--jobs", type=int, default=200)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--min-ms", type=int, default=0)
    p.add_argument("--max-ms", type=int, default=0)
    p.add_argument("--max-deps", type=int, default=3)
    p.add_argument("--window", type=int, default=50)
    p.add_argument("--workers", type=int, default=4)
    a = p.parse_args()
    if a.jobs < 1 or a.min_ms < 0 or a.max_ms < a.min_ms or a.workers < 1:
        sys.exit("gen_dag.py: need --jobs >= 1, 0 <= --min-ms <= --max-ms, --workers >= 1")
    if os.path.exists(a.out):
        shutil.rmtree(a.out)
    os.makedirs(a.out)
    info = {"form": a.form, "jobs": a.jobs, "seed": a.seed, "workers": a.workers}
    if a.form == "dag":
        durations, deps = make_dag(a.jobs, a.seed, a.min_ms, a.max_ms, a.max_deps, a.window)
        write_dag(a.out, durations, deps)
        work = sum(durations)
        cp = critical_path(durations, deps)
        info.update({
            "edges": sum(len(d) for d in deps),
            "total_work_ms": work,
            "critical_path_ms": cp,
            "lower_bound_ms": max(cp, work / a.workers),
            "urgency_ideal_ms": Graph(durations, deps).urgency_schedule(a.workers),
        })
    elif a.form == "json-cli":
        write_json_cli(a.out, a.jobs)
    else:
        write_json_empty(a.out, a.jobs, a.form == "json-chain")
    with open(os.path.join(a.out, "workload.json"), "w") as f:
        json.dump(info, f, indent=1)
    print(json.dumps(info))


if __name__ == "__main__":
    main()
