#!/usr/bin/env python3
"""Whole-process speed of velmora-codec beside the peer programs on 60 s of
stereo: Layer II encoding from WAV against twolame and decoding to WAV against
mpg123 -w at 48 and 44.1 kHz (256 kbit/s); Layer III decoding to WAV against
mpg123 -w of streams lame made at 48 kHz (128 and 320 kbit/s), 44.1 kHz
(128 kbit/s) and 24 kHz (64 kbit/s).

Each case runs the peer and every build given, one after the other, RUNS times
over (so a change in the machine's load falls on all of them), and prints the
median wall time and the median processor time (user + system) of each; a
ratio above 1 means velmora-codec is faster. Not a test: the numbers depend on
the machine and its load, which is printed too.

  bench/codec-vs-peers.py [--runs N] [label=build-dir ...]   (default: build)
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SECONDS = 60


def run_timed(cmd):
    """Wall and processor seconds of one run of cmd, its output discarded."""
    t0 = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - t0
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError("failed: " + " ".join(cmd))
    return wall, usage.ru_utime + usage.ru_stime


def measure(commands, runs):
    """commands: name -> argv. Runs them in turn, runs times; name -> (wall, cpu) medians,
    or None for a command that failed (a build without that codec)."""
    walls = {name: [] for name in commands}
    cpus = {name: [] for name in commands}
    failed = set()
    for _ in range(runs):
        for name, cmd in commands.items():
            if name in failed:
                continue
            try:
                wall, cpu = run_timed(cmd)
            except RuntimeError:
                failed.add(name)
                continue
            walls[name].append(wall)
            cpus[name].append(cpu)
    return {name: None if name in failed else (statistics.median(walls[name]), statistics.median(cpus[name]))
            for name in commands}


def report(what, peer, results):
    peer_wall, peer_cpu = results[peer]
    line = f"{what:<30} {peer} {peer_wall:6.3f} s (cpu {peer_cpu:6.3f})"
    for name, result in results.items():
        if name == peer:
            continue
        if result is None:
            line += f" | {name} failed (no such codec?)"
            continue
        wall, cpu = result
        line += f" | {name} {wall:6.3f} s (cpu {cpu:6.3f}) ratio {peer_wall / wall:5.2f} (cpu {peer_cpu / cpu:5.2f})"
    print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("builds", nargs="*", default=["build"])
    args = parser.parse_args()
    builds = {}
    for item in args.builds:
        label, _, folder = item.rpartition("=")
        codec = os.path.join(folder, "tools", "velmora-codec", "velmora-codec")
        if not os.access(codec, os.X_OK):
            sys.exit(f"codec-vs-peers: {codec} not found")
        builds[label or "velmora-codec"] = codec
    for tool in ("sox", "mpg123", "twolame", "lame"):
        if not shutil.which(tool):
            sys.exit(f"codec-vs-peers: {tool} not found")
    print(f"load average at the start: {' '.join(f'{x:.2f}' for x in os.getloadavg())}; {args.runs} runs, medians",
          flush=True)
    with tempfile.TemporaryDirectory() as d:
        wav = os.path.join(d, "in.wav")
        out = os.path.join(d, "out.wav")

        def signal(rate):
            subprocess.run(["sox", "-n", "-r", str(rate), "-c", "2", "-b", "16", wav, "synth", str(SECONDS),
                            "pinknoise", "sine", "1000", "gain", "-8"], check=True)

        for rate in (48000, 44100):
            signal(rate)
            mp2 = os.path.join(d, "in.mp2")
            subprocess.run(["twolame", "--quiet", "-b", "256", "-m", "s", wav, mp2], check=True)
            enc = {"twolame": ["twolame", "--quiet", "-b", "256", "-m", "s", wav, os.path.join(d, "peer.mp2")]}
            dec = {"mpg123": ["mpg123", "-q", "-w", out, mp2]}
            for label, codec in builds.items():
                enc[label] = [codec, "encode", "--type", "32", "--rate", str(rate), "--bitrate", "256000", "--mode",
                              "20", wav, os.path.join(d, "ours.mp2")]
                dec[label] = [codec, "decode", "--type", "32", "--rate", str(rate), "--bitrate", "256000", "--mode",
                              "20", mp2, out]
            report(f"Layer II encode {rate} Hz", "twolame", measure(enc, args.runs))
            report(f"Layer II decode {rate} Hz", "mpg123", measure(dec, args.runs))

        for rate, kbits in ((48000, 128), (48000, 320), (44100, 128), (24000, 64)):
            signal(rate)
            mp3 = os.path.join(d, "in.mp3")
            subprocess.run(["lame", "--quiet", "-m", "s", "-b", str(kbits), wav, mp3], check=True)
            dec = {"mpg123": ["mpg123", "-q", "-w", out, mp3]}
            for label, codec in builds.items():
                dec[label] = [codec, "decode", "--type", "64", "--rate", str(rate), "--bitrate", str(kbits * 1000),
                              "--mode", "20", mp3, out]
            report(f"Layer III decode {rate} Hz {kbits} k", "mpg123", measure(dec, args.runs))
    print(f"load average at the end: {' '.join(f'{x:.2f}' for x in os.getloadavg())}", flush=True)


if __name__ == "__main__":
    main()
