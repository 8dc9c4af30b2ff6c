"""One run of an ARM image on a QEMU PXA board, watched and steered from outside.

QEMU starts stopped (-S) and connects to two sockets this module listens on:
the qtest protocol, which reports each output line of an intercepted device
as it changes ("IRQ raise N" / "IRQ lower N") and drives its input lines, and
QMP, which finds devices in the QOM tree, reads the registers through the
human monitor and lets the board run ("cont").

The clock: with -qtest alone, QEMU 7.2 still runs the guest with TCG (the qtest
accelerator, whose clock moves only on "clock_step", must be asked for with
-accel qtest; Debian's build does not even have it, and it executes no guest
code). -accel tcg says so explicitly. "clock_step" is then refused, and none is
needed: with -icount shift=0,sleep=off the virtual clock counts instructions
and jumps over each idle period to the next timer event, as in the other
emulator tests, so the board's OS timer runs and its sleeps end while the
qtest socket only listens and drives lines.

Every wait is bounded by one deadline for the whole run; QEMU is killed when
the run ends, whatever happened.
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77  # CTest's SKIP_RETURN_CODE for these tests


def require_tool(path, package):
    """Exits with SKIP (or fails, where CI requires the emulator tests) when `path` is missing."""
    if path and (os.access(path, os.X_OK) or shutil.which(path)):
        return
    message = f"{path or 'a tool'} not found: sudo apt-get install {package}"
    if os.environ.get("GPIO_REQUIRE_EMULATOR_TESTS") == "1":
        sys.exit("FAILED: " + message)
    print("SKIPPED: " + message)
    sys.exit(SKIP)


class BoardError(Exception):
    pass


class _Lines:
    """Line reader on a socket whose every wait ends at the run's deadline."""

    def __init__(self, sock, deadline):
        self._sock = sock
        self._deadline = deadline
        self._buffer = b""

    def _remaining(self):
        left = self._deadline - time.monotonic()
        if left <= 0:
            raise BoardError("deadline passed waiting for QEMU")
        return left

    def readline(self):
        """The next line without its newline, or None at end of stream."""
        while b"\n" not in self._buffer:
            self._sock.settimeout(self._remaining())
            try:
                chunk = self._sock.recv(65536)
            except socket.timeout:
                raise BoardError("deadline passed waiting for QEMU") from None
            if not chunk:
                return None
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode()

    def send(self, text):
        self._sock.settimeout(self._remaining())
        self._sock.sendall(text.encode() + b"\n")


class QemuBoard:
    def __init__(self, qemu, machine, image, uart_path, semihosting=True, seconds=60):
        self.uart_path = uart_path
        self.irq_changes = []  # (line, level) in the order QEMU reported them
        self._deadline = time.monotonic() + seconds
        # Socket paths must stay under 108 bytes: a short temporary directory,
        # not the build tree.
        self._sockets_dir = tempfile.mkdtemp(prefix="qemu-board-")
        qtest_path = os.path.join(self._sockets_dir, "qtest")
        qmp_path = os.path.join(self._sockets_dir, "qmp")
        listeners = []
        for path in (qtest_path, qmp_path):
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            listener.bind(path)
            listener.listen(1)
            listeners.append(listener)
        if os.path.exists(uart_path):
            os.remove(uart_path)
        command = [qemu, "-M", machine, "-display", "none", "-monitor", "none",
                   "-serial", "file:" + uart_path, "-accel", "tcg",
                   "-icount", "shift=0,sleep=off", "-S",
                   "-qtest", "unix:" + qtest_path, "-qtest-log", "none",
                   "-qmp", "unix:" + qmp_path, "-kernel", image]
        if semihosting:
            command.append("-semihosting")
        self._stderr = open(uart_path + ".stderr", "w")
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                        stdout=self._stderr, stderr=self._stderr)
        try:
            connections = [self._accept(listener, command) for listener in listeners]
            self._qtest = _Lines(connections[0], self._deadline)
            self._qmp = _Lines(connections[1], self._deadline)
            self._qmp.readline()  # the greeting
            self.qmp("qmp_capabilities")
        except BaseException:
            self.close()
            raise

    def _accept(self, listener, command):
        """QEMU's connection to `listener`; fails early if QEMU has ended instead."""
        listener.settimeout(0.1)
        with listener:
            while True:
                try:
                    return listener.accept()[0]
                except socket.timeout:
                    if self.process.poll() is not None or time.monotonic() > self._deadline:
                        raise BoardError("QEMU did not connect: " + " ".join(command)
                                         + f" (see {self.uart_path}.stderr)") from None

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def close(self):
        """Kills QEMU if it still runs and waits for it to go."""
        if self.process.poll() is None:
            self.process.kill()
        try:
            self.process.wait(timeout=10)
        finally:
            self._stderr.close()
            shutil.rmtree(self._sockets_dir, ignore_errors=True)

    # QMP

    def qmp(self, command, **arguments):
        self._qmp.send(json.dumps({"execute": command, "arguments": arguments}))
        while True:
            line = self._qmp.readline()
            if line is None:
                raise BoardError(f"QEMU closed QMP during {command}")
            reply = json.loads(line)
            if "error" in reply:
                raise BoardError(f"{command}: {reply['error']}")
            if "return" in reply:
                return reply["return"]
            # anything else is an event (RESUME, STOP, ...)

    def find_device(self, qom_type):
        """QOM path of the one device of `qom_type`, wherever the board put it."""
        found = []
        parents = ["/machine"]
        for _depth in range(2):  # /machine/{unattached,peripheral,...}/device
            children = []
            for parent in parents:
                for entry in self.qmp("qom-list", path=parent):
                    if not entry["type"].startswith("child<"):
                        continue
                    path = parent + "/" + entry["name"]
                    if entry["type"] == f"child<{qom_type}>":
                        found.append(path)
                    children.append(path)
            parents = children
        if len(found) != 1:
            raise BoardError(f"expected one {qom_type}, found {found}")
        return found[0]

    def registers(self):
        """The core's registers as the monitor shows them, e.g. {'R13': 0xa0010000, ...}."""
        text = self.qmp("human-monitor-command", **{"command-line": "info registers"})
        values = {}
        for field in text.split():
            name, _, value = field.partition("=")
            if name.startswith("R") and name[1:].isdigit() and value:
                values[name] = int(value, 16)
        return values

    def run(self):
        self.qmp("cont")

    # qtest

    def qtest(self, command):
        self._qtest.send(command)
        while True:
            line = self._qtest.readline()
            if line is None:
                raise BoardError(f"QEMU closed qtest during {command}")
            if not self._record_irq(line):
                break
        if not line.startswith("OK"):
            raise BoardError(f"{command}: {line}")
        return line

    def _record_irq(self, line):
        words = line.split()
        if len(words) == 3 and words[0] == "IRQ" and words[1] in ("raise", "lower"):
            self.irq_changes.append((int(words[2]), 1 if words[1] == "raise" else 0))
            return True
        return False

    def wait_for_exit(self):
        """Collects the line changes until QEMU ends; its exit status."""
        while True:
            line = self._qtest.readline()
            if line is None:
                break
            if not self._record_irq(line):
                raise BoardError("unexpected from qtest: " + line)
        try:
            return self.process.wait(timeout=max(self._deadline - time.monotonic(), 0.001))
        except subprocess.TimeoutExpired:
            raise BoardError("QEMU did not end") from None

    def wait_for_uart(self, ending):
        """Waits until the UART output ends with `ending`; the output."""
        while True:
            with open(self.uart_path, "rb") as uart:
                text = uart.read()
            if text.endswith(ending):
                return text
            if self.process.poll() is not None:
                raise BoardError(f"QEMU ended ({self.process.returncode}) before {ending!r}")
            if time.monotonic() > self._deadline:
                raise BoardError(f"deadline passed waiting for {ending!r}; UART ends {text[-60:]!r}")
            time.sleep(0.02)
