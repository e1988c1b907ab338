"""End-to-end tests: run the built kestrave on small scenario files and check
standard output, standard error, the exit status and every byte of the file.

KESTRAVE names the executable; KESTRAVE_EMULATOR, if set, is a
semicolon-separated command that runs it (wine for a Windows build).
"""

import os
import pathlib
import re
import resource
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest

KESTRAVE = os.environ["KESTRAVE"]
# Windows builds: a program that starts kestrave.exe in a console of its own.
CONSOLE_STARTER = os.environ.get("KESTRAVE_CONSOLE_STARTER")
EMULATOR = [part for part in os.environ.get("KESTRAVE_EMULATOR", "").split(";") if part]
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
WINDOWS = KESTRAVE.lower().endswith(".exe")
# Text-mode console streams end lines with the platform's newline.
NEWLINE = "\r\n" if WINDOWS else "\n"

USAGE = "\nUsage: kestrave <filename>\n"
NO_NIGHT_TURNS = "There were no night turns in {path}\n"
ONE_NIGHT_TURN = "1 night turn was changed to daylight in {path}\n"
NIGHT_TURNS = "{count} night turns were changed to daylight in {path}\n"


def table_offset(extents, extra):
    a, b = extents
    return 37 * a * b + 900 + (0 if extra == 0x7FFF else 30 * extra + 4)


def scenario(extents=(2, 3), extra=0x7FFF, table=(), length=1300):
    """A scenario file's bytes: the header, opaque filler, and the table
    entries given, at the position the header names. The bytes just before
    and just after the table hold 1, which a pass that strays from the 30
    entries would turn into 0."""
    a, b = extents
    offset = table_offset(extents, extra)
    data = bytearray((i * 151 + 7) & 0xFF for i in range(length))
    for neighbour in (offset - 1, offset + 30):
        if 8 <= neighbour < length:
            data[neighbour] = 1
    data[0:8] = struct.pack("<HHi", a, b, extra)
    for i, value in enumerate(table):
        if offset + i < length:
            data[offset + i] = value
    return bytes(data), offset


def converted(data, offset):
    """The bytes the file must hold after a conversion."""
    out = bytearray(data)
    for i in range(offset, min(offset + 30, len(out))):
        if out[i] == 1:
            out[i] = 0
    return bytes(out)


def report(count, path):
    if count == 0:
        return NO_NIGHT_TURNS.format(path=path)
    if count == 1:
        return ONE_NIGHT_TURN.format(path=path)
    return NIGHT_TURNS.format(count=count, path=path)


class Run:
    """A finished run. On Windows each CR LF of its output reads as a newline
    and a bare LF as <LF>, so a line without the platform's newline never
    matches."""

    def __init__(self, completed):
        self.status = completed.returncode
        self.out = self.text(completed.stdout or b"")
        self.err = self.text(completed.stderr)

    @staticmethod
    def text(raw):
        text = raw.decode("utf-8")
        if NEWLINE != "\n":
            text = text.replace("\n", "<LF>").replace("\r<LF>", "\n")
        return text


class KestraveCase(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="kestrave-"))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(self.dir)], check=False)

    def write(self, name, data):
        (self.dir / name).write_bytes(data)
        return name

    def read(self, name):
        return (self.dir / name).read_bytes()

    def kestrave(self, *args, prefix=(), program=KESTRAVE, timeout=60, **options):
        """Runs kestrave in the fixture folder, so paths are relative."""
        options.setdefault("stdout", subprocess.PIPE)
        completed = subprocess.run(
            [*prefix, *EMULATOR, program, *args],
            cwd=self.dir,
            stdin=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            timeout=timeout,
            check=False,
            **options,
        )
        return Run(completed)

    def kestrave_on_terminal(self, *args):
        """Runs kestrave with a terminal as its console and returns the text
        the terminal shows. Wine's console draws a space as a cursor move and
        brackets each character with cursor hiding; only the text is kept."""
        master, slave = os.openpty()
        process = subprocess.Popen(
            [*EMULATOR, KESTRAVE, *args], cwd=self.dir, stdin=slave, stdout=slave, stderr=slave, start_new_session=True
        )
        os.close(slave)
        shown, quiet_since, deadline = b"", None, time.monotonic() + 60
        # Wine's own services may keep the terminal open after kestrave ends,
        # so reading stops once it has ended and the terminal has gone quiet.
        while time.monotonic() < deadline and (quiet_since is None or time.monotonic() - quiet_since < 0.5):
            if select.select([master], [], [], 0.1)[0]:
                try:
                    chunk = os.read(master, 4096)
                except OSError:
                    chunk = b""
                if not chunk:
                    break
                shown += chunk
                quiet_since = None if process.poll() is None else time.monotonic()
            elif process.poll() is not None and quiet_since is None:
                quiet_since = time.monotonic()
        os.close(master)
        status = process.wait(timeout=10)
        text = shown.decode("utf-8")
        text = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), text)
        text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", "", text)
        return status, re.sub(r"\r+\n", "\n", text)

    def assertConverted(self, run, path, count):
        self.assertEqual((run.status, run.out, run.err), (0, report(count, path), ""))

    def assertFails(self, run, message):
        self.assertEqual((run.status, run.out, run.err), (1, "", message))


class Reports(KestraveCase):
    """A completed pass: the count in its three forms, and the file's bytes."""

    CASES = [
        # name, table entries, file length, night turns changed
        ("three nights among other values", [1, 0, 2, 1, 255, 0, 0, 1], 1300, 3),
        ("every turn a night", [1] * 30, 1300, 30),
        ("one night", [0] * 29 + [1], 1300, 1),
        ("no nights, values that are neither", [0, 2, 255, 128, 0x10], 1300, 0),
        # Read in text mode, Windows' C library would take Ctrl-Z for the end
        # of the file and CR LF for one newline.
        ("Ctrl-Z and CR LF among nights", [1, 0x1A, 1, 0x0D, 0x0A, 1, 0x1A, 0x0D, 1], 1300, 4),
        ("table ends mid-file", [1] * 30, 1122 + 10, 10),
        ("table starts at the end of the file", [1] * 30, 1122, 0),
        ("table wholly past the end", [1] * 30, 1000, 0),
    ]

    def test_report_forms_and_bytes(self):
        for name, table, length, count in self.CASES:
            with self.subTest(name):
                data, offset = scenario(table=table, length=length)
                path = self.write("turns.scn", data)
                os.utime(self.dir / path, (1_000_000, 1_000_000))
                run = self.kestrave(path)
                self.assertConverted(run, path, count)
                self.assertEqual(self.read(path), converted(data, offset))
                if count == 0:
                    # Nothing to change: nothing is written at all.
                    self.assertEqual((self.dir / path).stat().st_mtime, 1_000_000)

    def test_header_forms_place_the_table(self):
        def placed(extents, extra):
            return scenario(extents, extra, [1, 1, 0, 1], length=table_offset(extents, extra) + 40)

        cases = [
            # name, (file bytes, table position), night turns changed
            ("no extents, no extra records", placed((0, 0), 0x7FFF), 3),
            ("no extents, zero count", placed((0, 0), 0), 3),
            ("extents and a count", placed((3, 4), 5), 3),
            ("a negative count", placed((20, 20), -1), 3),
            # A file of the header alone, which places the table on itself:
            # 37 * 1 * 8 - 30 * 40 + 904 = 0. Its first byte is a night turn.
            ("the header alone, table at 0", (bytes.fromhex("01000800d8ffffff"), 0), 1),
        ]
        for name, (data, offset), count in cases:
            with self.subTest(name):
                path = self.write("placed.scn", data)
                self.assertConverted(self.kestrave(path), path, count)
                self.assertEqual(self.read(path), converted(data, offset))

    def test_second_run_changes_nothing(self):
        data, offset = scenario(table=[1, 1, 0, 1])
        path = self.write("twice.scn", data)
        self.assertConverted(self.kestrave(path), path, 3)
        after_first = self.read(path)
        self.assertConverted(self.kestrave(path), path, 0)
        self.assertEqual(self.read(path), after_first)
        self.assertEqual(after_first, converted(data, offset))

    def test_paths_are_printed_unchanged(self):
        for path in ["night raid.scn", "100% dark %s %d.scn", "-dash.scn", "dots..scn", "日本 ü.scn"]:
            with self.subTest(path):
                data, _ = scenario(table=[1, 0, 1])
                self.write(path, data)
                self.assertConverted(self.kestrave(path), path, 2)

    def test_path_past_260_characters(self):
        # Windows' old MAX_PATH; kestrave.exe declares itself long-path aware.
        folder = pathlib.Path(*["night-" + "x" * 94] * 3)
        (self.dir / folder).mkdir(parents=True)
        path = str(folder / "long.scn")
        self.assertGreater(len(path), 260)
        data, offset = scenario(table=[1, 1])
        self.write(path, data)
        self.assertConverted(self.kestrave(path), path, 2)
        self.assertEqual(self.read(path), converted(data, offset))

    def test_path_on_a_terminal(self):
        # A Windows console shows text in its own code page, not as UTF-8.
        data, _ = scenario(table=[1])
        path = self.write("日本 ü.scn", data)
        self.assertEqual(self.kestrave_on_terminal(path), (0, report(1, path)))

    def test_shipped_example(self):
        data = (EXAMPLES / "harbour-night.scn").read_bytes()
        path = self.write("harbour-night.scn", data)
        self.assertConverted(self.kestrave(path), path, 5)
        self.assertEqual(self.read(path), converted(data, 37 * 2 * 3 + 900))

    def test_table_just_below_two_gib_in_a_sparse_file(self):
        # The table's last entry is at 2^31 - 1 in a 3 GiB file that is
        # almost all hole: a run must neither read nor rewrite the file.
        offset = 2**31 - 30
        header = struct.pack("<HHi", 2, 11, 71582730)
        path = self.dir / "big.scn"
        with open(path, "wb") as f:
            f.write(header)
            f.seek(offset)
            f.write(bytes([1, 0, 1] + [0] * 27))
            f.truncate(3 * 2**30)
        blocks = path.stat().st_blocks
        self.assertConverted(self.kestrave("big.scn"), "big.scn", 2)
        self.assertEqual(path.stat().st_size, 3 * 2**30)
        self.assertLessEqual(path.stat().st_blocks, blocks)
        with open(path, "rb") as f:
            f.seek(offset - 1)
            self.assertEqual(f.read(32), bytes(32))


class Failures(KestraveCase):
    """Runs that must fail: one line on standard error, status 1, and a file
    that is left as it was."""

    def test_wrong_argument_count(self):
        data, _ = scenario(table=[1])
        self.write("a.scn", data)
        for args in [(), ("a.scn", "a.scn"), ("a.scn", "b.scn", "c.scn")]:
            with self.subTest(args=args):
                run = self.kestrave(*args)
                self.assertEqual((run.status, run.out, run.err), (1, USAGE, ""))
                self.assertEqual(self.read("a.scn"), data)

    def test_files_that_cannot_be_converted(self):
        wrapping, _ = scenario((64489, 1800), 0x7FFF, length=2000)
        cases = [
            ("missing file", None, "Unable to open scenario file: No such file or directory\n"),
            ("empty file", b"", "Scenario file is too short to hold its header\n"),
            ("seven bytes", b"\x01\x00\x01\x00\xff\x7f\x00", "Scenario file is too short to hold its header\n"),
            ("extents that wrap 32 bits", wrapping, "Scenario header places the turn light table outside the file\n"),
            ("table before the file", scenario((0, 0), -31, length=2000)[0],
             "Scenario header places the turn light table outside the file\n"),
            ("table one byte before the file", scenario((5, 5), -61, length=2000)[0],
             "Scenario header places the turn light table outside the file\n"),
            ("count past 2^31", scenario((0, 0), 0x7FFFFFFF, length=2000)[0],
             "Scenario header places the turn light table outside the file\n"),
        ]
        for name, data, message in cases:
            with self.subTest(name):
                path = "case.scn"
                if data is None:
                    (self.dir / path).unlink(missing_ok=True)
                else:
                    self.write(path, data)
                self.assertFails(self.kestrave(path), message)
                if data is None:
                    self.assertFalse((self.dir / path).exists(), "the tool created the file")
                else:
                    self.assertEqual(self.read(path), data)

    def test_wildcards_are_not_expanded(self):
        # One argument naming no file: not two files, and not a usage error.
        data, _ = scenario(table=[1])
        for name in ["a.scn", "b.scn"]:
            self.write(name, data)
        run = self.kestrave("*.scn")
        self.assertEqual((run.status, run.out), (1, ""))
        self.assertTrue(run.err.startswith("Unable to open scenario file: "), run.err)
        self.assertEqual([self.read("a.scn"), self.read("b.scn")], [data, data])

    def test_directory(self):
        (self.dir / "folder.scn").mkdir()
        message = "Permission denied" if WINDOWS else "Is a directory"
        self.assertFails(self.kestrave("folder.scn"), f"Unable to open scenario file: {message}\n")


class LinuxFailures(KestraveCase):
    """Failures that need what only Linux offers here: other users, FIFOs,
    devices, file-size limits and closed descriptors."""

    def test_permission_denied(self):
        # Root ignores file modes, so as root the run drops to nobody; any
        # other user is refused as itself. A writable file run the same way
        # shows that the mode is all that differs.
        # The build folder need not be open to nobody; a copy beside the
        # fixture is.
        self.dir.chmod(0o755)
        program = shutil.copy(KESTRAVE, self.dir / "kestrave")
        data, offset = scenario(table=[0, 0])
        as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if os.geteuid() == 0 else []
        for mode, expected in [(0o444, None), (0o666, converted(data, offset))]:
            with self.subTest(mode=oct(mode)):
                # A file of its own for each mode: only root could write over
                # the read-only one.
                path = self.write(f"locked-{mode:o}.scn", data)
                (self.dir / path).chmod(mode)
                run = self.kestrave(path, prefix=as_nobody, program=program)
                if expected is None:
                    self.assertFails(run, "Unable to open scenario file: Permission denied\n")
                else:
                    self.assertConverted(run, path, 0)
                self.assertEqual(self.read(path), data)

    def test_not_a_regular_file(self):
        os.mkfifo(self.dir / "pipe.scn")
        os.symlink("/dev/null", self.dir / "null.scn")
        os.symlink("/dev/zero", self.dir / "zero.scn")
        for path in ["pipe.scn", "null.scn", "zero.scn"]:
            with self.subTest(path):
                # A FIFO with no writer must not hang the run.
                run = self.kestrave(path, timeout=10)
                self.assertFails(run, "Unable to open scenario file: Not a regular file\n")

    def test_kernel_refuses_the_write(self):
        # Beyond RLIMIT_FSIZE every write fails with EFBIG once SIGXFSZ is
        # ignored; a limit past the table shows the limit is what bites.
        data, offset = scenario(table=[1, 0, 1])
        for limit, refused in [(offset - 1, True), (len(data), False)]:
            with self.subTest(limit=limit):
                path = self.write("limited.scn", data)

                def limit_file_size(limit=limit):
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

                run = self.kestrave(path, preexec_fn=limit_file_size, restore_signals=False)
                if refused:
                    self.assertFails(run, "Unable to update scenario file: File too large\n")
                    self.assertEqual(self.read(path), data)
                else:
                    self.assertConverted(run, path, 2)
                    self.assertEqual(self.read(path), converted(data, offset))

    def test_report_cannot_be_written(self):
        data, offset = scenario(table=[1, 1])
        for name, device, reason in [
            ("standard output closed", None, "Bad file descriptor"),
            ("standard output full", "/dev/full", "No space left on device"),
        ]:
            with self.subTest(name):
                path = self.write("report.scn", data)
                if device is None:
                    run = self.kestrave(path, preexec_fn=lambda: os.close(1))
                else:
                    with open(device, "wb") as sink:
                        run = self.kestrave(path, stdout=sink)
                self.assertEqual((run.status, run.err), (1, f"Unable to write report: {reason}\n"))
                # The file is converted, and a report meant for a closed
                # standard output never lands in it.
                self.assertEqual(self.read(path), converted(data, offset))



class WindowsDevices(KestraveCase):
    """Windows' device names open anywhere, and must never be written."""

    def test_device_names(self):
        for name in ["NUL", "nul.scn", "COM1", "CON"]:
            with self.subTest(name):
                run = self.kestrave(name)
                self.assertEqual((run.status, run.out), (1, ""))
                self.assertTrue(run.err.startswith("Unable to open scenario file: "), run.err)
                # CON is the console, which need not open at all where there
                # is none, and COM1 a serial port that may be missing or
                # closed to this user (under wine it is /dev/ttyS0, which
                # ordinary users may not open); NUL opens everywhere.
                if name not in ("CON", "COM1"):
                    self.assertEqual(run.err, "Unable to open scenario file: Not a regular file\n")


class Explorer(KestraveCase):
    """kestrave.exe started from Explorer, in a console window of its own that
    closes when it exits, shows its outcome until a key is pressed. Started
    by any other program it never waits."""

    PROMPT = "Press any key to close this window."

    def setUp(self):
        super().setUp()
        # Wine gives a program a console window of its own only on an X
        # display, and only if its session started on one.
        if EMULATOR:
            self.assertIn("DISPLAY", os.environ, "run the tests under an X server, for example with xvfb-run -a")

    def start(self, parent, *args, shared_console=False):
        """Starts kestrave.exe, beside its fixtures, from a parent of the given
        name, in a new console or in the parent's own, and returns a function
        that sends the parent a command and returns its answer."""
        shutil.copy(KESTRAVE, self.dir / "kestrave.exe")
        shutil.copy(CONSOLE_STARTER, self.dir / parent)
        options = ["--shared-console"] if shared_console else []
        process = subprocess.Popen(
            [*EMULATOR, str(self.dir / parent), *options, "kestrave.exe", *args],
            cwd=self.dir,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            text=True,
            encoding="utf-8",
        )
        # Whatever goes wrong, nothing here outlives two minutes.
        watchdog = threading.Timer(120, process.kill)
        watchdog.start()
        self.addCleanup(watchdog.cancel)
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.wait)
        self.addCleanup(process.stdin.close)

        def answer_line():
            line = process.stdout.readline()
            self.assertTrue(line, "the starter ended without answering")
            return line.rstrip("\n")

        def ask(command):
            """One line, or for "screen" the lines up to the closing "."."""
            process.stdin.write(command + "\n")
            process.stdin.flush()
            if command != "screen":
                return answer_line()
            return list(iter(answer_line, "."))

        return ask

    def screen_once_prompted(self, ask):
        """The window's lines once the prompt shows, or after 30 s."""
        deadline = time.monotonic() + 30
        while True:
            lines = ask("screen")
            if self.PROMPT in lines or time.monotonic() > deadline or ask("state") != "running":
                return lines
            time.sleep(0.5)

    def test_outcome_stays_on_screen_until_a_key(self):
        data, offset = scenario(table=[1, 0, 1, 1])
        cases = [
            # name, arguments, lines shown above the prompt, exit status
            ("a file dropped on it", ["turns.scn"], [report(3, "turns.scn").rstrip("\n")], 0),
            ("a double-click", [], ["", "Usage: kestrave <filename>"], 1),
            ("several files dropped on it", ["turns.scn", "turns.scn"], ["", "Usage: kestrave <filename>"], 1),
            ("a missing file", ["missing.scn"], ["Unable to open scenario file: No such file or directory"], 1),
        ]
        for name, args, shown, status in cases:
            with self.subTest(name):
                self.write("turns.scn", data)
                ask = self.start("explorer.exe", *args)
                # kestrave tells at its start whether the console is its own:
                # the starter must not attach to it before then.
                time.sleep(3)
                self.assertEqual(ask("state"), "running")
                self.assertEqual(self.screen_once_prompted(ask), [*shown, self.PROMPT])
                # The run is over before the key: the file is converted and
                # no longer open.
                expected = converted(data, offset) if status == 0 else data
                self.assertEqual(self.read("turns.scn"), expected)
                self.assertEqual(ask("state"), "running")
                self.assertEqual(ask("key"), "typed")
                self.assertEqual(ask("wait"), f"exited {status}")

    def test_other_starts_never_wait(self):
        # No key is ever typed, so only a run that does not wait ends.
        data, offset = scenario(table=[1, 0, 1])
        cases = [
            # name, parent, whether kestrave.exe shares the parent's console
            ("another program, with a new console", "launcher.exe", False),
            ("Explorer's name, but the console is another's", "explorer.exe", True),
        ]
        for name, parent, shared_console in cases:
            with self.subTest(name):
                self.write("turns.scn", data)
                ask = self.start(parent, "turns.scn", shared_console=shared_console)
                self.assertEqual(ask("wait"), "exited 0")
                self.assertEqual(self.read("turns.scn"), converted(data, offset))


if __name__ == "__main__":
    unittest.main()
