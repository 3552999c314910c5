"""Shared pieces of the process-level tests: a private PulseAudio server run by
private_pulse_server.sh, and a way to run a program binary and collect its
exit status, standard output and standard error as bytes."""

import os
import shlex
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

SERVER_SCRIPT = Path(__file__).with_name("private_pulse_server.sh")
RUN_TIMEOUT_SECONDS = 60


@dataclass
class Completed:
    status: int
    output: bytes
    error: bytes


class PrivatePulseServer:
    """A PulseAudio server of the test's own, stopped when the test ends (and by
    the script's watchdog if the test process dies)."""

    def __init__(self):
        self.directory = Path(tempfile.mkdtemp(prefix="velmoravad-process-")) / "pulse"
        started = subprocess.run(
            ["bash", str(SERVER_SCRIPT), "start", "--owner", str(os.getpid()), str(self.directory)],
            capture_output=True, text=True, timeout=30)
        if started.returncode != 0:
            raise RuntimeError("the private PulseAudio server did not start:\n" + started.stderr)
        exports = started.stdout
        self.environment = dict(os.environ)
        for line in exports.splitlines():
            name, _, value = shlex.split(line.removeprefix("export "))[0].partition("=")
            self.environment[name] = value

    def script(self, *arguments):
        return subprocess.run(["bash", str(SERVER_SCRIPT), *arguments], check=True,
                              capture_output=True, text=True, env=self.environment,
                              timeout=30).stdout.strip()

    def add_source(self, name, description, channels):
        self.script("add-source", name, description, str(channels))

    def remove(self, name):
        self.script("remove", name)

    def stop(self):
        subprocess.run(["bash", str(SERVER_SCRIPT), "stop", str(self.directory)],
                       capture_output=True, timeout=30)
        shutil.rmtree(self.directory.parent, ignore_errors=True)


def run_until_read(command, environment, byte_count):
    """Runs a streaming program, reads `byte_count` bytes of its standard output,
    then closes the pipe as a reader that has had enough, and waits for it."""
    process = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        output = b""
        while len(output) < byte_count:
            chunk = process.stdout.read(byte_count - len(output))
            if not chunk:
                break
            output += chunk
        process.stdout.close()
        error = process.stderr.read()
        status = process.wait(timeout=RUN_TIMEOUT_SECONDS)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    return Completed(status, output, error)


def run(command, environment, stdin=subprocess.DEVNULL):
    completed = subprocess.run(command, env=environment, stdin=stdin, capture_output=True,
                               timeout=RUN_TIMEOUT_SECONDS)
    return Completed(completed.returncode, completed.stdout, completed.stderr)


def layout_json(endpoints, application_channels, live_input_channels):
    channels = application_channels + live_input_channels + 2
    return ('{"endpoints":%d,"channels":%d,"applicationChannels":%d,"liveInputChannels":%d,'
            '"announcementChannels":2,"sampleRate":48000,"format":"S16LE"}'
            % (endpoints, channels, application_channels, live_input_channels)).encode()


USAGE = b"Usage: velmoravad-aggregate.exe [--list] [--live-input-id ENDPOINT_ID]"
