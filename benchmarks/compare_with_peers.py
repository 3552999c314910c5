#!/usr/bin/env python3
"""This program against its peers, on demand:

    benchmarks/compare_with_peers.py [--seconds 30] [--sources 8] [BINARY]

Starts a private PulseAudio server with stereo sources fed in real time and lets
three readers merge all of them into one interleaved 16-bit stream on a pipe, at
the same time, for the same audio length: this program (its application
endpoints), ffmpeg (`-f pulse` inputs merged with `amerge`) and sox (`-M` with
`-t pulseaudio` inputs). Prints each one's CPU seconds per audio second and its
peak resident memory (from the kernel's accounting of the finished process)."""

import argparse
import os
import subprocess
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "process"))
from process_harness import PrivatePulseServer  # noqa: E402

FRAMES_PER_SECOND = 48000


def drain(stream, limit, counter):
    """Reads `stream` until `limit` bytes or its end, then closes it."""
    while counter[0] < limit:
        chunk = stream.read(min(65536, limit - counter[0]))
        if not chunk:
            break
        counter[0] += len(chunk)
    stream.close()


def measure(name, command, environment, audio_bytes):
    process = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    counter = [0]
    reader = threading.Thread(target=drain, args=(process.stdout, audio_bytes, counter))
    reader.start()
    return name, process, reader, counter, audio_bytes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--sources", type=int, default=8)
    parser.add_argument("binary", nargs="?",
                        default=str(Path(__file__).resolve().parent.parent /
                                    "build/linux/src/driver/velmoravad-aggregate"))
    arguments = parser.parse_args()
    names = [f"app{slot}" for slot in range(1, arguments.sources + 1)]

    server = PrivatePulseServer()
    feeds = []
    try:
        for slot, name in enumerate(names, 1):
            server.add_source(name, f"VelmoraDSP Application {slot} Output", 2)
        for name in names:
            feeds.append(server.start_feed(
                name, "ramp", int((arguments.seconds + 15) * FRAMES_PER_SECOND)))
        channels = 2 * len(names)
        audio_bytes = int(arguments.seconds * FRAMES_PER_SECOND) * channels * 2
        ffmpeg = ["ffmpeg", "-nostdin", "-loglevel", "error"]
        for name in names:
            ffmpeg += ["-f", "pulse", "-sample_rate", "48000", "-channels", "2", "-i", name]
        ffmpeg += ["-filter_complex", f"amerge=inputs={len(names)}", "-f", "s16le", "-"]
        sox = ["sox", "-M"]
        for name in names:
            sox += ["-t", "pulseaudio", "-r", "48000", "-c", "2", "-b", "16", name]
        sox += ["-t", "raw", "-e", "signed", "-b", "16", "-"]
        runs = [
            measure("velmoravad-aggregate", [arguments.binary], server.environment,
                    audio_bytes + int(arguments.seconds * FRAMES_PER_SECOND) * 2 * 2),
            measure("ffmpeg amerge", ffmpeg, server.environment, audio_bytes),
            measure("sox -M", sox, server.environment, audio_bytes),
        ]
        print(f"{len(names)} stereo sources, {arguments.seconds:g} s of audio each")
        print(f"{'reader':24} {'CPU s':>8} {'CPU %/audio s':>14} {'peak RSS MiB':>13}")
        for name, process, reader, counter, limit in runs:
            reader.join()
            _, _, usage = os.wait4(process.pid, 0)
            cpu = usage.ru_utime + usage.ru_stime
            # A reader that ends early (a missing input format, say) measured nothing.
            shortfall = "" if counter[0] >= limit else \
                f"  (failed: {counter[0]} of {limit} bytes)"
            print(f"{name:24} {cpu:8.3f} {100 * cpu / arguments.seconds:13.2f}% "
                  f"{usage.ru_maxrss / 1024:13.1f}{shortfall}")
    finally:
        for feed in feeds:
            feed.stop()
        server.stop()


if __name__ == "__main__":
    main()
