#!/usr/bin/env python3
"""A soak of the Linux program, for as long as asked:

    soak.py [--seconds 600] [--closes 50] [--report FILE] PATH_TO_velmoravad-aggregate

Eight stereo sources of a private PulseAudio server stream in real time with
counted patterns; an announcement writer connects, writes chunks of random sizes
(odd ones too) at about the output's pace, leaves, and comes back, over and over;
the reader stalls now and then. Throughout, every channel's pattern must stay
whole and in order, and after a warm-up (the first minute, or a third of a
shorter soak) the program's own resident memory (beside the audio server's
shared pool, which is reported) and its open descriptors must not grow;
the long-run rate must stay within 0.1 % of 48000 frames per second. Then the
reader closes at a random moment, `--closes` times over (start-up included), and
each run must end with the stopped line and status 0.

The test command runs 60 s of it. Exits non-zero on any failure; prints the
memory and descriptor curve, and writes it to --report as CSV when asked."""

import argparse
import os
import random
import socket
import subprocess
import sys
import threading
import time
from array import array
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from process_harness import ANNOUNCEMENT_SOCKET, PrivatePulseServer, counted

FRAMES_PER_TICK = 480
FRAMES_PER_SECOND = 48000
SOURCES = 8
CHANNELS = SOURCES * 2 + 2
BLOCK_BYTES = CHANNELS * 2 * FRAMES_PER_TICK
ANNOUNCEMENT_TAG = SOURCES * 2 + 1
STOPPED_LINE = b"aggregate_stopped reason=stdout_closed\n"


# Channel tag t's counted samples from frame 0 on, long enough for any block
# to be a slice of it.
PATTERNS = {tag: array("h", (counted(tag, frame) for frame in range(2048 + FRAMES_PER_TICK)))
            for tag in range(1, ANNOUNCEMENT_TAG + 2)}


class Failure(Exception):
    pass


class ChannelCheck:
    """One channel of a source or of the announcement: non-zero samples carry
    the channel's tag and count up by one, frame after frame; runs of zeros
    (a source that had nothing) may come between."""

    def __init__(self, tag, name):
        self.tag = tag
        self.name = name
        self.next = None  # the counter the next non-zero sample must carry

    def check(self, column, block_index):
        if self.next is not None:
            start = self.next
            if column == PATTERNS[self.tag][start:start + FRAMES_PER_TICK]:
                self.next = (start + FRAMES_PER_TICK) & 2047
                return
        for offset, sample in enumerate(column):  # zeros or a first block: sample by sample
            if sample == 0:
                continue
            value = sample & 0xFFFF
            if value >> 11 != self.tag or (self.next is not None and value & 2047 != self.next):
                raise Failure("%s: block %d frame %d holds %d, expected tag %d counter %s"
                              % (self.name, block_index, offset, sample, self.tag, self.next))
            self.next = (value + 1) & 2047


class AnnouncementWriter(threading.Thread):
    """Connects, writes a counted stereo stream in chunks of random sizes at
    about the output's pace, leaves after a random time, and comes back. A
    connection that ends inside a frame loses that frame's bytes, so the next
    connection sends that frame again from its start."""

    def __init__(self):
        super().__init__(daemon=True)
        self.stop = threading.Event()
        self.connections = 0
        self.frame = 0

    def stream_bytes(self, first_frame, frames):
        out = bytearray()
        for frame in range(first_frame, first_frame + frames):
            for tag in (ANNOUNCEMENT_TAG, ANNOUNCEMENT_TAG + 1):
                out += counted(tag, frame).to_bytes(2, "little", signed=True)
        return bytes(out)

    def run(self):
        while not self.stop.is_set():
            try:
                connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                connection.connect("\0" + ANNOUNCEMENT_SOCKET)
            except OSError:
                connection.close()
                time.sleep(0.05)
                continue
            self.connections += 1
            with connection:
                self.serve_one(connection)
            time.sleep(random.uniform(0, 0.3))

    def serve_one(self, connection):
        pending = self.stream_bytes(self.frame, FRAMES_PER_SECOND * 3)
        sent = 0
        started = time.monotonic()
        leave_after = random.uniform(0.2, 2.0)
        while not self.stop.is_set() and time.monotonic() - started < leave_after:
            due = int((time.monotonic() - started + 0.03) * FRAMES_PER_SECOND * 4)
            if sent >= due:
                time.sleep(0.005)
                continue
            size = random.randint(1, 4001)
            try:
                sent += connection.send(pending[sent:sent + size])
            except OSError:
                break
        self.frame += sent // 4


class Monitor(threading.Thread):
    """Samples the program's resident memory and open descriptors. Its own
    memory (anonymous and file-backed pages) is told apart from the shared
    memory of the audio server's pool, which the client maps to receive audio:
    its touched pages grow with the server's use of the pool, up to its size."""

    def __init__(self, pid, started):
        super().__init__(daemon=True)
        self.pid = pid
        self.started = started
        # (seconds, own resident KiB, shared resident KiB, descriptors)
        self.samples = []
        self.stop = threading.Event()

    def run(self):
        while not self.stop.wait(2.0):
            try:
                with open("/proc/%d/status" % self.pid) as status:
                    kib = {line.split(":")[0]: int(line.split()[1]) for line in status
                           if line.startswith(("RssAnon:", "RssFile:", "RssShmem:"))}
                descriptors = len(os.listdir("/proc/%d/fd" % self.pid))
            except (OSError, KeyError, ValueError):
                return
            self.samples.append((time.monotonic() - self.started,
                                 kib["RssAnon"] + kib["RssFile"], kib["RssShmem"], descriptors))


def soak(binary, server, seconds):
    process = subprocess.Popen([binary], env=server.environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    started = time.monotonic()
    monitor = Monitor(process.pid, started)
    monitor.start()
    writer = AnnouncementWriter()
    writer.start()
    checks = [ChannelCheck(channel + 1, "source %d channel %d" % (channel // 2 + 1, channel % 2))
              for channel in range(SOURCES * 2)]
    checks += [ChannelCheck(ANNOUNCEMENT_TAG + channel, "announcement channel %d" % channel)
               for channel in range(2)]
    first_arrival = None
    blocks = 0
    next_stall = started + random.uniform(5, 15)
    try:
        while True:
            block = process.stdout.read(BLOCK_BYTES)
            if len(block) < BLOCK_BYTES:
                raise Failure("the stream ended early")
            now = time.monotonic()
            if first_arrival is None:
                first_arrival = now
            samples = array("h", block)
            for channel, check in enumerate(checks):
                check.check(samples[channel::CHANNELS], blocks)
            blocks += 1
            if now - started >= seconds:
                break
            # No stall in the last seconds: the blocks a stall holds back would
            # still be catching up when the rate is taken.
            if now >= next_stall and now - started < seconds - 5:
                time.sleep(random.uniform(0.1, 0.5))
                next_stall = time.monotonic() + random.uniform(5, 15)
        last_arrival = time.monotonic()
    finally:
        writer.stop.set()
        monitor.stop.set()
        process.stdout.close()
        process.wait(timeout=10)
        writer.join(timeout=10)
        monitor.join()
    rate = (blocks - 1) * FRAMES_PER_TICK / (last_arrival - first_arrival)
    return rate, monitor.samples, writer.connections


def close_at_random(binary, server):
    """One run whose reader closes at a random moment; its status and error."""
    process = subprocess.Popen([binary], env=server.environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + random.uniform(0.0, 4.0)
    while time.monotonic() < deadline:
        if not process.stdout.read(BLOCK_BYTES):
            break
    process.stdout.close()
    try:
        status = process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None, b"did not end within 10 s after its reader closed"
    with process.stderr:
        return status, process.stderr.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--closes", type=int, default=50)
    parser.add_argument("--report")
    parser.add_argument("binary")
    arguments = parser.parse_args()

    server = PrivatePulseServer()
    feeds = []
    try:
        for index in range(SOURCES):
            name = "app%d" % (index + 1)
            server.add_source(name, "VelmoraDSP Application %d Output" % (index + 1), 2)
            feeds.append(server.start_feed(name, "counted",
                                           int((arguments.seconds + 120) * FRAMES_PER_SECOND),
                                           value=2 * index + 1))
        rate, samples, connections = soak(arguments.binary, server, arguments.seconds)
        print("soak: %.0f s, %d writer connections, rate %.3f frames/s (%+.4f %%)"
              % (arguments.seconds, connections, rate, (rate / FRAMES_PER_SECOND - 1) * 100))
        print("seconds  own resident KiB  server pool KiB  descriptors")
        for second, own, shared, descriptors in samples:
            print("%7.0f  %16d  %15d  %11d" % (second, own, shared, descriptors))
        if arguments.report:
            Path(arguments.report).write_text(
                "seconds,own_resident_kib,server_pool_kib,descriptors\n" +
                "".join("%.1f,%d,%d,%d\n" % sample for sample in samples))
        warm_up = min(60.0, arguments.seconds / 3)
        before = [sample for sample in samples if sample[0] <= warm_up]
        after = [sample for sample in samples if sample[0] > warm_up]
        if not before or not after:
            raise Failure("too short a soak to see memory after the warm-up")
        if max(s[1] for s in after) > max(s[1] for s in before) + 256:
            raise Failure("the program's own resident memory grew after the warm-up")
        if max(s[3] for s in after) > max(s[3] for s in before):
            raise Failure("open descriptors grew after the warm-up")
        if abs(rate / FRAMES_PER_SECOND - 1) > 0.001:
            raise Failure("the long-run rate is off by more than 0.1 %")
        if connections < 3:
            raise Failure("the announcement writer hardly ever got in")

        with ThreadPoolExecutor(max_workers=5) as pool:
            endings = list(pool.map(lambda _: close_at_random(arguments.binary, server),
                                    range(arguments.closes)))
        for status, error in endings:
            if status != 0 or not error.endswith(STOPPED_LINE):
                raise Failure("a reader that closed at random gave status %s:\n%s"
                              % (status, error.decode(errors="replace")))
        print("closes: %d runs whose reader closed at a random moment, each with the stopped "
              "line and status 0" % arguments.closes)
    except Failure as failure:
        print("soak failed: %s" % failure, file=sys.stderr)
        return 1
    finally:
        for feed in feeds:
            feed.stop()
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
