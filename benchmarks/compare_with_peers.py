#!/usr/bin/env python3
"""This program against its peers, on demand:

    benchmarks/compare_with_peers.py [--seconds 30] [--sources 8] [--warm-up 5]
                                     [--window 15] [--repeats 3] [--floor BARE_TICK_LOOP]
                                     [BINARY]

Starts a private PulseAudio server with stereo sources fed in real time, and lets
three readers merge all of them into one interleaved 16-bit stream on a pipe:
this program (its application endpoints), ffmpeg (`-f pulse` inputs merged with
`amerge`) and sox (`-M` with `-t pulseaudio` inputs).

- Whole process: the three at the same time, for the same audio length; each
  one's CPU seconds per audio second and peak resident memory, from the kernel's
  accounting of the finished process. Start-up counts, which flatters a program
  that runs for hours.
- Steady state: one after another on the same server, each one's share of a core
  over a window that starts once its start-up is over, beside the floor: the
  bare tick loop (benchmarks/timing/bare_tick_loop), which only sleeps to each
  10 ms deadline and writes a block of this program's size to the same kind of
  reader. CPU time is the scheduler's own per-thread accounting; then, where
  perf can count them, the system calls per 10 ms over 5 s more. The programs
  take turns REPEATS times, and each figure is the median of its turns, so that
  a moment of load on a shared machine moves no ratio far."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "process"))
from process_harness import PrivatePulseServer  # noqa: E402

FRAMES_PER_SECOND = 48000
BUILD = Path(__file__).resolve().parent.parent / "build/linux"


def drain(stream, limit, counter):
    """Reads `stream` until `limit` bytes (None: no limit) or its end, then
    closes it."""
    while limit is None or counter[0] < limit:
        chunk = stream.read(65536 if limit is None else min(65536, limit - counter[0]))
        if not chunk:
            break
        counter[0] += len(chunk)
    stream.close()


def start_reading(command, environment, limit=None):
    """The program started with its standard output drained by a thread."""
    process = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    counter = [0]
    reader = threading.Thread(target=drain, args=(process.stdout, limit, counter))
    reader.start()
    return process, reader, counter


def cpu_seconds(pid):
    """The CPU time of every thread of process `pid` so far (nanoseconds from
    /proc/PID/task/*/schedstat)."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended meanwhile
    return total / 1e9


def whole_processes(readers, environment, seconds):
    runs = []
    for name, command, channels in readers:
        limit = int(seconds * FRAMES_PER_SECOND) * channels * 2
        runs.append((name, *start_reading(command, environment, limit), limit))
    print(f"Whole process: {seconds:g} s of audio, the three at the same time")
    print(f"{'reader':24} {'CPU s':>8} {'CPU %/audio s':>14} {'peak RSS MiB':>13}")
    for name, process, reader, counter, limit in runs:
        reader.join()
        _, _, usage = os.wait4(process.pid, 0)
        cpu = usage.ru_utime + usage.ru_stime
        # A reader that ends early (a missing input format, say) measured nothing.
        shortfall = "" if counter[0] >= limit else f"  (failed: {counter[0]} of {limit} bytes)"
        print(f"{name:24} {cpu:8.3f} {100 * cpu / seconds:13.2f}% "
              f"{usage.ru_maxrss / 1024:13.1f}{shortfall}")


def system_calls_per_tick(pid, seconds=5):
    """The system calls of process `pid` per 10 ms over `seconds`, counted by
    perf on the raw_syscalls tracepoint; None where perf cannot count them."""
    if shutil.which("perf") is None:
        return None
    counted = subprocess.run(["perf", "stat", "-x", ",", "-e", "raw_syscalls:sys_enter",
                              "-p", str(pid), "--", "sleep", str(seconds)],
                             capture_output=True, text=True)
    for line in counted.stderr.splitlines():
        fields = line.split(",")
        if len(fields) > 2 and fields[2] == "raw_syscalls:sys_enter" and fields[0].isdigit():
            return int(fields[0]) / (seconds * 100)
    return None


def steady_state(command, environment, warm_up, window, frame_bytes):
    """The program's share of a core over `window` seconds after `warm_up`,
    the share of the stream it delivered meanwhile, and its system calls per
    10 ms after that."""
    process, reader, counter = start_reading(command, environment)
    try:
        time.sleep(warm_up)
        start, start_cpu, start_bytes = time.monotonic(), cpu_seconds(process.pid), counter[0]
        time.sleep(window)
        elapsed = time.monotonic() - start
        cpu = cpu_seconds(process.pid) - start_cpu
        delivered = (counter[0] - start_bytes) / (elapsed * FRAMES_PER_SECOND * frame_bytes)
        calls = system_calls_per_tick(process.pid)
    finally:
        process.kill()
        process.wait()
        reader.join()
    return 100 * cpu / elapsed, delivered, calls


def steady_states(readers, floor, environment, warm_up, window, repeats):
    print(f"Steady state: {window:g} s after {warm_up:g} s of start-up, one after another, "
          f"median of {repeats} turns")
    print(f"{'reader':24} {'CPU %':>8} {'x floor':>8} {'calls/10 ms':>12}")
    turns = {name: [] for name, _, _ in readers + [floor]}
    for _ in range(repeats):
        for name, command, channels in readers + [floor]:
            turns[name].append(steady_state(command, environment, warm_up, window, 2 * channels))
    floor_share = statistics.median(share for share, _, _ in turns[floor[0]])
    for name, results in turns.items():
        share = statistics.median(share for share, _, _ in results)
        # A reader that stalls or fails leaves the stream short: no figure then.
        delivered = min(delivered for _, delivered, _ in results)
        shortfall = "" if delivered > 0.95 else f"  (failed: {delivered:.0%} of the stream)"
        counted = [calls for _, _, calls in results if calls is not None]
        calls = f"{statistics.median(counted):.1f}" if counted else "-"
        print(f"{name:24} {share:7.2f}% {share / floor_share:8.2f} {calls:>12}{shortfall}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--sources", type=int, default=8)
    parser.add_argument("--warm-up", type=float, default=5)
    parser.add_argument("--window", type=float, default=15)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--floor", default=str(BUILD / "benchmarks/timing/bare_tick_loop"))
    parser.add_argument("binary", nargs="?", default=str(BUILD / "src/driver/velmoravad-aggregate"))
    arguments = parser.parse_args()
    names = [f"app{slot}" for slot in range(1, arguments.sources + 1)]

    server = PrivatePulseServer()
    feeds = []
    try:
        for slot, name in enumerate(names, 1):
            server.add_source(name, f"VelmoraDSP Application {slot} Output", 2)
        turn_seconds = arguments.warm_up + arguments.window + 5
        feed_seconds = arguments.seconds + 4 * arguments.repeats * turn_seconds + 30
        for name in names:
            feeds.append(server.start_feed(name, "ramp", int(feed_seconds * FRAMES_PER_SECOND)))
        ffmpeg = ["ffmpeg", "-nostdin", "-loglevel", "error"]
        for name in names:
            ffmpeg += ["-f", "pulse", "-sample_rate", "48000", "-channels", "2", "-i", name]
        ffmpeg += ["-filter_complex", f"amerge=inputs={len(names)}", "-f", "s16le", "-"]
        sox = ["sox", "-M"]
        for name in names:
            sox += ["-t", "pulseaudio", "-r", "48000", "-c", "2", "-b", "16", name]
        sox += ["-t", "raw", "-e", "signed", "-b", "16", "-"]
        # (name, command, output channels): this program adds the two
        # announcement channels, and so does the floor.
        channels = 2 * len(names)
        readers = [("velmoravad-aggregate", [arguments.binary], channels + 2),
                   ("ffmpeg amerge", ffmpeg, channels),
                   ("sox -M", sox, channels)]
        floor = ("bare tick loop (floor)", [arguments.floor, str(channels + 2)], channels + 2)
        print(f"{len(names)} stereo sources")
        whole_processes(readers, server.environment, arguments.seconds)
        print()
        steady_states(readers, floor, server.environment, arguments.warm_up, arguments.window,
                      arguments.repeats)
    finally:
        for feed in feeds:
            feed.stop()
        server.stop()


if __name__ == "__main__":
    main()
