"""Prints the benchmark table from hyperfine's JSON exports."""
import json
import sys

work, jobs = sys.argv[1], sys.argv[2:]
rss = {}
for line in open(f"{work}/peak-rss.txt"):
    parts = line.split()
    if len(parts) == 2:
        rss[parts[0]] = int(parts[1]) / 1024

print("| job | velmora | sox | ffmpeg | cp | velmora / best peer | velmora / cp | velmora peak RSS |")
print("|---|---|---|---|---|---|---|---|")
for job in jobs:
    data = json.load(open(f"{work}/res-{job}.json"))
    med = {r["command"]: r["median"] for r in data["results"]}
    v = med.get("velmora")
    peers = [med[p] for p in ("sox", "ffmpeg") if p in med]
    best = min(peers) if peers else None
    cp = med.get("cp")
    cell = lambda x: f"{x:.3f} s" if x is not None else "—"
    ratio = lambda a, b: f"{a / b:.2f}" if a is not None and b else "—"
    mem = f"{rss[job]:.1f} MB" if job in rss else "—"
    print(f"| {job} | {cell(v)} | {cell(med.get('sox'))} | {cell(med.get('ffmpeg'))} | {cell(cp)} | "
          f"{ratio(v, best)} | {ratio(v, cp)} | {mem} |")
