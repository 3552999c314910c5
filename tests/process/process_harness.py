"""Shared pieces of the process-level tests: a private audio server (PulseAudio,
or PipeWire with pipewire-pulse) run by its script in this directory, feeds into
its sources, and a way to run a program binary and collect its exit status,
standard output and standard error as bytes."""

import os
import shlex
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).parent
RUN_TIMEOUT_SECONDS = 60
SCRIPT_TIMEOUT_SECONDS = 30
# The announcement pipe on Linux: an abstract socket of this name.
ANNOUNCEMENT_SOCKET = "VelmoraDSPAnnouncement"
# socat's address of that socket, for a writer.
ANNOUNCEMENT_SOCAT_ADDRESS = "ABSTRACT-CONNECT:" + ANNOUNCEMENT_SOCKET
# The "counted" feed pattern: channel tag t in the top 5 bits, the frame count
# modulo 2048 in the low 11.
COUNTER_MASK = 2047


def counted(tag, frame):
    """Sample `frame` of the counted pattern of channel tag `tag`, as signed 16 bits."""
    value = (tag << 11) | (frame & COUNTER_MASK)
    return value - 65536 if value >= 32768 else value


@dataclass
class Completed:
    status: int
    output: bytes
    error: bytes


class Feed:
    """A feed running in the background (see PrivateServer.start_feed). The
    process is the writer itself, so stop() ends the samples at once."""

    def __init__(self, process):
        self.process = process

    def wait(self, timeout=SCRIPT_TIMEOUT_SECONDS):
        """Waits for the feed to end; its exit status."""
        return self.process.wait(timeout=timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=SCRIPT_TIMEOUT_SECONDS)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.stop()


class PrivateServer:
    """An audio server of the test's own, stopped by stop() (and by the
    script's watchdog if the test process dies). Subclasses name the server's
    SCRIPT; START_OPTIONS go to its start command."""

    SCRIPT = None
    NAME = None

    def __init__(self, *start_options):
        self.directory = Path(tempfile.mkdtemp(prefix="velmoravad-process-")) / "server"
        started = subprocess.run(
            ["bash", str(HERE / self.SCRIPT), "start", *start_options, "--owner",
             str(os.getpid()), str(self.directory)],
            stdin=subprocess.DEVNULL, capture_output=True, text=True,
            timeout=SCRIPT_TIMEOUT_SECONDS)
        if started.returncode != 0:
            shutil.rmtree(self.directory.parent, ignore_errors=True)
            raise RuntimeError("the private %s server did not start:\n%s"
                               % (self.NAME, started.stderr))
        self.environment = dict(os.environ)
        for line in started.stdout.splitlines():
            name, _, value = shlex.split(line.removeprefix("export "))[0].partition("=")
            self.environment[name] = value

    def script(self, *arguments):
        return subprocess.run(["bash", str(HERE / self.SCRIPT), *arguments], check=True,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              env=self.environment, timeout=SCRIPT_TIMEOUT_SECONDS).stdout.strip()

    def add_source(self, name, description, channels, rate=48000):
        """Adds a source fed through a FIFO (see fifo and feed)."""
        self.script("add-source", name, description, str(channels), str(rate))

    def add_sink(self, name, description, channels, rate=48000):
        """Adds a null sink; its monitor source is NAME.monitor."""
        self.script("add-sink", name, description, str(channels), str(rate))

    def remove(self, name):
        self.script("remove", name)

    def fifo(self, name):
        """The FIFO that feeds source NAME."""
        return self.directory / (name + ".fifo")

    def _feed_command(self, name, pattern, frames, value, realtime):
        command = ["bash", str(HERE / self.SCRIPT), "feed"]
        if realtime:
            command.append("--realtime")
        return command + [name, pattern, str(frames), str(value)]

    def feed(self, name, pattern, frames, value=0, realtime=False):
        """Writes FRAMES frames of PATTERN into source NAME (or plays them
        through sink NAME) and returns when they are written."""
        subprocess.run(self._feed_command(name, pattern, frames, value, realtime), check=True,
                       stdin=subprocess.DEVNULL, capture_output=True, env=self.environment,
                       timeout=SCRIPT_TIMEOUT_SECONDS + frames / 48000)

    def start_feed(self, name, pattern, frames, value=0, realtime=True):
        """Starts a feed in the background, paced in real time unless told
        otherwise; stop() on the Feed (or leaving its with-block) ends it."""
        return Feed(subprocess.Popen(self._feed_command(name, pattern, frames, value, realtime),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, env=self.environment))

    def kill(self):
        """Kills the server outright, as a crash would; stop() still cleans up."""
        self.script("kill", str(self.directory))

    def stop(self):
        subprocess.run(["bash", str(HERE / self.SCRIPT), "stop", str(self.directory)],
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=SCRIPT_TIMEOUT_SECONDS)
        shutil.rmtree(self.directory.parent, ignore_errors=True)


class PrivatePulseServer(PrivateServer):
    """A PulseAudio server."""

    SCRIPT = "private_pulse_server.sh"
    NAME = "PulseAudio"


class PrivatePipeWireServer(PrivateServer):
    """PipeWire with wireplumber and pipewire-pulse, as desktops run it; with
    the start option --no-session-manager, no wireplumber (nothing links a
    stream to its source). Descriptions can hold no quotes or backslashes."""

    SCRIPT = "private_pipewire_server.sh"
    NAME = "PipeWire"


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


def run(command, environment, stdin=subprocess.DEVNULL, timeout=RUN_TIMEOUT_SECONDS):
    completed = subprocess.run(command, env=environment, stdin=stdin, capture_output=True,
                               timeout=timeout)
    return Completed(completed.returncode, completed.stdout, completed.stderr)


def layout_json(endpoints, application_channels, live_input_channels):
    channels = application_channels + live_input_channels + 2
    return ('{"endpoints":%d,"channels":%d,"applicationChannels":%d,"liveInputChannels":%d,'
            '"announcementChannels":2,"sampleRate":48000,"format":"S16LE"}'
            % (endpoints, channels, application_channels, live_input_channels)).encode()


USAGE = b"Usage: velmoravad-aggregate.exe [--list] [--live-input-id ENDPOINT_ID]"
