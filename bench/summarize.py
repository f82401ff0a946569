#!/usr/bin/env python3
"""Markdown tables from quillet_bench's JSON output.

    build/native/bench/quillet_bench --benchmark_out=run.json --benchmark_out_format=json
    bench/summarize.py run.json [before.json]

With two arguments, the first is "after" and the second "before"; each may
list several files separated by commas. For every benchmark the fastest run
(least CPU time) over all files and repetitions is used: on a shared machine
the other runs measure the neighbours as well. Throughputs are code units per
second of CPU time; the shape table gives the time of each command at both
sizes and their ratio (10x the input should cost at most 11x the time).
"""
import json
import re
import sys


def load(paths):
    best = {}
    for path in paths.split(","):
        with open(path) as f:
            runs = json.load(f)["benchmarks"]
        for run in runs:
            if run.get("run_type", "iteration") != "iteration":
                continue
            name = run.get("run_name", run["name"])
            if name not in best or run["cpu_time"] < best[name]["cpu_time"]:
                best[name] = run
    return best


def rate(run):
    return run["items_per_second"] / 1e6 if run and "items_per_second" in run else None


def ms(run):
    if not run:
        return None
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run["time_unit"]]
    return run["cpu_time"] * scale


def fmt(value, digits=1):
    return "-" if value is None else f"{value:,.{digits}f}"


def throughput_table(after, before):
    names = [n for n in after if not n.startswith(("BM_Shape", "BM_WriteBack"))]
    print("| benchmark | before (M units/s) | after (M units/s) | speed-up |")
    print("|---|---:|---:|---:|")
    for name in names:
        a, b = rate(after.get(name)), rate(before.get(name)) if before else None
        ratio = a / b if a and b else None
        print(f"| {name} | {fmt(b)} | {fmt(a)} | {fmt(ratio, 2)} |")


def shape_sizes(runs):
    sizes = {}
    for name, run in runs.items():
        m = re.match(r"(BM_Shape\w*/\w+(?:/cmd:\d)?)/units:(\d+)(?:/iterations:\d+)?$", name)
        if m:
            sizes.setdefault(m.group(1), {})[int(m.group(2))] = run
    return {key: [by_size[k] for k in sorted(by_size)] for key, by_size in sizes.items()
            if len(by_size) == 2}


def shape_table(after, before):
    after_sizes = shape_sizes(after)
    before_sizes = shape_sizes(before) if before else {}
    print("\n| shape | before: 1M (ms) | 10M (ms) | ratio | after: 1M (ms) | 10M (ms) | ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    worst = {"before": 0.0, "after": 0.0}
    for key, (small, large) in after_sizes.items():
        cells = []
        for side, pair in (("before", before_sizes.get(key)), ("after", (small, large))):
            if not pair:
                cells += ["-", "-", "-"]
                continue
            ratio = ms(pair[1]) / ms(pair[0])
            worst[side] = max(worst[side], ratio)
            cells += [fmt(ms(pair[0]), 2), fmt(ms(pair[1]), 2), fmt(ratio, 2)]
        name = key.replace("BM_Shape/", "").replace("BM_Shape", "")
        print(f"| {name} | " + " | ".join(cells) + " |")
    print(f"\nWorst ratio: before {worst['before']:.2f}, after {worst['after']:.2f}")


def write_back(runs, title):
    print(f"\n{title}\n")
    for name, run in runs.items():
        if name.startswith("BM_WriteBack"):
            counters = {k: run[k] for k in ("msgs/unchanged", "msgs/changed", "messages") if k in run}
            print(f"- {name}: {fmt(ms(run), 1)} ms CPU; " +
                  ", ".join(f"{k} = {v:g}" for k, v in counters.items()))


def main():
    after = load(sys.argv[1])
    before = load(sys.argv[2]) if len(sys.argv) > 2 else None
    throughput_table(after, before)
    shape_table(after, before)
    if before:
        write_back(before, "Write-back, before:")
    write_back(after, "Write-back, after:")


if __name__ == "__main__":
    main()
