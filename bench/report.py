"""Prints the benchmark table from hyperfine's JSON exports."""
import glob
import json
import os
import sys

work, jobs = sys.argv[1], sys.argv[2:]
rss = {}
for line in open(f"{work}/peak-rss.txt"):
    parts = line.split()
    if len(parts) == 2:
        rss[parts[0]] = int(parts[1]) / 1024

# The goal of each job: (what velmora is compared with, the largest ratio).
# "durable" is `cp SRC DST && sync DST`: velmora's outputs are on disk
# before they are named, so the fair floor is a copy that is on disk too.
GOALS = {
    "split": ("durable", 1.2),
    "split24": ("durable", 1.2),
    "surround": ("durable", 1.2),
    "normalize": ("durable", 1.5),
    "mux": ("durable", 1.2),
    "raw2wav": ("cp", 1.3),
    "rebuild-header": ("cp", 1.3),
    "remove-footer": ("cp", 1.3),
    "fix-riff-size": ("abs", 0.005),
    "set-rate": ("abs", 0.005),
    "info": ("abs", 0.005),
    "levels": ("ffmpeg", 0.5),
}
RSS_LIMIT_MB = 32


def seconds(x):
    if x is None:
        return "—"
    return f"{x * 1000:.1f} ms" if x < 0.1 else f"{x:.3f} s"


def ratio(a, b):
    if a is None or not b:
        return "—"
    r = a / b
    return f"{r:.2f}" if r >= 0.1 else f"{r:.3f}"


loads = {}
if os.path.exists(f"{work}/loads.txt"):
    for line in open(f"{work}/loads.txt"):
        parts = line.split()
        if len(parts) == 3:
            loads[parts[0]] = f"{parts[1]} → {parts[2]}"

for name in ("machine.txt", "checks.txt"):
    path = os.path.join(work, name)
    if os.path.exists(path):
        print("".join(f"    {line}" for line in open(path)))

print("| job | velmora | sox | ffmpeg | cp | durable cp | velmora / best peer | velmora / cp | velmora / durable cp "
      "| velmora peak RSS | load before → after | goal |")
print("|---|---|---|---|---|---|---|---|---|---|---|---|")
for job in jobs:
    med = {}
    for path in [f"{work}/res-{job}.json"] + sorted(glob.glob(f"{work}/res-{job}.*.json")):
        med.update({r["command"]: r["median"] for r in json.load(open(path))["results"]})
    v = med.get("velmora")
    peers = [med[p] for p in ("sox", "ffmpeg") if p in med]
    best = min(peers) if peers else None
    cp = med.get("cp")
    durable = med.get("durable")
    mem = rss.get(job)
    goal = "—"
    if job in GOALS and v is not None:
        kind, limit = GOALS[job]
        if kind == "peer" and best:
            met = v / best <= limit
            goal = f"≤ {limit} × peer"
        elif kind == "ffmpeg" and med.get("ffmpeg"):
            met = v / med["ffmpeg"] <= limit
            goal = f"≤ {limit} × ffmpeg"
        elif kind == "cp" and cp:
            met = v / cp <= limit
            goal = f"≤ {limit} × cp"
        elif kind == "durable" and durable:
            met = v / durable <= limit
            goal = f"≤ {limit} × durable cp"
        else:
            met = v <= limit
            goal = f"≤ {limit * 1000:.0f} ms"
        if mem is not None and mem > RSS_LIMIT_MB:
            met = False
        goal += ": met" if met else ": NOT met"
    mem_cell = f"{mem:.1f} MB" if mem is not None else "—"
    print(f"| {job} | {seconds(v)} | {seconds(med.get('sox'))} | {seconds(med.get('ffmpeg'))} | {seconds(cp)} | "
          f"{seconds(durable)} | {ratio(v, best)} | {ratio(v, cp)} | {ratio(v, durable)} | {mem_cell} | "
          f"{loads.get(job, '—')} | {goal} |")
