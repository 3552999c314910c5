"""Shared pieces of the process-level tests: a private audio server (PulseAudio,
or PipeWire with pipewire-pulse) run by its script in this directory, feeds into
its sources, a way to run a program binary and collect its exit status,
standard output and standard error as bytes, and a reader of a program's
stream that stamps every block as it arrives."""

import os
import re
import shlex
import shutil
import struct
import subprocess
import tempfile
import threading
import time
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

# The program's output blocks.
FRAMES_PER_TICK = 480
FRAMES_PER_SECOND = 48000
TICK_SECONDS = FRAMES_PER_TICK / FRAMES_PER_SECOND


# An endpoint id as Wine's audio driver makes them, and the end of a line in
# Windows text mode, for the Windows programs under Wine.
WINE_ENDPOINT_ID = (rb"\{0\.0\.1\.00000000\}\."
                    rb"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}")
WINDOWS_EOL = b"\r\n"


def wine_environment(server):
    """The environment of a Windows program under Wine (in the prefix that
    WINEPREFIX names) as a client of `server`."""
    environment = dict(server.environment, WINEPREFIX=os.environ["WINEPREFIX"])
    environment.setdefault("WINEDEBUG", "-all")
    return environment


def wine_endpoint_id(server, executable, name, channels):
    """The id that Wine gives the endpoint of a source NAME of `server` (none
    yet), which it keeps to the source's name: such a source is added for a
    moment, named like an application endpoint so that the Windows program
    `executable` shows its id in a status line, and removed again."""
    server.add_source(name, "VelmoraDSP Application 9 Output", channels)
    try:
        listed = run(["wine", executable, "--list"], wine_environment(server))
    finally:
        server.remove(name)
    found = re.search(rb"slot=9 channels=%d name=VelmoraDSP Application 9 Output id=(%s)%s"
                      % (channels, WINE_ENDPOINT_ID, WINDOWS_EOL), listed.error)
    if not found:
        raise RuntimeError("no id for %s in %r" % (name, listed.error))
    return found.group(1)


def counted(tag, frame):
    """Sample `frame` of the counted pattern of channel tag `tag`, as signed 16 bits."""
    value = (tag << 11) | (frame & COUNTER_MASK)
    return value - 65536 if value >= 32768 else value


def counted_stereo(tag, frames):
    """`frames` frames of raw s16le stereo: the counted pattern of tags `tag`
    and `tag` + 1, as an announcement clip."""
    return b"".join(struct.pack("<hh", counted(tag, frame), counted(tag + 1, frame))
                    for frame in range(frames))


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


def start_server_with_sources(test, sources, server_class=PrivatePulseServer):
    """A private server with `sources` ((name, description, channels, tag) each)
    added in their order, stopped when `test` cleans up."""
    server = server_class()
    test.addCleanup(server.stop)
    for name, description, channels, _ in sources:
        server.add_source(name, description, channels)
    return server


def start_counted_feeds(test, server, sources, seconds):
    """The counted feed of each of `sources` for `seconds`, in real time, each
    stopped when `test` cleans up; by source name."""
    feeds = {}
    for name, _, _, tag in sources:
        feeds[name] = server.start_feed(name, "counted", seconds * FRAMES_PER_SECOND, tag)
        test.addCleanup(feeds[name].stop)
    return feeds


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


class StreamingProcess:
    """A streaming program whose standard output is read block by block, each
    block stamped with the monotonic clock as its last byte arrives (the pipe is
    read unbuffered, so that a stamp is not a read-ahead's); its standard error
    is gathered as it comes."""

    def __init__(self, command, environment, block_bytes):
        self.block_bytes = block_bytes
        self.started = time.monotonic()
        self.process = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        bufsize=0)
        self.error = b""
        self.error_arrival = None  # of the last line so far
        self.error_reader = threading.Thread(target=self._gather_error)
        self.error_reader.start()
        self.blocks = []
        self.arrivals = []

    def _gather_error(self):
        for line in self.process.stderr:
            self.error += line
            self.error_arrival = time.monotonic()

    def _read_block(self):
        block = b""
        while len(block) < self.block_bytes:
            chunk = self.process.stdout.read(self.block_bytes - len(block))
            if not chunk:
                return None
            block += chunk
        return block

    def read_blocks(self, count, stall_after=None, stall_seconds=0.3):
        """Reads `count` more blocks, stalling once for `stall_seconds` after
        block number `stall_after` (counted from 1); False if the stream ended
        first."""
        for _ in range(count):
            block = self._read_block()
            if block is None:
                return False
            self.blocks.append(block)
            self.arrivals.append(time.monotonic())
            if len(self.blocks) == stall_after:
                time.sleep(stall_seconds)
        return True

    def close_reader(self):
        """Closes standard output as a reader that has had enough; the time it
        closed."""
        self.process.stdout.close()
        return time.monotonic()

    def wait(self, timeout=RUN_TIMEOUT_SECONDS):
        """The exit status and the time the program was seen to end."""
        try:
            status = self.process.wait(timeout=timeout)
            ended = time.monotonic()
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            self.error_reader.join()
            self.process.stdout.close()
            self.process.stderr.close()
        return status, ended


def frames_of(blocks, channels, first_channel, count):
    """Channels first_channel .. first_channel + count - 1 of every whole frame
    of `blocks` (interleaved 16-bit samples of `channels` channels), as tuples;
    a part frame at the end (as a recording stopped mid-frame leaves) is left out."""
    data = b"".join(blocks)
    samples = struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2])
    whole = len(samples) - len(samples) % channels
    return [samples[start:start + count] for start in range(first_channel, whole, channels)]


def schedule_lateness(arrivals):
    """How late each block of a stream on the absolute 10 ms schedule arrived
    (seconds), the schedule's start taken as the earliest-arriving block's: no
    block leaves before its deadline, so the least late one lies on it."""
    offsets = [arrival - index * TICK_SECONDS for index, arrival in enumerate(arrivals)]
    start = min(offsets)
    return [offset - start for offset in offsets]


def frames_per_second(arrivals, edge_blocks=100):
    """The long-run rate of blocks that arrived at `arrivals`: the frames
    written between the least late of the first and of the last `edge_blocks`
    blocks, over the time between them. A stall of the reader or the machine
    only ever makes blocks later, so these two lie on the program's schedule."""
    def offset(index):
        return arrivals[index] - index * TICK_SECONDS
    first = min(range(edge_blocks), key=offset)
    last = min(range(len(arrivals) - edge_blocks, len(arrivals)), key=offset)
    return (last - first) * FRAMES_PER_TICK / (arrivals[last] - arrivals[first])
