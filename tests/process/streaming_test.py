"""The Linux program streaming from private PulseAudio and PipeWire servers whose
sources are fed in real time, read by a reader of the test's own and by ffmpeg.

Every source channel carries the counted pattern: its own tag in the high bits and
the frame number in the low 11, so that the reader can tell each channel's place,
order and wholeness. The announcement channels get the same kind of frames from
velmoravad-announce. Where the server itself may lose audio (PipeWire), parec
records every source beside the program, and the program is forgiven exactly what
the server's own client lost too.

Usage: streaming_test.py PATH_TO_velmoravad-aggregate PATH_TO_velmoravad-announce"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from process_harness import (ANNOUNCEMENT_SOCAT_ADDRESS, COUNTER_MASK, FRAMES_PER_SECOND,
                             FRAMES_PER_TICK, PrivatePipeWireServer, PrivatePulseServer,
                             StreamingProcess, counted_stereo, frames_of,
                             start_counted_feeds, start_server_with_sources)

BINARY = None
ANNOUNCE = None

# (name, description, channels, feed value); added in this scrambled order. A
# source's channel c carries tag value + c.
SOURCES = [("app4", "VelmoraDSP Application 4 Output", 4, 4),
           ("mic", "Studio Mic", 2, 8),
           ("app1", "VelmoraDSP Application 1 Output", 1, 1),
           ("app2", "VelmoraDSP Application 2 Output", 2, 2)]
# The frame's channels: the application endpoints by slot, the live input, then
# the announcement channels (tags 10 and 11).
CHANNEL_ORDER = ["app1", "app2", "app4", "mic"]
ANNOUNCEMENT_TAG = 10
ANNOUNCEMENT_SECONDS = 3
STATUS_LINES = (
    b"slot=1 channels=1 name=VelmoraDSP Application 1 Output id=app1\n"
    b"slot=2 channels=2 name=VelmoraDSP Application 2 Output id=app2\n"
    b"slot=4 channels=4 name=VelmoraDSP Application 4 Output id=app4\n"
    b"live_input channels=2 name=Studio Mic id=mic\n"
    b"aggregate_flushed milliseconds=2500\n"
    b"aggregate_running endpoints=3 application_channels=7 live_input_channels=2 "
    b"announcement_channels=2 channels=11 sample_rate=48000\n")
CHANNELS = 11
BLOCK_BYTES = CHANNELS * 2 * FRAMES_PER_TICK
# A source still streaming shows audio in the program's last ticks.
END_TICKS = 20


class ServerRecording:
    """What the server's own client records of one source: parec (pacat
    --record) in the source's own format, channel count and map, so that
    nothing is converted, read as it comes, each chunk timestamped."""

    def __init__(self, environment, source, channels):
        self.channels = channels
        self.process = subprocess.Popen(
            ["pacat", "--record", "--raw", "--format=s16le", "--rate=%d" % FRAMES_PER_SECOND,
             "--channels=%d" % channels, "--fix-channels", "--latency-msec=20",
             "--device=" + source], env=environment, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.data = bytearray()
        self.arrivals = []  # (bytes recorded, time) after each chunk
        self.reader = threading.Thread(target=self._read)
        self.reader.start()

    def _read(self):
        for chunk in iter(lambda: self.process.stdout.read1(65536), b""):
            self.data += chunk
            self.arrivals.append((len(self.data), time.monotonic()))

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        self.process.wait(timeout=10)
        self.reader.join()
        self.process.stdout.close()

    def frames(self):
        return frames_of([bytes(self.data)], self.channels, 0, self.channels)

    def silent_between(self, start, end):
        """Whether everything that arrived from `start` to `end` is silence."""
        begin = max((size for size, arrived in self.arrivals if arrived <= start), default=0)
        stop = max((size for size, arrived in self.arrivals if arrived <= end), default=0)
        return not any(self.data[begin:stop])


class StreamingTest(unittest.TestCase):
    SERVER = PrivatePulseServer
    # PulseAudio's pipe source passes on everything its feed writes, so the
    # program is held to every frame. PipeWire's runs on its own clock: now and
    # then it drops a graph cycle (256 frames), and when the feed falls behind
    # (under load) it plays silence, may go on further along the feed, or stays
    # silent for good; there parec records each source beside the program.
    RECORD_SOURCES = False

    def start_recordings(self, server):
        recordings = {}
        for name, _, channels, _ in SOURCES:
            recordings[name] = ServerRecording(server.environment, name, channels)
            self.addCleanup(recordings[name].stop)
        return recordings

    def counter_breaks(self, frames, first_tag, name):
        """Checks that each frame is silence or one whole frame of the source,
        with every channel's tag; returns where the frame counter does not go on
        by one, as (counter, next counter) pairs, silence in between skipped."""
        if not frames:
            return []
        tags = tuple(range(first_tag, first_tag + len(frames[0])))
        breaks = []
        previous = None
        for index, frame in enumerate(frames):
            if not any(frame):
                continue
            counter = frame[0] & COUNTER_MASK
            if tuple((sample >> 11) & 31 for sample in frame) != tags or \
                    any(sample & COUNTER_MASK != counter for sample in frame):
                self.fail("%s, frame %d is torn or misplaced: %r" % (name, index, frame))
            if previous is not None and counter != (previous + 1) & COUNTER_MASK:
                breaks.append((previous, counter))
            previous = counter
        return breaks

    def check_source(self, frames, first_tag, name, recording=None):
        """Whole frames of the source in order, none lost or repeated; with a
        recording, a break is forgiven where the server's own client shows the
        same break, the breaks matched in order."""
        breaks = self.counter_breaks(frames, first_tag, name)
        servers = iter(self.counter_breaks(recording.frames(), first_tag, name + " (parec)")
                       if recording else [])
        for previous, counter in breaks:
            self.assertTrue((previous, counter) in servers,
                            "%s: counter %d went on at %d, a loss or repeat the server's own "
                            "client did not see" % (name, previous, counter))

    def test_every_source_streams_whole_in_order_and_on_time(self):
        server = start_server_with_sources(self, SOURCES, self.SERVER)
        feeds = start_counted_feeds(self, server, SOURCES, 30)
        recordings = self.start_recordings(server) if self.RECORD_SOURCES else {}
        clip = Path(tempfile.mkdtemp()) / "announcement.raw"
        self.addCleanup(clip.unlink)
        frames = ANNOUNCEMENT_SECONDS * FRAMES_PER_SECOND
        clip.write_bytes(counted_stereo(ANNOUNCEMENT_TAG, frames))
        # The writer waits for the pipe, which exists once the stream runs.
        writer = subprocess.Popen([ANNOUNCE, "--raw", "--quiet", "--wait", "20", str(clip)],
                                  env=server.environment, stdin=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE)
        self.addCleanup(writer.kill)

        run = StreamingProcess([BINARY, "--live-input-id", "mic"], server.environment,
                               BLOCK_BYTES)
        self.assertTrue(run.read_blocks(400, stall_after=250), run.error)
        feeds["app2"].stop()  # its channels turn to zeros; the others go on
        self.assertTrue(run.read_blocks(300), run.error)
        closed = run.close_reader()
        status, ended = run.wait(timeout=10)
        for recording in recordings.values():
            recording.stop()

        self.assertEqual(run.error, STATUS_LINES + b"aggregate_stopped reason=stdout_closed\n")
        self.assertEqual(status, 0)
        self.assertLess(ended - closed, 1.0, "the run went on after its reader closed")
        with writer.stderr:
            self.assertEqual(writer.wait(timeout=10), 0, writer.stderr.read())
        # Nothing before the startup flush has passed.
        self.assertGreaterEqual(run.arrivals[0] - run.started, 2.5)

        first = 0
        for name in CHANNEL_ORDER:
            channels, value = next((c, v) for n, _, c, v in SOURCES if n == name)
            source_frames = frames_of(run.blocks, CHANNELS, first, channels)
            recording = recordings.get(name)
            self.check_source(source_frames, value, name, recording)
            first += channels
            if name == "app2":
                # Silent to the end once its feed stopped.
                self.assertTrue(all(sample == 0 for frame in source_frames[-200 * FRAMES_PER_TICK:]
                                    for sample in frame))
            elif not any(frame[0] for frame in source_frames[-END_TICKS * FRAMES_PER_TICK:]):
                # The others still carry audio in the last blocks, unless the
                # server's own client heard only silence then too (its latency
                # is the shorter: the last half of that time).
                end = run.arrivals[-1]
                self.assertTrue(recording and recording.silent_between(
                    end - END_TICKS * FRAMES_PER_TICK / FRAMES_PER_SECOND / 2, end),
                    "%s went silent before the end" % name)
        announced = frames_of(run.blocks, CHANNELS, first, 2)
        self.check_source(announced, ANNOUNCEMENT_TAG, "announcement")
        self.assertEqual(sum(1 for frame in announced if frame[0] != 0), frames,
                         "announcement frames lost")

        # The long-run rate, across the stall: the slope of frames written
        # against arrival time.
        count = len(run.arrivals)
        written = [(index + 1) * FRAMES_PER_TICK for index in range(count)]
        mean_time = sum(run.arrivals) / count
        mean_frames = sum(written) / count
        slope = (sum((t - mean_time) * (f - mean_frames) for t, f in zip(run.arrivals, written)) /
                 sum((t - mean_time) ** 2 for t in run.arrivals))
        self.assertGreaterEqual(run.arrivals[-1] - run.arrivals[0], 5)
        self.assertLess(abs(slope / FRAMES_PER_SECOND - 1), 0.01, slope)

    def run_until_loss(self, lose):
        """Streams, then loses something mid-run; the run's status and error."""
        server = start_server_with_sources(self, SOURCES, self.SERVER)
        start_counted_feeds(self, server, SOURCES, 20)
        # Without the live input: the application endpoints' 7 channels and the
        # announcement channels.
        run = StreamingProcess([BINARY], server.environment, 9 * 2 * FRAMES_PER_TICK)
        self.assertTrue(run.read_blocks(20), run.error)
        lost = time.monotonic()
        lose(server)
        while run.read_blocks(1):
            pass
        status, ended = run.wait(timeout=10)
        self.assertLess(ended - lost, 1.0, "the run did not end within a second")
        return status, run.error

    def test_a_source_that_disappears_ends_the_run(self):
        status, error = self.run_until_loss(lambda server: server.remove("app2"))
        self.assertTrue(error.endswith(b"\nCapture read failed: 0x88890004\n"), error)
        self.assertEqual(status, 1)

    def test_an_audio_system_that_goes_away_ends_the_run(self):
        status, error = self.run_until_loss(lambda server: server.kill())
        self.assertTrue(error.endswith(b"\nCapture read failed: 0x88890010\n"), error)
        self.assertEqual(status, 1)

    def test_ffmpeg_reads_the_stream_into_a_wav_file(self):
        server = start_server_with_sources(self, SOURCES, self.SERVER)
        start_counted_feeds(self, server, SOURCES, 20)
        layout = json.loads(subprocess.run([BINARY, "--list", "--live-input-id", "mic"],
                                           env=server.environment, capture_output=True,
                                           check=True).stdout)
        wav = Path(tempfile.mkdtemp()) / "stream.wav"
        self.addCleanup(wav.unlink, missing_ok=True)
        program = subprocess.Popen([BINARY, "--live-input-id", "mic"], env=server.environment,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        reader = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "s16le",
                                 "-ar", "48000", "-ac", str(layout["channels"]), "-i", "-",
                                 "-t", "2", "-y", str(wav)],
                                stdin=program.stdout, capture_output=True, timeout=30)
        program.stdout.close()
        self.assertEqual(program.wait(timeout=10), 0)
        with program.stderr:
            self.assertTrue(program.stderr.read().endswith(
                b"aggregate_stopped reason=stdout_closed\n"))
        self.assertEqual(reader.returncode, 0, reader.stderr)
        probed = json.loads(subprocess.run(
            ["ffprobe", "-v", "error", "-show_entries", "stream=channels,sample_rate,duration",
             "-of", "json", str(wav)], capture_output=True, check=True).stdout)["streams"][0]
        self.assertEqual(probed["channels"], CHANNELS)
        self.assertEqual(probed["sample_rate"], "48000")
        self.assertAlmostEqual(float(probed["duration"]), 2.0, places=2)


class StreamingOnPipeWireTest(StreamingTest):
    SERVER = PrivatePipeWireServer
    RECORD_SOURCES = True


class AnnouncementPipeDoorsTest(unittest.TestCase):
    """Who may write: a writer of another user is refused; root is let in."""

    def test_a_writer_of_another_user_is_refused_and_root_is_let_in(self):
        if os.geteuid() != 0 or shutil.which("setpriv") is None:
            self.skipTest("needs root and setpriv to write as another user")
        server = PrivatePulseServer()
        self.addCleanup(server.stop)
        server.add_source("app1", "VelmoraDSP Application 1 Output", 2)
        feed = server.start_feed("app1", "counted", 20 * FRAMES_PER_SECOND, 1)
        self.addCleanup(feed.stop)
        clips = Path(tempfile.mkdtemp())
        clips.chmod(0o755)  # readable by the other user's writer
        for name, tag in (("nobody.raw", 20), ("root.raw", 22)):
            (clips / name).write_bytes(counted_stereo(tag, 4800))
        channels = 4
        run = StreamingProcess([BINARY], server.environment, channels * 2 * FRAMES_PER_TICK)
        self.assertTrue(run.read_blocks(1), run.error)

        def write_as(user_options, clip):
            return subprocess.run(["setpriv", *user_options, "socat", "-u", str(clips / clip),
                                   ANNOUNCEMENT_SOCAT_ADDRESS],
                                  capture_output=True, timeout=30)
        refused = write_as(["--reuid", "65534", "--regid", "65534", "--clear-groups"],
                           "nobody.raw")
        self.assertNotIn(b"Permission denied", refused.stderr)
        self.assertEqual(write_as([], "root.raw").returncode, 0)
        run.read_blocks(50)
        run.close_reader()
        run.wait(timeout=10)
        shutil.rmtree(clips)
        announced = {(sample & 0xFFFF) >> 11 for frame in frames_of(run.blocks[1:], channels, 2, 1)
                     for sample in frame if sample != 0}
        self.assertEqual(announced, {22}, "the tags that reached the announcement channels")


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    ANNOUNCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
