"""The Linux program against private PulseAudio and PipeWire servers: the
channel layout, status lines, refusals, failure reports and exit statuses, byte
for byte, the same through either server.

Usage: linux_binary_test.py PATH_TO_velmoravad-aggregate"""

import sys
import unittest

from process_harness import (USAGE, PrivatePipeWireServer, PrivatePulseServer, layout_json,
                             run, run_until_read)

BINARY = None

APPLICATION_LINES = (
    b"slot=1 channels=1 name=VelmoraDSP Application 1 Output id=app1\n"
    b"slot=2 channels=4 name=VelmoraDSP Application 2 Output (2) id=app2\n"
    b"slot=7 channels=6 name=VelmoraDSP Application 07 Output id=app7\n")


class LinuxBinaryTest(unittest.TestCase):
    SERVER = PrivatePulseServer

    @classmethod
    def setUpClass(cls):
        cls.server = cls.SERVER()
        # Application endpoints in scrambled slot order, with different channel
        # counts, among sources whose names do not match.
        cls.server.add_source("app7", "VelmoraDSP Application 07 Output", 6)
        cls.server.add_source("line", "Line In", 2)
        cls.server.add_source("app2", "VelmoraDSP Application 2 Output (2)", 4)
        cls.server.add_source("lower", "velmoradsp application 3 output", 2)
        cls.server.add_source("app1", "VelmoraDSP Application 1 Output", 1)
        cls.server.add_source("mic", "Studio Mic \u00fc", 1)
        cls.server.add_source("almost", "VelmoraDSP Application 5Output", 2)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def run_program(self, *arguments):
        return run([BINARY, *arguments], self.server.environment)

    def test_list_prints_the_layout_after_one_line_per_endpoint(self):
        result = self.run_program("--list")
        self.assertEqual(result.error, APPLICATION_LINES)
        self.assertEqual(result.output, layout_json(3, 11, 0) + b"\n")
        self.assertEqual(result.status, 0)

    def test_live_input_by_source_name(self):
        result = self.run_program("--live-input-id", "mic", "--list")
        self.assertEqual(result.error,
                         APPLICATION_LINES + "live_input channels=1 name=Studio Mic \u00fc id=mic\n"
                         .encode())
        self.assertEqual(result.output, layout_json(3, 11, 1) + b"\n")
        self.assertEqual(result.status, 0)

    def test_monitor_of_a_sink_is_a_capture_endpoint(self):
        self.server.script("add-sink", "speakers", "Speakers", "2")
        try:
            result = self.run_program("--list", "--live-input-id", "speakers.monitor")
            self.assertEqual(result.status, 0, result.error)
            self.assertIn(b"live_input channels=2 name=Monitor of Speakers id=speakers.monitor\n",
                          result.error)
        finally:
            self.server.remove("speakers")

    def test_a_run_streams_until_its_reader_closes(self):
        block = (11 + 2 + 2) * 960
        result = run_until_read([BINARY, "--live-input-id", "line"], self.server.environment,
                                3 * block)
        self.assertEqual(result.error,
                         APPLICATION_LINES + b"live_input channels=2 name=Line In id=line\n"
                         b"aggregate_flushed milliseconds=2500\n"
                         b"aggregate_running endpoints=3 application_channels=11 "
                         b"live_input_channels=2 announcement_channels=2 channels=15 "
                         b"sample_rate=48000\n"
                         b"aggregate_stopped reason=stdout_closed\n")
        self.assertEqual(len(result.output), 3 * block)
        self.assertEqual(result.status, 0)

    def test_unknown_live_input_id_fails_the_lookup(self):
        result = self.run_program("--list", "--live-input-id", "nothing-by-this-name")
        self.assertEqual(result.error,
                         APPLICATION_LINES + b"Live input endpoint lookup failed: 0x80070490\n")
        self.assertEqual(result.output, b"")
        self.assertEqual(result.status, 1)

    def test_live_input_that_is_an_application_endpoint_is_refused(self):
        result = self.run_program("--live-input-id", "app2")
        self.assertEqual(result.error,
                         b"Live input cannot be a VelmoraDSP application endpoint.\n")
        self.assertEqual(result.output, b"")
        self.assertEqual(result.status, 2)

    def test_refused_command_lines(self):
        for arguments in (["--list", "--list"], ["--live-input-id"], ["--List"], ["extra"],
                          ["--live-input-id", "mic", "--live-input-id", "line"]):
            with self.subTest(arguments=arguments):
                result = self.run_program(*arguments)
                self.assertEqual(result.error, USAGE + b"\n")
                self.assertEqual(result.output, b"")
                self.assertEqual(result.status, 2)


class LinuxBinaryOnPipeWireTest(LinuxBinaryTest):
    SERVER = PrivatePipeWireServer


class EndpointSetTest(unittest.TestCase):
    """Runs against servers whose endpoints make discovery fail."""

    SERVER = PrivatePulseServer

    def setUp(self):
        self.server = self.SERVER()

    def tearDown(self):
        self.server.stop()

    def test_no_application_endpoint(self):
        self.server.add_source("line", "Line In", 2)
        self.server.add_source("lower", "VelmoraDSP Application 0 Output", 2)
        result = run([BINARY, "--list"], self.server.environment)
        self.assertEqual(result.error, b"VelmoraDSP endpoint enumeration failed: 0x80070490\n")
        self.assertEqual(result.output, b"")
        self.assertEqual(result.status, 1)

    def test_duplicate_slot(self):
        self.server.add_source("one", "VelmoraDSP Application 1 Output", 2)
        self.server.add_source("also-one", "VelmoraDSP Application 01 Output", 2)
        result = run([BINARY, "--list"], self.server.environment)
        self.assertEqual(result.error, b"VelmoraDSP endpoint enumeration failed: 0x80070034\n")
        self.assertEqual(result.output, b"")
        self.assertEqual(result.status, 1)

    def test_no_server(self):
        self.server.stop()
        result = run([BINARY, "--list"], self.server.environment)
        self.assertRegex(result.error, rb"^VelmoraDSP endpoint enumeration failed: 0x8[0-9A-F]{7}\n$")
        self.assertEqual(result.status, 1)


class EndpointSetOnPipeWireTest(EndpointSetTest):
    SERVER = PrivatePipeWireServer


class PipeWireWithoutSessionManagerTest(unittest.TestCase):
    """With no session manager nothing links a record stream to its source, so
    pipewire-pulse never answers its creation: listing needs no stream and
    works; a run fails once the stream set-up has waited the 5 s bound on every
    wait for the server."""

    def setUp(self):
        self.server = PrivatePipeWireServer("--no-session-manager")
        self.server.add_source("app1", "VelmoraDSP Application 1 Output", 2)

    def tearDown(self):
        self.server.stop()

    def test_list_needs_no_stream(self):
        result = run([BINARY, "--list"], self.server.environment)
        self.assertEqual(result.error,
                         b"slot=1 channels=2 name=VelmoraDSP Application 1 Output id=app1\n")
        self.assertEqual(result.output, layout_json(1, 2, 0) + b"\n")
        self.assertEqual(result.status, 0)

    def test_run_fails_once_when_no_stream_is_set_up(self):
        # Well within the timeout: the program gives up after 5 s.
        result = run([BINARY], self.server.environment, timeout=30)
        self.assertEqual(result.error, b"Capture endpoint initialization failed: 0x88890010\n")
        self.assertEqual(result.output, b"")
        self.assertEqual(result.status, 1)


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
