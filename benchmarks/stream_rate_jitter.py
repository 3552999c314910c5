#!/usr/bin/env python3
"""Rate and jitter of a real Linux run, on demand:

    benchmarks/stream_rate_jitter.py [--seconds 60] [BINARY]

Starts a private PulseAudio server with two stereo application sources fed in
real time, streams for the given time, and timestamps every block as it arrives
(CLOCK_MONOTONIC). Prints the rate as the slope of a least-squares fit of frames
written against arrival time (in ppm from 48000 frames per second) and each
block's lateness behind its deadline (deadline n = n * 10 ms after the schedule's
start, taken as the earliest-arriving block's; p50, p99, max)."""

import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "process"))
from process_harness import PrivatePulseServer  # noqa: E402

FRAMES_PER_TICK = 480
FRAMES_PER_SECOND = 48000


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(fraction * len(sorted_values)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("binary", nargs="?",
                        default=str(Path(__file__).resolve().parent.parent /
                                    "build/linux/src/driver/velmoravad-aggregate"))
    arguments = parser.parse_args()

    server = PrivatePulseServer()
    feeds = []
    try:
        for slot in (1, 2):
            server.add_source(f"app{slot}", f"VelmoraDSP Application {slot} Output", 2)
        frames = int((arguments.seconds + 10) * FRAMES_PER_SECOND)
        for slot in (1, 2):
            feeds.append(server.start_feed(f"app{slot}", "ramp", frames))
        channels = 2 + 2 + 2
        block_bytes = channels * 2 * FRAMES_PER_TICK
        blocks = int(arguments.seconds * 100)
        process = subprocess.Popen([arguments.binary], env=server.environment,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   bufsize=0)
        arrivals = []
        pending = 0
        while len(arrivals) < blocks:
            chunk = process.stdout.read(block_bytes - pending)
            if not chunk:
                raise RuntimeError("the stream ended early")
            now = time.clock_gettime(time.CLOCK_MONOTONIC)
            pending += len(chunk)
            if pending == block_bytes:
                arrivals.append(now)
                pending = 0
        process.stdout.close()
        process.wait(timeout=10)
    finally:
        for feed in feeds:
            feed.stop()
        server.stop()

    # Least-squares slope of frames written against arrival time.
    n = len(arrivals)
    frames_written = [(index + 1) * FRAMES_PER_TICK for index in range(n)]
    mean_t = sum(arrivals) / n
    mean_f = sum(frames_written) / n
    slope = (sum((t - mean_t) * (f - mean_f) for t, f in zip(arrivals, frames_written)) /
             sum((t - mean_t) ** 2 for t in arrivals))
    ppm = (slope / FRAMES_PER_SECOND - 1) * 1e6
    offsets = [t - index * 0.010 for index, t in enumerate(arrivals)]
    start = min(offsets)
    lateness = sorted((offset - start) * 1000 for offset in offsets)
    print(f"blocks            {n} over {arrivals[-1] - arrivals[0]:.1f} s")
    print(f"rate              {slope:.3f} frames/s ({ppm:+.2f} ppm)")
    print(f"lateness (ms)     p50 {percentile(lateness, 0.5):.3f}  "
          f"p99 {percentile(lateness, 0.99):.3f}  max {lateness[-1]:.3f}")


if __name__ == "__main__":
    main()
