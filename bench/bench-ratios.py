#!/usr/bin/env python3
"""The codec benchmarks' ratios to their peers (vs_mpg123, vs_twolame) for
one or more builds, run in turn several times in one go so that every build
meets the same machine and load; prints the median of each ratio and the load
average. A build whose benchmark has no rate argument ran at the one rate its
source names (Layer II 48 kHz, Layer III 44.1 kHz in older trees).

  bench/bench-ratios.py [--runs N] label=build-dir ...
"""
import argparse
import collections
import json
import os
import statistics
import subprocess
import sys
import tempfile

BENCHES = (("Mp2DecodeBench", "vs_mpg123", 48000), ("Mp2EncodeBench", "vs_twolame", 48000),
           ("Mp3DecodeBench", "vs_mpg123", 44100))


def run(binary):
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([binary, "--benchmark_out=" + out.name, "--benchmark_out_format=json"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return json.load(open(out.name))["benchmarks"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("builds", nargs="+")
    args = parser.parse_args()
    builds = [item.split("=", 1) for item in args.builds]
    ratios = collections.defaultdict(list)  # (bench, rate, label) -> values
    print(f"load average at the start: {' '.join(f'{x:.2f}' for x in os.getloadavg())}; {args.runs} runs, medians",
          flush=True)
    for _ in range(args.runs):
        for bench, counter, default_rate in BENCHES:
            for label, folder in builds:
                binary = os.path.join(folder, "bench", bench)
                if not os.access(binary, os.X_OK):
                    continue
                for b in run(binary):
                    if counter not in b:
                        continue
                    parts = b["name"].split("/")
                    rate = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else default_rate
                    ratios[(bench, rate, label)].append(b[counter])
    labels = [label for label, _ in builds]
    print(f"{'benchmark':<16} {'rate':>6}  " + "  ".join(f"{label:>10}" for label in labels))
    for bench, counter, _ in BENCHES:
        rates = sorted({rate for (b, rate, _) in ratios if b == bench}, reverse=True)
        for rate in rates:
            cells = []
            for label in labels:
                values = ratios.get((bench, rate, label))
                cells.append(f"{statistics.median(values):10.2f}" if values else f"{'-':>10}")
            print(f"{bench:<16} {rate:>6}  " + "  ".join(cells) + f"   ({counter})")
    print(f"load average at the end: {' '.join(f'{x:.2f}' for x in os.getloadavg())}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
