#!/usr/bin/env python3
"""The tables of docs/performance.md from ks_bench's JSON (--benchmark_out):
per-file times in us, median (min-max) over the repetitions, from the library's
rate; the ratios list/floor, list/guarded, list/safe-floor, batch/no-flush and flush per file /
flush per batch, of the medians; and the counters."""
import json, re, sys

run = json.load(open(sys.argv[1]))
stats = {}  # run name -> {"median": entry, "min": entry, "max": entry}
for e in run["benchmarks"]:
    if e.get("error_occurred"):
        sys.exit(f"{e['run_name']}: {e['error_message']}")
    if e["run_type"] == "aggregate":
        stats.setdefault(e["run_name"], {})[e["aggregate_name"]] = e
    else:  # a single run is its own median, least and greatest
        stats.setdefault(e["run_name"], {"median": e, "min": e, "max": e})
rows = {}  # (tiles, files) -> part -> stats
for name, s in stats.items():
    m = re.match(r"([\w-]+)/(\w+)/(?:files|maps):(\d+)", name)
    rows.setdefault((m[2], int(m[3])), {})[m[1]] = s
order = ["contour", "compact", "bigblock", "packed", "spread"]
rows = dict(sorted(rows.items(), key=lambda r: (order.index(r[0][0]), r[0][1])))

def per(s, part, scale=1e6):  # median, least, greatest time per item
    return [scale / s[part][k]["items_per_second"] for k in ("median", "max", "min")] if part in s else None

def fmt(t, digits=2):
    return "-" if t is None else f"{t[0]:,.{digits}f} ({t[1]:,.{digits}f}–{t[2]:,.{digits}f})"

def ratio(a, b):
    return "-" if a is None or b is None else f"{a[0] / b[0]:.2f}"

def counter(s, part, name, digits=0):
    return f"{s[part]['median'][name]:,.{digits}f}" if part in s else "-"

def table(head, lines):
    if lines:
        print("\n| " + " | ".join(head) + " |\n|---|" + "---:|" * (len(head) - 1))
        print("\n".join("| " + " | ".join(line) + " |" for line in lines))

print(f"load average at the start: {run['context'].get('load_avg')}")
folders = [(k, s) for k, s in rows.items() if k[0] not in ("packed", "spread")]
table(["tiles", "files", "floor", "guarded", "floor-ro", "safe-floor", "list", "list/floor", "list/guarded",
       "list/safe-floor", "list-scripted"],
      [[t, f"{n:,}", fmt(per(s, "floor")), fmt(per(s, "guarded")), fmt(per(s, "floor-ro")), fmt(per(s, "safe-floor")),
        fmt(per(s, "list")), ratio(per(s, "list"), per(s, "floor")), ratio(per(s, "list"), per(s, "guarded")),
        ratio(per(s, "list"), per(s, "safe-floor")), fmt(per(s, "list-scripted"))]
       for (t, n), s in folders if "list" in s or "floor" in s])
table(["tiles", "files", "batch", "no-flush", "batch/no-flush", "write-floor", "batch/write-floor", "finish", "flush",
       "RSS B/f", "heap B/f"],
      [[t, f"{n:,}", fmt(per(s, "batch")), fmt(per(s, "no-flush")), ratio(per(s, "batch"), per(s, "no-flush")),
        fmt(per(s, "write-floor")), ratio(per(s, "batch"), per(s, "write-floor")),
        counter(s, "batch", "finish_us", 2), counter(s, "batch", "flush_us", 2), counter(s, "list", "rss_per_file"),
        counter(s, "list", "heap_per_file")] for (t, n), s in folders if {"batch", "no-flush", "list"} & s.keys()])
table(["tiles", "files", "window µs/file", "RSS B/f", "heap B/f"],
      [[t, f"{n:,}", fmt(per(s, "window")), counter(s, "window", "rss_per_file"), counter(s, "window", "heap_per_file")]
       for (t, n), s in folders if "window" in s])
table(["layout", "maps", "file size", "opens", "reads", "bytes read", "listing µs", "µs per map"],
      [[t, f"{n:,}"] + [counter(s, "container", c) for c in ("bytes", "opens", "reads", "read_bytes")]
       + [fmt(per(s, "container", 1e6 * n), 1), f"{per(s, 'container')[0]:.2f}"]
       for (t, n), s in rows.items() if "container" in s])
slow = [(t, n, s) for (t, n), s in folders if "batch-per-file" in s]
table(["tiles", "files", "flush per file s", "flush per batch s", "no flush s", "per file / per batch"],
      [[t, f"{n:,}"] + [fmt(per(s, p, n), 2) for p in ("batch-per-file", "batch", "no-flush")]
       + [ratio(per(s, "batch-per-file"), per(s, "batch"))] for t, n, s in slow])
