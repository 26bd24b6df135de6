#!/usr/bin/env python3
"""Turns bench_access's JSON output into the table of bench/README.md.

    report.py results.json [more.json ...] > summary.md

For every backend, store size and call: the median real time of ours and of the raw SQL, their
ratio (target: at most 1.5), and for the 1M store the ratio of ours to ours on the 1k store
(target: at most 2); then the same ratios of the client process's CPU time, which a busy machine
disturbs less (on PostgreSQL it leaves out the server's work and the waits). Medians are taken
over the repetitions (aggregate "median" rows); a run without repetitions uses its single figure.
Given several runs, every time is the median of the runs' times and every ratio the median of the
ratios taken within each run (ours and raw of one run ran interleaved, on the same machine state);
a last column lists the ratio ours / raw of each run, so one disturbed run shows as such.

The Menu_<n> benchmarks (a menu of n items asked about with one QueryUserRights call, and with n
CheckUserRight calls) get a table of their own.
"""
import json
import sys

RAW_LIMIT = 1.5
SIZE_LIMIT = 2.0


def load(path):
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    single, median = {}, {}
    cpu_single, cpu_median = {}, {}
    for b in doc["benchmarks"]:
        if b.get("error_occurred"):
            continue
        name = b.get("run_name", b["name"]).replace("/real_time", "")
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "us")]
        value = b["real_time"] * scale
        cpu = b["cpu_time"] * scale
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                median[name] = value
                cpu_median[name] = cpu
        else:
            single.setdefault(name, []).append(value)
            cpu_single.setdefault(name, []).append(cpu)

    def pick(med, sing):
        figures = dict(med)
        for name, values in sing.items():
            if name not in figures:
                values.sort()
                figures[name] = values[len(values) // 2]
        return figures

    return doc.get("context", {}), pick(median, single), pick(cpu_median, cpu_single)


def median_of(values):
    values = sorted(v for v in values if v is not None)
    if not values:
        return None
    mid = len(values) // 2
    return values[mid] if len(values) % 2 else (values[mid - 1] + values[mid]) / 2


def main():
    runs = [load(path) for path in sys.argv[1:]]
    names = set().union(*(set(r[1]) for r in runs))
    fig = {n: median_of([r[1].get(n) for r in runs]) for n in names}
    cpu = {n: median_of([r[2].get(n) for r in runs]) for n in names}
    context = runs[0][0]
    menus = {n for n in fig if n.split("/")[2].startswith("Menu_")}
    keys = sorted({tuple(n.split("/")[:3]) for n in fig if n not in menus})
    order_backend = {"SQLite": 0, "PostgreSQL": 1}
    order_size = {"1k": 0, "1M": 1}
    order_call = {"CheckUserRight_granted": 0, "CheckUserRight_member": 1, "CheckUserRight_refused": 2,
                  "CheckUserLogin_success": 3}
    keys.sort(key=lambda k: (order_backend.get(k[0], 9), order_size.get(k[1], 9), order_call.get(k[2], 9)))

    for ctx, _, _ in runs:
        load_avg = ", ".join(f"{x:.2f}" for x in ctx.get("load_avg", []))
        print(f"Run of {ctx.get('date', '?')}, {ctx.get('num_cpus', '?')} CPUs at "
              f"{ctx.get('mhz_per_cpu', '?')} MHz, load average at the start {load_avg}.")
    if len(runs) > 1:
        print()
        print(f"Times: medians of the {len(runs)} runs' medians; ratios: medians of the ratios within each run.")
    print()
    print("| backend | store | call | ours (µs) | raw SQL (µs) | ours / raw | ours 1M / ours 1k "
          "| ours CPU (µs) | raw CPU (µs) | CPU ours / raw | CPU 1M / 1k |" + (" ours / raw per run |" if len(runs) > 1 else ""))
    print("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|" + ("---|" if len(runs) > 1 else ""))
    misses = []

    def ratio(table, a, b):
        return table[a] / table[b] if table.get(a) and table.get(b) else None

    def paired(index, a, b):
        # Each ratio within one run (the two sides ran interleaved on the same machine state),
        # then the median over the runs.
        return median_of([ratio(r[index], a, b) for r in runs])

    def text(v, limit=None):
        if v is None:
            return "—"
        return f"{v:.2f}" + (" **miss**" if limit is not None and v > limit else "")

    for backend, size, call in keys:
        ours_name = f"{backend}/{size}/{call}/ours"
        raw_name = f"{backend}/{size}/{call}/raw"
        small_name = f"{backend}/1k/{call}/ours"
        cell = lambda v: "—" if v is None else f"{v:.1f}"
        r = paired(1, ours_name, raw_name)
        g = paired(1, ours_name, small_name) if size == "1M" else None
        c_r = paired(2, ours_name, raw_name)
        c_g = paired(2, ours_name, small_name) if size == "1M" else None
        if r is not None and r > RAW_LIMIT:
            misses.append(f"{backend}/{size}/{call}: ours/raw {r:.2f} > {RAW_LIMIT}")
        if g is not None and g > SIZE_LIMIT:
            misses.append(f"{backend}/{call}: 1M/1k {g:.2f} > {SIZE_LIMIT}")
        line = (f"| {backend} | {size} | {call} | {cell(fig.get(ours_name))} | {cell(fig.get(raw_name))} "
                f"| {text(r, RAW_LIMIT)} | {'' if g is None else text(g, SIZE_LIMIT)} "
                f"| {cell(cpu.get(ours_name))} | {cell(cpu.get(raw_name))} | {text(c_r)} | {'' if c_g is None else text(c_g)} |")
        if len(runs) > 1:
            line += " " + ", ".join(text(ratio(run[1], ours_name, raw_name)) for run in runs) + " |"
        print(line)
    print()
    if misses:
        print("Targets missed (real time): " + "; ".join(misses) + ".")
    else:
        print(f"Every call is within {RAW_LIMIT}x of the raw SQL and within {SIZE_LIMIT}x of itself on the small store.")
    if menus:
        print_menus(fig, cpu, menus, order_backend, order_size)


def print_menus(fig, cpu, menus, order_backend, order_size):
    print()
    print("| backend | store | items | QueryRights (µs) | CheckUserRight × items (µs) | ratio | QueryRights CPU (µs) "
          "| CheckUserRight × items CPU (µs) |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    keys = sorted({tuple(n.split("/")[:3]) for n in menus},
                  key=lambda k: (order_backend.get(k[0], 9), order_size.get(k[1], 9), k[2]))
    cell = lambda v: "—" if v is None else f"{v:,.1f}"
    for backend, size, menu in keys:
        batch = f"{backend}/{size}/{menu}/QueryRights"
        each = f"{backend}/{size}/{menu}/CheckUserRight"
        ratio = fig[each] / fig[batch] if fig.get(each) and fig.get(batch) else None
        print(f"| {backend} | {size} | {int(menu.split('_')[1])} | {cell(fig.get(batch))} | {cell(fig.get(each))} "
              f"| {'—' if ratio is None else (f'{ratio:.1f}×' if ratio < 10 else f'{ratio:,.0f}×')} | {cell(cpu.get(batch))} | {cell(cpu.get(each))} |")


if __name__ == "__main__":
    main()
