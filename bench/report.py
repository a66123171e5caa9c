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
GOALS = {
    "split": ("cp", 1.5),
    "split24": ("cp", 1.5),
    "surround": ("cp", 1.25),
    "normalize": ("cp", 1.7),
    "mux": ("cp", 1.5),
    "raw2wav": ("cp", 1.3),
    "rebuild-header": ("cp", 1.3),
    "remove-footer": ("cp", 1.3),
    "fix-riff-size": ("abs", 0.005),
    "set-rate": ("abs", 0.005),
    "info": ("abs", 0.005),
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


for name in ("machine.txt", "checks.txt"):
    path = os.path.join(work, name)
    if os.path.exists(path):
        print("".join(f"    {line}" for line in open(path)))

print("| job | velmora | sox | ffmpeg | cp | velmora / best peer | velmora / cp | velmora peak RSS | goal |")
print("|---|---|---|---|---|---|---|---|---|")
for job in jobs:
    med = {}
    for path in [f"{work}/res-{job}.json"] + sorted(glob.glob(f"{work}/res-{job}.*.json")):
        med.update({r["command"]: r["median"] for r in json.load(open(path))["results"]})
    v = med.get("velmora")
    peers = [med[p] for p in ("sox", "ffmpeg") if p in med]
    best = min(peers) if peers else None
    cp = med.get("cp")
    mem = rss.get(job)
    goal = "—"
    if job in GOALS and v is not None:
        kind, limit = GOALS[job]
        if kind == "peer" and best:
            met = v / best <= limit
            goal = f"≤ {limit} × peer"
        elif kind == "cp" and cp:
            met = v / cp <= limit
            goal = f"≤ {limit} × cp"
        else:
            met = v <= limit
            goal = f"≤ {limit * 1000:.0f} ms"
        if mem is not None and mem > RSS_LIMIT_MB:
            met = False
        goal += ": met" if met else ": NOT met"
    mem_cell = f"{mem:.1f} MB" if mem is not None else "—"
    print(f"| {job} | {seconds(v)} | {seconds(med.get('sox'))} | {seconds(med.get('ffmpeg'))} | {seconds(cp)} | "
          f"{ratio(v, best)} | {ratio(v, cp)} | {mem_cell} | {goal} |")
