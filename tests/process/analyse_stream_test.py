"""scripts/analyse-stream, which makes scripts/demo a smoke test, passes a
recording only when every channel carries its own tone.

Usage: analyse_stream_test.py PATH_TO_analyse-stream"""

import math
import subprocess
import sys
import tempfile
import unittest
import wave
from pathlib import Path

ANALYSE_STREAM = None


def write_tones(path, frequencies):
    """Half a second of 16-bit PCM at 48 kHz, one tone per channel; 0 Hz is silence."""
    with wave.open(str(path), "wb") as file:
        file.setnchannels(len(frequencies))
        file.setsampwidth(2)
        file.setframerate(48000)
        file.writeframes(b"".join(
            round(8000 * math.sin(2 * math.pi * frequency * frame / 48000)).to_bytes(
                2, "little", signed=True)
            for frame in range(24000) for frequency in frequencies))


class AnalyseStreamTest(unittest.TestCase):
    def test_status_by_what_each_channel_carries(self):
        named = ("slot 1:500", "slot 1:1000", "announcement:1500")
        cases = (  # recorded tones, channels marked, status
            ((500, 1000, 1500), 0, 0),
            ((1000, 500, 1500), 2, 1),
            ((500, 1000, 0), 1, 1),
        )
        with tempfile.TemporaryDirectory() as directory:
            recording = Path(directory) / "recording.wav"
            for recorded, marked, status in cases:
                with self.subTest(recorded=recorded):
                    write_tones(recording, recorded)
                    result = subprocess.run([sys.executable, ANALYSE_STREAM, recording, *named],
                                            capture_output=True, text=True, timeout=60)
                    self.assertEqual(result.returncode, status, result.stdout + result.stderr)
                    self.assertEqual(result.stdout.count("NOT ITS TONE"), marked)


if __name__ == "__main__":
    ANALYSE_STREAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
