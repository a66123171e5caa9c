#!/usr/bin/env python3
"""Files written by sox, ffmpeg and libsndfile, read by velmora-cli info and
by ffprobe, soxi and sndfile-info: channels, rate, bits, data position, data
size and play time must agree. Usage: oracles_agree.py VELMORA_CLI"""
import json
import os
import re
import subprocess
import sys
import tempfile

CLI = sys.argv[1]


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def ffmpeg(out, *args, src="sine=d=3:sample_rate=44100"):
    run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", src, *args, out)


# The files, each made by one of the three writers; returns their names.
def make(d):
    p = lambda n: os.path.join(d, n)
    files = []
    ffmpeg(p("comment.wav"), "-ac", "2", "-metadata", "comment=raw sensor data"); files.append("comment.wav")
    ffmpeg(p("bext.wav"), "-write_bext", "1", "-metadata", "coding_history=" + "h" * 3000); files.append("bext.wav")
    ffmpeg(p("peak.wav"), "-write_peak", "on"); files.append("peak.wav")
    ffmpeg(p("alaw.wav"), "-ac", "2", "-c:a", "pcm_alaw"); files.append("alaw.wav")
    ffmpeg(p("msadpcm.wav"), "-c:a", "adpcm_ms"); files.append("msadpcm.wav")
    ffmpeg(p("s32.wav"), "-ac", "6", "-c:a", "pcm_s32le"); files.append("s32.wav")
    run("sox", "-n", "-r", "8000", "-c", "3", p("three.wav"), "synth", "1", "sine", "440"); files.append("three.wav")
    run("sox", "-n", "-r", "1000", "-b", "8", "-c", "1", p("odd.wav"), "synth", "0.167", "sine", "300")
    files.append("odd.wav")
    run("sndfile-convert", "-pcm24", p("comment.wav"), p("pcm24.wav")); files.append("pcm24.wav")
    run("sndfile-convert", "-float32", p("comment.wav"), p("float.wav")); files.append("float.wav")
    return files


def sndfile_chunks(path):
    """Top-level chunks as sndfile-info lists them: [(id, size)]."""
    chunks = []
    for line in run("sndfile-info", path).splitlines():
        m = re.match(r"^(\S.{3}) : (\d+)$", line)
        if m and m.group(1) not in ("RIFF", "File"):
            chunks.append((m.group(1), int(m.group(2))))
        if line.startswith("End"):
            break
    return chunks


def main():
    failures = []
    with tempfile.TemporaryDirectory() as d:
        for name in make(d):
            path = os.path.join(d, name)
            v = json.loads(run(CLI, "info", "--jsonl", path))
            w = v["waveInfo"]
            probe = json.loads(run("ffprobe", "-v", "error", "-show_streams", "-of", "json", path))["streams"][0]
            chunks = sndfile_chunks(path)
            pos = 12
            for cid, size in chunks:
                if cid == "data":
                    break
                pos += 8 + size + (size & 1)
            data = dict(chunks).get("data")
            soxi = float(run("soxi", "-D", path).strip())
            checks = {
                "complete": (v["complete"], True),
                "channels": (w["channels"], probe["channels"]),
                "rate": (w["samplesPerSec"], int(probe["sample_rate"])),
                "bits": (w["bitsPerSample"], probe.get("bits_per_sample") or w["bitsPerSample"]),
                "data position": (w["dataChunkPos"], pos),
                "data size": (w["dataSize"], data),
                "footer": (v["footerOK"], True),
            }
            for what, (ours, theirs) in checks.items():
                if ours != theirs:
                    failures.append(f"{name}: {what}: velmora {ours}, oracle {theirs}")
            for tool, seconds in (("ffprobe", float(probe["duration"])), ("soxi", soxi)):
                if v["durationSeconds"] is None or abs(v["durationSeconds"] - seconds) > 0.002:
                    failures.append(f"{name}: duration: velmora {v['durationSeconds']}, {tool} {seconds}")
            print(f"{name}: {w['channels']} ch {w['samplesPerSec']} Hz {w['bitsPerSample']} bit, data at "
                  f"{w['dataChunkPos']} size {w['dataSize']}, {v['durationSeconds']} s, chunks "
                  f"{[c['id'] for c in v['chunks']]}")
    for f in failures:
        print("DISAGREE", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
