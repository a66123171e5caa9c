#!/usr/bin/env python3
"""Files written by sox, ffmpeg, libsndfile (sndfile-convert and Python's
soundfile, every WAV, WAVEX and RF64 subtype it writes) and GStreamer's
wavenc, read by velmora-cli info and by ffprobe, soxi and sndfile-info:
channels, rate, bits, data position, data size and play time must agree.
Usage: oracles_agree.py VELMORA_CLI (with a Python that has soundfile)"""
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile

import numpy
import soundfile

CLI = sys.argv[1]


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def ffmpeg(out, *args, src="sine=d=3:sample_rate=44100"):
    run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", src, *args, out)


# Every subtype soundfile offers in each container, in mono in one container
# and stereo in the next (both for the ADPCMs, whose blocks depend on it),
# and PCM_16 in six channels too; odd frame counts, so 8-bit mono data is
# odd. A write soundfile itself refuses is left out and listed: here GSM
# 6.10, G.721 and the NMS ADPCMs take mono only, and MPEG Layer III is not
# written into WAV at all.
def soundfile_files(d, skipped):
    files = []
    for k, container in enumerate(("WAV", "WAVEX", "RF64")):
        for i, subtype in enumerate(soundfile.available_subtypes(container)):
            telephone = subtype.startswith(("GSM", "G72", "NMS"))
            rate = 8000 if telephone else 22050 if "ADPCM" in subtype else 44100
            layouts = [1 + (i + k) % 2] + ([6] if subtype == "PCM_16" else [])
            for channels in (1, 2) if subtype in ("IMA_ADPCM", "MS_ADPCM") or telephone else layouts:
                t = numpy.arange(rate // 10 + 1) / rate
                signal = numpy.stack([0.5 * numpy.sin(2 * numpy.pi * (300 + 50 * c) * t)
                                      for c in range(channels)], axis=1)
                name = f"sf-{container}-{subtype}-{channels}.wav"
                try:
                    soundfile.write(os.path.join(d, name), signal, rate, subtype=subtype, format=container)
                    files.append(name)
                except soundfile.LibsndfileError as e:
                    skipped.append(f"{name}: {e}")
                    if os.path.exists(os.path.join(d, name)):
                        os.remove(os.path.join(d, name))
    return files


# GStreamer's wavenc: (caps format or encoder, rate, channels, frames). It
# writes an empty LIST after the samples, extensible for more than two
# channels with a mask of 0, and odd data without its pad byte.
WAVENC = [("S16LE", 44100, 1, 4410), ("S16LE", 48000, 2, 4800), ("S24LE", 48000, 2, 4800),
          ("S24LE", 8000, 3, 333), ("S32LE", 22050, 4, 2205), ("F32LE", 48000, 6, 4800),
          ("S16LE", 8000, 6, 800), ("U8", 8000, 1, 1001), ("F64LE", 8000, 2, 800),
          ("alawenc", 8000, 1, 800), ("mulawenc", 8000, 2, 800)]


def wavenc_files(d):
    files = []
    for fmt, rate, channels, frames in WAVENC:
        raw = "S16LE" if fmt.endswith("enc") else fmt
        name = f"gst-{fmt}-{rate}-{channels}.wav"
        encoder = [fmt, "!"] if fmt.endswith("enc") else []
        run("gst-launch-1.0", "-q", "audiotestsrc", "num-buffers=1", f"samplesperbuffer={frames}", "!",
            f"audio/x-raw,format={raw},rate={rate},channels={channels}", "!", *encoder,
            "wavenc", "!", "filesink", f"location={os.path.join(d, name)}")
        files.append(name)
    return files


# The files, each made by one of the writers; returns their names.
def make(d, skipped):
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
    files += soundfile_files(d, skipped)
    files += wavenc_files(d)
    return files


def sndfile_info(path):
    """Top-level chunks as sndfile-info lists them, [(id, size)], with an
    RF64 data size taken from its ds64 line; and the fields the play time of
    compressed data needs: fact frames, block align, the frames libsndfile
    decodes."""
    chunks, fields = [], {}
    text = run("sndfile-info", path)
    for line in text.splitlines():
        m = re.match(r"^(\S.{3}) : (\d+|0x[0-9A-Fa-f]+)$", line)
        if m and m.group(1) not in ("RIFF", "File"):
            chunks.append((m.group(1), int(m.group(2), 0)))
        m = re.match(r"^\s+(Data size|frames|Block Align|Samples/Block)\s+: (\d+)$", line)
        if m:
            fields.setdefault(m.group(1), int(m.group(2)))
        if line.startswith("End"):
            break
    m = re.search(r"^Frames\s+: (\d+)$", text, re.M)
    if m:
        fields["decoded frames"] = int(m.group(1))
    if dict(chunks).get("data") == 0xFFFFFFFF and "Data size" in fields:
        chunks = [(cid, fields["Data size"] if cid == "data" else size) for cid, size in chunks]
    return chunks, fields


# soxi on a file whose encoding sox has no decoder for (G.721, NMS ADPCM):
# None, and that file goes without soxi's play time.
def soxi_seconds(path):
    r = subprocess.run(["soxi", "-D", path], capture_output=True, text=True)
    if r.returncode != 0 and re.search(r"encoding .*not supported|Unknown WAV file encoding", r.stderr):
        return None
    if r.returncode != 0:
        raise RuntimeError(f"soxi {path}: {r.stderr.strip()}")
    return float(r.stdout.strip())


# The play time each oracle gives, and how far above velmora's it may lie.
# Compressed data (anything but PCM, float, a-law and u-law) comes in blocks:
# velmora counts the frames the fact chunk declares, the oracles the frames
# the blocks hold, so theirs may run up to one block longer.
def play_times(name, v, probe, fields, soxi, failures, notes):
    times = [("ffprobe", float(probe["duration"]))] + ([("soxi", soxi)] if soxi is not None else [])
    if probe["codec_name"].startswith("pcm_"):
        return times, 0.0
    rate, fact = v["waveInfo"]["samplesPerSec"], fields.get("frames")
    if fact is None or v["durationSeconds"] is None or abs(v["durationSeconds"] - fact / rate) > 1e-9:
        failures.append(f"{name}: duration: velmora {v['durationSeconds']}, fact chunk {fact} frames at {rate} Hz")
        return [], 0.0
    blocks = -(-v["waveInfo"]["dataSize"] // fields["Block Align"])
    per_block = fields.get("Samples/Block") or fields["decoded frames"] / blocks
    # A fact count the blocks contradict (fewer frames than all but the last
    # block hold: libsndfile's IMA ADPCM writer stores half the count of a
    # stereo file) is believed, as docs/formats.md says; the oracles count
    # the blocks, so they are only shown.
    if not (blocks - 1) * per_block < fact <= blocks * per_block:
        notes.append(f"{name}: fact chunk {fact} frames, the {blocks} blocks hold {blocks * per_block:g}: "
                     f"velmora {v['durationSeconds']} s, " + ", ".join(f"{t} {s} s" for t, s in times))
        return [], 0.0
    return times, per_block / rate


# One file through velmora-cli and the three oracles: (failures, notes, summary).
def compare(d, name):
    failures, notes = [], []
    path = os.path.join(d, name)
    v = json.loads(run(CLI, "info", "--jsonl", path))
    w = v["waveInfo"]
    probe = json.loads(run("ffprobe", "-v", "error", "-show_streams", "-of", "json", path))["streams"][0]
    chunks, fields = sndfile_info(path)
    pos = 12
    for cid, size in chunks:
        if cid == "data":
            break
        pos += 8 + size + (size & 1)
    data = dict(chunks).get("data")
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
    times, block = play_times(name, v, probe, fields, soxi_seconds(path), failures, notes)
    for tool, seconds in times:
        ours = v["durationSeconds"]
        if ours is None or not -0.002 <= seconds - ours <= block + 0.002:
            failures.append(f"{name}: duration: velmora {ours}, {tool} {seconds}")
    summary = (f"{name}: {w['channels']} ch {w['samplesPerSec']} Hz {w['bitsPerSample']} bit, data at "
               f"{w['dataChunkPos']} size {w['dataSize']}, {v['durationSeconds']} s, chunks "
               f"{[c['id'] for c in v['chunks']]}")
    return failures, notes, summary


def main():
    failures, notes, skipped = [], [], []
    with tempfile.TemporaryDirectory() as d:
        # ffprobe's start-up is most of the time: a few files at once.
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            for f, n, summary in pool.map(lambda name: compare(d, name), make(d, skipped)):
                failures += f
                notes += n
                print(summary)
    for s in skipped:
        print("NOT WRITTEN BY SOUNDFILE", s)
    for n in notes:
        print("NOTE", n)
    for f in failures:
        print("DISAGREE", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
