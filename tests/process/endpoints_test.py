"""velmoravad-endpoints against a private PulseAudio server, the Linux program
directly and the Windows .exe under Wine (whose audio driver refuses exclusive
mode: exactly the case the check must explain). What the tool says is held
against what velmoravad-aggregate itself does with the same endpoints: its
summary layout against a --list run, its failure against a streaming run's
report, and every id it lists against --live-input-id.

Usage: endpoints_test.py PATH_TO_velmoravad-endpoints PATH_TO_velmoravad-aggregate
(for .exe files, WINEPREFIX names a prefix made with `wine wineboot -i`)."""

import json
import os
import sys
import unittest

from process_harness import PrivatePulseServer, run

ENDPOINTS = None
AGGREGATE = None


def on_windows():
    return ENDPOINTS.endswith(".exe")


def skip_on_windows(test):
    """For cases that hold nothing of the platform: under Wine each run costs
    seconds, and the Linux program runs the same logic."""
    if on_windows():
        test.skipTest("the same logic runs in the Linux program's test")


class EndpointsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = PrivatePulseServer()
        cls.environment = dict(cls.server.environment)
        if on_windows():
            cls.environment.setdefault("WINEDEBUG", "-all")
            cls.environment["WINEPREFIX"] = os.environ["WINEPREFIX"]
        cls.server.add_source("app2", "VelmoraDSP Application 2 Output", 2)
        cls.server.add_source("near", "VelmoraDSP Application3 Output", 2)
        cls.server.add_source("app1", "VelmoraDSP Application 1 Output", 1)
        cls.server.add_source("mic", "Studio Mic \u00fc", 1)
        # Each run under Wine takes seconds: the survey is made once.
        cls.document, cls.status = cls.survey()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    @classmethod
    def run_program(cls, program, *arguments):
        command = ["wine", program] if on_windows() else [program]
        result = run(command + list(arguments), cls.environment)
        if on_windows():
            # Windows text mode ends lines with CR LF.
            result.output = result.output.replace(b"\r\n", b"\n")
            result.error = result.error.replace(b"\r\n", b"\n")
        return result

    @classmethod
    def survey(cls):
        result = cls.run_program(ENDPOINTS, "--json")
        assert result.error == b"", result.error
        return json.loads(result.output), result.status

    def test_listing_ordered_and_explained(self):
        document = self.document
        rows = [(row["role"], row["slot"], row["channels"], row["name"], row["note"])
                for row in document["endpoints"] if row["name"] != "PulseAudio"]
        self.assertEqual(rows, [
            ("application", 1, 1, "VelmoraDSP Application 1 Output", None),
            ("application", 2, 2, "VelmoraDSP Application 2 Output", None),
            ("liveInput", None, 1, "Studio Mic \u00fc", None),
            ("liveInput", None, 2, "VelmoraDSP Application3 Output",
             'no blank between "Application" and the slot number'),
        ])
        if not on_windows():
            self.assertEqual([row["id"] for row in document["endpoints"]],
                             ["app1", "app2", "mic", "near"])

    def test_every_listed_id_works_after_live_input_id(self):
        for row in self.document["endpoints"]:
            # Under Wine, where each run costs seconds, the one id stands for all.
            if row["role"] != "liveInput" or (on_windows() and row["name"] != "Studio Mic \u00fc"):
                continue
            listed = self.run_program(AGGREGATE, "--list", "--live-input-id", row["id"])
            self.assertEqual(listed.status, 0, listed.error)
            self.assertIn(("live_input channels=%d name=%s id=%s\n"
                           % (row["channels"], row["name"], row["id"])).encode(), listed.error)

    def test_summary_is_what_a_run_does(self):
        summary = self.document["summary"]
        if on_windows():
            # Wine refuses every exclusive capture format: the check says so,
            # with the words for it, exactly as the run then fails.
            for row in self.document["endpoints"]:
                if row["role"] == "application":
                    self.assertEqual(row["check"], "0x88890008")
                    self.assertRegex(row["advice"], r"^the endpoint does not take 16-bit 48000 Hz "
                                     r"with its own \d channels? \(its mix format is ")
            streamed = self.run_program(AGGREGATE)
            self.assertEqual(summary["failure"] + "\n", streamed.error.decode())
            self.assertEqual(self.status, 1)
        else:
            listed = self.run_program(AGGREGATE, "--list")
            self.assertEqual(json.dumps(summary["layout"], separators=(",", ":")) + "\n",
                             listed.output.decode())
            self.assertTrue(summary["runOpens"])
            self.assertEqual(self.status, 0)

    def test_table_for_people(self):
        result = self.run_program(ENDPOINTS)
        lines = result.output.decode().splitlines()
        self.assertRegex(lines[3], r"^ROLE +CHANNELS +NAME +ID +CHECK$")
        self.assertRegex(lines[4], r"^slot 1 +1  VelmoraDSP Application 1 Output  \S+ +"
                         + ("0x88890008$" if on_windows() else "ok$"))
        self.assertIn("    not an application endpoint: no blank between \"Application\" and the "
                      "slot number", lines)
        self.assertEqual(result.status, 1 if on_windows() else 0)

    def test_a_shared_slot_stops_a_run(self):
        skip_on_windows(self)
        self.server.add_source("dup", "VelmoraDSP Application 01 Output", 2)
        try:
            document, status = self.survey()
            self.assertEqual(document["summary"]["failure"],
                             "VelmoraDSP endpoint enumeration failed: 0x80070034")
            self.assertEqual(document["summary"]["advice"],
                             'slot 1 is taken by both "VelmoraDSP Application 1 Output" and '
                             '"VelmoraDSP Application 01 Output": rename one of them')
            self.assertEqual(status, 1)
        finally:
            self.server.remove("dup")


class NoApplicationEndpointTest(unittest.TestCase):
    def test_no_application_endpoint(self):
        skip_on_windows(self)
        server = PrivatePulseServer()
        try:
            server.add_source("line", "Line In", 2)
            result = run([ENDPOINTS, "--json"], server.environment)
            summary = json.loads(result.output)["summary"]
            self.assertEqual(summary["failure"], "VelmoraDSP endpoint enumeration failed: 0x80070490")
            self.assertEqual(result.status, 1)
        finally:
            server.stop()


if __name__ == "__main__":
    AGGREGATE = sys.argv.pop(2)
    ENDPOINTS = sys.argv.pop(1)
    unittest.main(verbosity=2)
