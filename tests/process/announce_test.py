"""velmoravad-announce against the real Linux aggregator streaming from a private
PulseAudio server: clips come out of the last two channels whole, in order and
on time; the writer waits for an aggregator still starting and for another
writer; an aggregator that goes away, a refused input and Ctrl+C end the writer
with their statuses. The pace is measured with the test as the pipe's reader.

The pipe is the machine-wide abstract socket, so run this in a network namespace
of its own: unshare -n announce_test.py AGGREGATE ANNOUNCE"""

import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from process_harness import ANNOUNCEMENT_SOCAT_ADDRESS, ANNOUNCEMENT_SOCKET, PrivatePulseServer

AGGREGATE = None
ANNOUNCE = None
RATE = 48000
FRAME_BYTES = 8  # one application endpoint of 2 channels, then the 2 announcement channels
PIPE_SOCKET = b"\0" + ANNOUNCEMENT_SOCKET.encode()


def clip_frames(clip_id, frames):
    """Frame k: k + 1 (counting, never 0) in the first channel, -clip_id in the
    second, so that a lost, repeated or swapped sample shows."""
    return [((k % 30000) + 1, -clip_id) for k in range(frames)]


def pcm(frames):
    return b"".join(struct.pack("<hh", *frame) for frame in frames)


def write_wav(path, frames):
    data = pcm(frames)
    header = (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE" + b"fmt " +
              struct.pack("<IHHIIHH", 16, 1, 2, RATE, RATE * 4, 4, 16) + b"data" +
              struct.pack("<I", len(data)))
    Path(path).write_bytes(header + data)


class Aggregator:
    """The aggregator, streaming; its standard output is read as it comes."""

    def __init__(self, environment):
        self.process = subprocess.Popen([AGGREGATE], env=environment, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.output = bytearray()
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.running = threading.Event()
        threading.Thread(target=self._watch_errors, daemon=True).start()

    def _read(self):
        while chunk := self.process.stdout.read1(65536):
            with self.lock:
                self.output += chunk

    def _watch_errors(self):
        for line in self.process.stderr:
            if line.startswith(b"aggregate_running"):
                self.running.set()

    def wait_until_running(self):
        if not self.running.wait(30):
            raise RuntimeError("the aggregator did not start streaming")

    def seconds_streamed(self):
        with self.lock:
            return len(self.output) / FRAME_BYTES / RATE

    def announcements(self):
        """The announcement frames streamed so far, as (first, second) pairs."""
        with self.lock:
            output = bytes(self.output)
        whole = len(output) // FRAME_BYTES * FRAME_BYTES
        return list(struct.iter_unpack("<4xhh", output[:whole]))

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.reader.join(5)
        self.process.stdout.close()
        self.process.stderr.close()


class AnnounceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = PrivatePulseServer()
        cls.server.add_source("app1", "VelmoraDSP Application 1 Output", 2)
        cls.directory = Path(tempfile.mkdtemp(prefix="velmoravad-announce-"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        subprocess.run(["rm", "-rf", str(cls.directory)], check=False)

    def setUp(self):
        self.aggregators = []

    def tearDown(self):
        for aggregator in self.aggregators:
            aggregator.stop()

    def start_aggregator(self, wait=True):
        aggregator = Aggregator(self.server.environment)
        self.aggregators.append(aggregator)
        if wait:
            aggregator.wait_until_running()
        return aggregator

    def clip(self, name, clip_id, seconds):
        frames = clip_frames(clip_id, int(seconds * RATE))
        path = self.directory / name
        write_wav(path, frames)
        return str(path), frames

    def announce(self, *arguments, **options):
        return subprocess.Popen([ANNOUNCE, *arguments], stdin=options.get("stdin"),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, process, timeout=30):
        output, error = process.communicate(timeout=timeout)
        return process.returncode, error

    def played(self, aggregator, after_seconds):
        """The non-silent announcement frames once `after_seconds` more have streamed."""
        until = aggregator.seconds_streamed() + after_seconds
        while aggregator.seconds_streamed() < until:
            time.sleep(0.05)
        return aggregator.announcements()

    def assert_played_whole_and_gapless(self, announcements, frames):
        start = announcements.index(frames[0])
        self.assertEqual(announcements[start:start + len(frames)], frames,
                         "the clip lost, repeated or swapped samples, or ran dry on the way")

    def test_a_clip_longer_than_a_second_arrives_whole_where_socat_keeps_only_its_last(self):
        aggregator = self.start_aggregator()
        path, frames = self.clip("three.wav", 3, 3.0)
        started = time.monotonic()
        status, error = self.finish(self.announce(path))
        took = time.monotonic() - started
        self.assertEqual((status, error), (0, b""))
        self.assertGreater(took, 3.0 - 0.05, "the writer ran ahead of the output's pace")
        self.assert_played_whole_and_gapless(self.played(aggregator, 0.3), frames)

        raw = self.directory / "three.raw"
        raw.write_bytes(pcm(clip_frames(4, len(frames))))
        subprocess.run(["socat", "-u", "FILE:%s" % raw, ANNOUNCEMENT_SOCAT_ADDRESS],
                       check=True, timeout=30)
        kept = [frame for frame in self.played(aggregator, 1.5) if frame[1] == -4]
        self.assertLess(len(kept), 1.2 * RATE, "socat's clip came through whole")
        self.assertEqual(kept[-RATE:], clip_frames(4, len(frames))[-RATE:])

    def test_the_pace_is_192000_bytes_per_second(self):
        path, frames = self.clip("pace.wav", 5, 3.0)
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as listening:
            listening.bind(PIPE_SOCKET)
            listening.listen(1)
            writer = self.announce(path)
            connection, _ = listening.accept()
            arrivals = []
            total = 0
            with connection:
                while data := connection.recv(65536):
                    total += len(data)
                    arrivals.append((time.monotonic(), total))
        self.assertEqual(self.finish(writer), (0, b""))
        self.assertEqual(total, len(frames) * 4)
        # A least-squares line through the arrivals after the first chunks, which
        # go at once.
        paced = [(when, count) for when, count in arrivals if count > 6 * 1920]
        mean_time = sum(when for when, _ in paced) / len(paced)
        mean_count = sum(count for _, count in paced) / len(paced)
        rate = (sum((when - mean_time) * (count - mean_count) for when, count in paced) /
                sum((when - mean_time) ** 2 for when, _ in paced))
        print("\nmeasured pace: %.1f bytes per second, %+.4f %% off 192000"
              % (rate, (rate / 192000 - 1) * 100))
        self.assertLess(abs(rate / 192000 - 1), 0.005)

    def test_a_writer_started_before_the_aggregator_waits_and_then_plays(self):
        path, frames = self.clip("early.wav", 6, 0.5)
        writer = self.announce("--wait", "20", path)
        time.sleep(0.5)
        aggregator = self.start_aggregator(wait=False)
        self.assertEqual(self.finish(writer), (0, b""))
        self.assert_played_whole_and_gapless(self.played(aggregator, 0.3), frames)

    def test_a_second_writer_waits_for_the_first(self):
        aggregator = self.start_aggregator()
        first_path, first = self.clip("first.wav", 7, 1.0)
        second_path, second = self.clip("second.wav", 8, 0.5)
        first_writer = self.announce(first_path)
        time.sleep(0.2)
        # The second comes through sox on a pipe, as the README shows.
        sox = subprocess.Popen(["sox", second_path, "-t", "wav", "-"], stdout=subprocess.PIPE)
        second_writer = self.announce("-", stdin=sox.stdout)
        sox.stdout.close()
        self.assertEqual(self.finish(first_writer), (0, b""))
        self.assertEqual(self.finish(second_writer), (0, b""))
        sox.wait()
        announcements = [frame for frame in self.played(aggregator, 0.3) if frame != (0, 0)]
        self.assertEqual(announcements, first + second)

    def test_an_aggregator_killed_mid_clip_ends_the_writer_with_how_far_it_got(self):
        aggregator = self.start_aggregator()
        path, _ = self.clip("killed.wav", 9, 3.0)
        writer = self.announce(path)
        time.sleep(1.0)
        aggregator.process.kill()
        status, error = self.finish(writer)
        self.assertEqual(status, 1)
        self.assertRegex(error.decode(), r"^velmoravad-announce: the announcement pipe closed "
                         r"after 1\.\d\d s of 3\.00 s of " + re.escape(path) +
                         r": velmoravad-aggregate went away\n$")

    def test_an_input_that_cannot_play_stops_the_writer_before_it_sends(self):
        aggregator = self.start_aggregator()
        good, _ = self.clip("good.wav", 10, 0.2)
        bad = self.directory / "cd.wav"
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", str(bad), "trim", "0",
                        "0.1"], check=True)
        status, error = self.finish(self.announce(good, str(bad)))
        self.assertEqual(status, 2)
        self.assertEqual(error.decode(),
                         "velmoravad-announce: %s: found PCM, 16-bit, 44100 Hz, 2 channels; a clip "
                         "must be a WAV file of 16-bit PCM at 48000 Hz, mono or stereo. Convert it "
                         "with: sox \"%s\" -r 48000 -c 2 -b 16 -e signed-integer \"%s-48k.wav\"\n"
                         % (bad, bad, bad.with_suffix("")))
        self.assertEqual(set(self.played(aggregator, 0.3)), {(0, 0)})

    def test_ctrl_c_stops_at_once_and_frees_the_pipe(self):
        aggregator = self.start_aggregator()
        path, _ = self.clip("long.wav", 11, 3.0)
        after, after_frames = self.clip("after.wav", 12, 0.2)
        writer = self.announce(path)
        time.sleep(0.5)
        writer.send_signal(signal.SIGINT)
        self.assertEqual(self.finish(writer, timeout=0.5), (130, b""))
        self.assertEqual(self.finish(self.announce("--wait", "1", after)), (0, b""))
        self.assert_played_whole_and_gapless(self.played(aggregator, 0.3), after_frames)


if __name__ == "__main__":
    AGGREGATE = sys.argv.pop(1)
    ANNOUNCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
