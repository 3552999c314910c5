"""The Windows program streaming under Wine, whose Core Audio serves a private
PulseAudio server's sources as endpoints. Wine has no exclusive capture, so the
program is the test build (VELMORAVAD_TEST_SHARED_MODE): its application
endpoints open in shared mode with the exclusive streams' 100 ms buffer, and
everything else is the product.

Every source channel carries the counted pattern (its tag in the high bits, the
frame number in the low 11), fed in real time; the announcement channels get a
counted clip through the real named pipe from velmoravad-announce.exe, itself
under Wine. Wine's buffers hold 100 ms on the application endpoints and only its
default few periods on the live input, so what holds the process up for longer
(a reader's stall, a loaded machine) loses audio: the live input, in the same
process, is the yardstick of such losses. Figures (block lateness, what the
stall lost, the losses, the close, the timer) are printed, never asserted.

Usage: wine_streaming_test.py AGGREGATE_EXE ANNOUNCE_EXE [--timer-probe TICK_WAIT_LATENESS_EXE]
(WINEPREFIX names a prefix made with `wine wineboot -i`.)"""

import os
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from process_harness import (COUNTER_MASK, FRAMES_PER_SECOND, FRAMES_PER_TICK,
                             WINDOWS_EOL as EOL, WINE_ENDPOINT_ID as WINE_ID, PrivatePulseServer,
                             StreamingProcess, counted_stereo, frames_of, frames_per_second, run,
                             schedule_lateness, start_counted_feeds, start_server_with_sources,
                             wine_endpoint_id, wine_environment)

EXECUTABLE = None
ANNOUNCE = None
TIMER_PROBE = None

# (name, description, channels, tag of its first channel); added in this
# scrambled order. Wine's driver takes 1 and 2 channels only: the program asks
# every stream of more than two for front left and right, and Wine wants one
# speaker in the mask per channel.
SOURCES = [("app3", "VelmoraDSP Application 3 Output", 2, 3),
           ("mic", "Studio Mic", 2, 8),
           ("app1", "VelmoraDSP Application 1 Output", 1, 1)]
APPLICATION_ORDER = ["app1", "app3"]
ANNOUNCEMENT_TAG = 10
ANNOUNCEMENT_SECONDS = 3
STALL_AFTER_BLOCK = 250
STALL_SECONDS = 0.3
# The blocks after a stall in which its losses and its catch-up fall: the
# reader's 300 ms, the pipe's 64 KiB that the program wrote ahead, the
# catch-up, and as much again.
STALL_BLOCKS = 100
STALL_FRAMES = range(STALL_AFTER_BLOCK * FRAMES_PER_TICK,
                     (STALL_AFTER_BLOCK + STALL_BLOCKS) * FRAMES_PER_TICK)
# How far apart in the stream two losses may lie and still be one event: the
# sources' queues differ by the late packets each played after a silence.
NEAR_FRAMES = 50 * FRAMES_PER_TICK
STOPPED_LINE = b"aggregate_stopped reason=stdout_closed" + EOL
DEVICE_INVALIDATED_REPORT = b"Capture read failed: 0x88890004" + EOL


def blocks_near(frame_index, blocks):
    """The indices of `blocks` within NEAR_FRAMES of output frame `frame_index`."""
    block = frame_index // FRAMES_PER_TICK
    reach = NEAR_FRAMES // FRAMES_PER_TICK
    return range(max(0, block - reach), min(len(blocks), block + reach + 1))


def unexplained(skips, reference_skips):
    """The skips with none of `reference_skips` within NEAR_FRAMES of them."""
    return [skip for skip in skips
            if not any(abs(skip[0] - other[0]) <= NEAR_FRAMES for other in reference_skips)]


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(fraction * len(sorted_values)))]


class CountedFrames:
    """One source's frames, walked: each is all zeros or a whole frame of the
    source (every channel its own tag, one counter), and the counter goes up by
    one a frame. Where it jumps forward, frames were lost (`skips`: index and
    count); a run of zeros after which it goes on without a jump held frames
    that came late and played afterwards (`late_silences`)."""

    def __init__(self, test, frames, first_tag, name):
        self.frames = frames
        self.skips = []
        self.late_silences = 0
        self.audible = 0
        previous = None
        silent = False
        for index, frame in enumerate(frames):
            if all(sample == 0 for sample in frame):
                silent = True
                continue
            tags = [(sample >> 11) & 31 for sample in frame]
            test.assertEqual(tags, list(range(first_tag, first_tag + len(frame))),
                             "%s, frame %d: %r" % (name, index, frame))
            counters = {sample & COUNTER_MASK for sample in frame}
            test.assertEqual(len(counters), 1, "%s, frame %d is torn: %r" % (name, index, frame))
            counter = counters.pop()
            if previous is not None:
                jump = (counter - previous - 1) & COUNTER_MASK
                # A repeat shows as a jump of a whole lap, less one.
                test.assertNotEqual(jump, COUNTER_MASK, "%s, frame %d repeats" % (name, index))
                if jump:
                    self.skips.append((index, jump))
                elif silent:
                    self.late_silences += 1
            previous = counter
            silent = False
            self.audible += 1


class WineStreamingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Wine keeps the id to the source's name, on every server of the tests.
        server = PrivatePulseServer()
        try:
            cls.microphone_id = wine_endpoint_id(server, EXECUTABLE, "mic", 2)
        finally:
            server.stop()

    def start_announcement(self, server):
        clip = Path(tempfile.mkdtemp()) / "announcement.raw"
        self.addCleanup(clip.unlink)
        frames = ANNOUNCEMENT_SECONDS * FRAMES_PER_SECOND
        clip.write_bytes(counted_stereo(ANNOUNCEMENT_TAG, frames))
        # Wine's Z: drive is the Linux root. The writer waits for the pipe,
        # which exists once the stream runs.
        writer = subprocess.Popen(["wine", ANNOUNCE, "--raw", "--quiet", "--wait", "30",
                                   "Z:" + str(clip)], env=wine_environment(server),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE)
        self.addCleanup(writer.kill)
        return writer, frames

    def test_every_channel_streams_whole_in_order_and_on_time(self):
        server = start_server_with_sources(self, SOURCES)
        feeds = start_counted_feeds(self, server, SOURCES, 30)
        writer, clip_frames = self.start_announcement(server)
        channels = sum(source[2] for source in SOURCES) + 2
        stream = StreamingProcess(["wine", EXECUTABLE, "--live-input-id", self.microphone_id],
                                  wine_environment(server), channels * 2 * FRAMES_PER_TICK)
        self.assertTrue(stream.read_blocks(400, STALL_AFTER_BLOCK, STALL_SECONDS), stream.error)
        feeds["app3"].stop()  # its channels turn to zeros; the others go on
        self.assertTrue(stream.read_blocks(300), stream.error)
        closed = stream.close_reader()
        status, ended = stream.wait()

        self.assertRegex(stream.error, b"^" + re.escape(
            b"slot=1 channels=1 name=VelmoraDSP Application 1 Output id=") + WINE_ID + EOL +
            re.escape(b"slot=3 channels=2 name=VelmoraDSP Application 3 Output id=") + WINE_ID +
            EOL + re.escape(
                b"live_input channels=2 name=Studio Mic id=" + self.microphone_id + EOL +
                b"aggregate_flushed milliseconds=2500" + EOL +
                b"aggregate_running endpoints=2 application_channels=3 live_input_channels=2 "
                b"announcement_channels=2 channels=7 sample_rate=48000" + EOL + STOPPED_LINE) +
            b"$")
        self.assertEqual(status, 0)
        with writer.stderr:
            self.assertEqual(writer.wait(timeout=30), 0, writer.stderr.read())
        # Nothing before the startup flush has passed.
        self.assertGreaterEqual(stream.arrivals[0] - stream.started, 2.5)

        walked = self.walk_sources(stream.blocks, channels)
        # A loss on an application endpoint must show on the live input too:
        # its shared stream has Wine's default buffer, a third of theirs, so
        # whatever held the process up (the stall, a loaded machine) cost it
        # frames as well. A loss of theirs alone is the program's.
        for name in APPLICATION_ORDER:
            self.assertEqual(unexplained(walked[name].skips, walked["mic"].skips), [],
                             name + " lost frames that the live input did not")
        for name, walk in walked.items():
            if name == "app3":
                self.assertTrue(all(sample == 0 for frame in walk.frames[-200 * FRAMES_PER_TICK:]
                                    for sample in frame), "app3 after its feed stopped")
            else:
                self.assertTrue(any(frame[0] for frame in walk.frames[-50 * FRAMES_PER_TICK:]),
                                name + " at the end")

        # The clip whole, but for what a queue of one second cannot hold while
        # the program falls further behind than that.
        lateness = schedule_lateness(stream.arrivals)
        announced = CountedFrames(self, frames_of(stream.blocks, channels, channels - 2, 2),
                                  ANNOUNCEMENT_TAG, "announcement")
        held_up = [skip for skip in announced.skips
                   if max(lateness[block] for block in blocks_near(skip[0], lateness)) >= 0.9]
        self.assertEqual(announced.skips, held_up, "announcement frames lost")
        if not announced.skips:
            self.assertEqual(announced.audible, clip_frames, "announcement frames lost")

        # The long-run rate across the stall: the due blocks ran back to back.
        self.assertGreaterEqual(stream.arrivals[-1] - stream.arrivals[0], 5)
        rate = frames_per_second(stream.arrivals)
        self.assertLess(abs(rate / FRAMES_PER_SECOND - 1), 0.01, rate)
        self.print_figures(lateness, walked, rate, stream.error_arrival - closed, ended - closed)

    def walk_sources(self, blocks, channels):
        """Each source's frames, by name, walked in their channels of the frame."""
        walked = {}
        first = 0
        for name in APPLICATION_ORDER + ["mic"]:
            source_channels, tag = next((c, t) for n, _, c, t in SOURCES if n == name)
            walked[name] = CountedFrames(self, frames_of(blocks, channels, first, source_channels),
                                         tag, name)
            first += source_channels
        return walked

    @staticmethod
    def print_figures(lateness, walked, rate, stopped_seconds, ended_seconds):
        steady = sorted(late * 1000 for index, late in enumerate(lateness)
                        if not STALL_AFTER_BLOCK <= index < STALL_AFTER_BLOCK + STALL_BLOCKS)
        print("\nunder Wine, %d blocks: rate %.1f frames/s; block lateness away from the stall "
              "p50 %.2f ms, p99 %.2f ms, max %.2f ms; after the reader's close the stopped line "
              "came in %.3f s, the end of the process in %.3f s"
              % (len(lateness), rate, percentile(steady, 0.5), percentile(steady, 0.99),
                 steady[-1], stopped_seconds, ended_seconds))
        for name, walk in walked.items():
            jumped = sum(count for index, count in walk.skips if index in STALL_FRAMES)
            elsewhere = [count for index, count in walk.skips if index not in STALL_FRAMES]
            # The pattern counts modulo 2048 frames. Caught up before and after,
            # the stream played as much silence as the source lost across it.
            silence = sum(1 for index in STALL_FRAMES
                          if not any(walk.frames[index]))
            lost = jumped + round((silence - jumped) / (COUNTER_MASK + 1)) * (COUNTER_MASK + 1)
            print("%s: the %d ms reader stall lost about %d frames (%.0f ms; its catch-up played "
                  "%d frames of silence); elsewhere %d frames lost in %d gaps, and %d silences "
                  "where frames came late"
                  % (name, STALL_SECONDS * 1000, lost, lost / 48, silence, sum(elsewhere),
                     len(elsewhere), walk.late_silences))

    def stream_until_loss(self, lose):
        """Streams the application endpoints, loses something mid-run, then reads
        on for two seconds or until the stream ends. Wine reports the loss as
        Windows does (AUDCLNT_E_DEVICE_INVALIDATED) only when a packet was
        waiting as the stream died; otherwise its streams go quiet. Either way
        the run ends cleanly: with the one failure report and status 1, or with
        the reader's close, status 0. Returns the run and whether it ended by
        itself."""
        sources = [source for source in SOURCES if source[0] != "mic"]
        server = start_server_with_sources(self, sources)
        start_counted_feeds(self, server, sources, 20)
        channels = sum(source[2] for source in sources) + 2
        stream = StreamingProcess(["wine", EXECUTABLE], wine_environment(server),
                                  channels * 2 * FRAMES_PER_TICK)
        self.assertTrue(stream.read_blocks(20), stream.error)
        lose(server)
        ended_by_itself = not stream.read_blocks(200)
        if not ended_by_itself:
            stream.close_reader()
        status, _ = stream.wait()
        self.assertTrue(stream.error.startswith(b"slot=1 "), stream.error)
        if ended_by_itself:
            self.assertTrue(stream.error.endswith(EOL + DEVICE_INVALIDATED_REPORT), stream.error)
            self.assertEqual(stream.error.count(b" failed: "), 1, stream.error)
            self.assertEqual(status, 1)
        else:
            self.assertTrue(stream.error.endswith(b"sample_rate=48000" + EOL + STOPPED_LINE),
                            stream.error)
            self.assertEqual(status, 0)
        print("\n%s: %s" % (self.id().rsplit(".", 1)[-1],
                            "Wine reported it, the run ended with status 1" if ended_by_itself
                            else "Wine reported nothing, the run went on to its reader's close"))
        return stream, channels, ended_by_itself

    def test_a_source_that_disappears_ends_the_run_or_falls_silent(self):
        stream, channels, ended = self.stream_until_loss(lambda server: server.remove("app3"))
        if not ended:
            last = stream.blocks[-100:]
            self.assertTrue(all(sample == 0 for frame in frames_of(last, channels, 1, 2)
                                for sample in frame), "app3 after it went")
            self.assertTrue(any(frame[0] != 0 for frame in frames_of(last, channels, 0, 1)),
                            "app1 after app3 went")

    def test_an_audio_server_that_goes_away_ends_the_run_or_falls_silent(self):
        stream, channels, ended = self.stream_until_loss(lambda server: server.kill())
        if not ended:
            self.assertTrue(all(sample == 0 for frame in frames_of(stream.blocks[-100:],
                                                                   channels, 0, channels)
                                for sample in frame))

    def test_timer_figures(self):
        if TIMER_PROBE is None:
            self.skipTest("no timer probe given")
        probe = run(["wine", TIMER_PROBE, "500"], dict(os.environ, WINEDEBUG="-all"))
        self.assertEqual(probe.status, 0, probe.error)
        self.assertRegex(probe.output, rb"high-resolution waitable timer|Sleep with the timer")
        print("\ntick waits under Wine (the loop's own): " + probe.output.decode().replace(
            EOL.decode(), "; "))


if __name__ == "__main__":
    EXECUTABLE = sys.argv.pop(1)
    ANNOUNCE = sys.argv.pop(1)
    if sys.argv[1:2] == ["--timer-probe"]:
        TIMER_PROBE = sys.argv.pop(2)
        sys.argv.pop(1)
    unittest.main(verbosity=2)
