"""The Windows program under Wine against a private PulseAudio server. Wine's
audio driver offers the server's sources as Core Audio endpoints, with names
unchanged and GUID ids of its own, which the tests read from the status lines.
Wine's driver has no exclusive mode, so a streaming run fails to open the
application endpoints; the listing, the live-input lookup and the failure
reports are checked here (wine_streaming_test.py streams the test build that
opens them shared).

Usage: windows_binary_test.py PATH_TO_velmoravad-aggregate.exe
(WINEPREFIX names a prefix made with `wine wineboot -i`.)"""

import re
import sys
import unittest

from process_harness import (USAGE, WINDOWS_EOL as EOL, WINE_ENDPOINT_ID as WINE_ID,
                             PrivatePulseServer, layout_json, run, wine_endpoint_id,
                             wine_environment)

EXECUTABLE = None
APPLICATION_LINES = (
    rb"slot=1 channels=1 name=VelmoraDSP Application 1 Output id=" + WINE_ID + EOL +
    rb"slot=2 channels=2 name=VelmoraDSP Application 2 Output id=" + WINE_ID + EOL)


class WindowsBinaryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = PrivatePulseServer()
        cls.environment = wine_environment(cls.server)
        cls.server.add_source("app2", "VelmoraDSP Application 2 Output", 2)
        cls.server.add_source("line", "Line In", 2)
        cls.server.add_source("app1", "VelmoraDSP Application 1 Output", 1)
        cls.microphone_id = wine_endpoint_id(cls.server, EXECUTABLE, "mic", 1).decode()
        cls.server.add_source("mic", "Studio Mic \u00fc", 1)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    @classmethod
    def run_program(cls, *arguments):
        return run(["wine", EXECUTABLE, *arguments], cls.environment)

    def test_list_prints_the_layout(self):
        result = self.run_program("--list")
        self.assertRegex(result.error, rb"^" + APPLICATION_LINES + rb"$")
        self.assertEqual(result.output, layout_json(2, 3, 0) + EOL)
        self.assertEqual(result.status, 0)

    def test_live_input_by_wine_endpoint_id(self):
        result = self.run_program("--list", "--live-input-id", self.microphone_id)
        # The name leaves as UTF-8, whatever Wine made of it on the way.
        self.assertRegex(result.error, rb"^" + APPLICATION_LINES + re.escape(
            "live_input channels=1 name=Studio Mic \u00fc id=".encode() +
            self.microphone_id.encode() + EOL) + rb"$")
        self.assertEqual(result.output, layout_json(2, 3, 1) + EOL)
        self.assertEqual(result.status, 0)

    def test_application_endpoint_id_as_live_input_is_refused(self):
        listed = self.run_program("--list")
        application_id = re.search(rb"slot=2 [^\r\n]* id=(" + WINE_ID + rb")", listed.error).group(1)
        result = self.run_program("--live-input-id", application_id.decode())
        self.assertEqual(result.error,
                         b"Live input cannot be a VelmoraDSP application endpoint." + EOL)
        self.assertEqual(result.status, 2)

    def test_unknown_live_input_id_fails_the_lookup(self):
        result = self.run_program("--list", "--live-input-id", "{0.0.1.00000000}.{nothing}")
        self.assertRegex(result.error, rb"^" + APPLICATION_LINES)
        # Wine answers an unknown id with E_INVALIDARG where Windows gives 0x80070490.
        self.assertRegex(result.error,
                         rb"Live input endpoint lookup failed: 0x80070(057|490)" + EOL + rb"$")
        self.assertEqual(result.output, b"")
        self.assertEqual(result.status, 1)

    def test_exclusive_capture_is_unsupported_under_wine(self):
        result = self.run_program()
        self.assertEqual(result.error, b"Capture endpoint initialization failed: 0x88890008" + EOL)
        self.assertEqual(result.output, b"")
        self.assertEqual(result.status, 1)

    def test_refused_command_line(self):
        result = self.run_program("--list", "--list")
        self.assertEqual(result.error, USAGE + EOL)
        self.assertEqual(result.status, 2)


class WindowsNoEndpointTest(unittest.TestCase):
    def test_no_application_endpoint(self):
        server = PrivatePulseServer()
        try:
            server.add_source("line", "Line In", 2)
            result = run(["wine", EXECUTABLE, "--list"], wine_environment(server))
            self.assertEqual(result.error,
                             b"VelmoraDSP endpoint enumeration failed: 0x80070490" + EOL)
            self.assertEqual(result.output, b"")
            self.assertEqual(result.status, 1)
        finally:
            server.stop()


if __name__ == "__main__":
    EXECUTABLE = sys.argv.pop(1)
    unittest.main(verbosity=2)
