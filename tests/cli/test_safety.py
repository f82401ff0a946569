#!/usr/bin/env python3
"""What the quillet filter does with hostile files, file systems, users and
signals: in-place rewriting, reading, and encoding detection.

Usage: test_safety.py PATH_TO_QUILLET [unittest arguments], or set QUILLET_BIN.
Some cases need root (other users' files, device nodes); they run as root
and use setpriv for a second user.
"""
import os
import resource
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BINARY = os.environ.get("QUILLET_BIN", "")
ROOT = os.geteuid() == 0
# Sanitizers reserve far more address space and memory than the filter uses.
SANITIZED = "ASAN_OPTIONS" in os.environ
NOBODY = 65534
# A file capability (version 2, cap_net_raw effective and permitted).
CAPABILITY = bytes.fromhex("01000002" "00200000" "00000000" "00000000" "00000000")


def run(args, data=b"", **kwargs):
    kwargs.setdefault("stdout", subprocess.PIPE)
    if "stdin" not in kwargs:
        kwargs["input"] = data
    return subprocess.run([BINARY, *args], stderr=subprocess.PIPE, **kwargs)


def as_nobody(args, **kwargs):
    return subprocess.run(["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                           "--clear-groups", BINARY, *args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def position(data, offset):
    """(line, column) of byte offset in UTF-8 data, both from 1."""
    before = data[:offset].decode()
    lines = before.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    return len(lines), len(lines[-1]) + 1


class Case(unittest.TestCase):
    def setUp(self):
        # On the disk rather than a memory file system: extended attributes
        # and ACLs behave there as on users' files.
        self.dir = tempfile.mkdtemp(dir=os.environ.get("QUILLET_TEST_DIR"))
        os.chmod(self.dir, 0o755)  # the second user's cases pass through it
        self.addCleanup(subprocess.run, ["rm", "-rf", self.dir])

    def path(self, name):
        return os.path.join(self.dir, name)

    def file(self, name, data, mode=0o644):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assertRefused(self, result, path, message, status=1):
        self.assertEqual((result.returncode, result.stdout), (status, b""), result.stderr)
        self.assertIn(path.encode() + b": ", result.stderr)
        self.assertIn(message.encode(), result.stderr)

    def assertNoTemporaryFiles(self, folder=None):
        for root, _, names in os.walk(folder or self.dir):
            self.assertEqual([n for n in names if n.startswith(".quillet")], [], root)


class InPlaceTargetTest(Case):
    """Only regular files are rewritten, through any links, and nothing else."""

    def test_nodes_that_are_not_regular_files(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        sock = socket.socket(socket.AF_UNIX)
        self.addCleanup(sock.close)
        sock.bind(self.path("socket"))
        nodes = [("fifo", fifo, "a FIFO"), ("socket", self.path("socket"), "a socket"),
                 ("folder", self.dir, "Is a directory")]
        if ROOT:
            os.mknod(self.path("null"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            nodes.append(("device", self.path("null"), "a character device"))
        links = [("link to fifo", "fifo", "a FIFO"),
                 ("link to stdin", "/proc/self/fd/0", "/proc or /sys"),
                 ("link into proc", "/proc/self/status", "/proc or /sys"),
                 ("link into sys", "/sys/kernel/profiling", "/proc or /sys")]
        for name, target, message in links:
            os.symlink(target, self.path(name))
            nodes.append((name, self.path(name), message))
        for name, path, message in nodes:
            with self.subTest(node=name):
                before = os.lstat(path)
                target = os.readlink(path) if stat.S_ISLNK(before.st_mode) else None
                # A FIFO with a writer: a wrong open would read it and not block.
                result = run(["-i", "1", path], stdin=subprocess.DEVNULL, timeout=20)
                self.assertRefused(result, path, message)
                after = os.lstat(path)
                self.assertEqual((after.st_ino, stat.S_IFMT(after.st_mode)),
                                 (before.st_ino, stat.S_IFMT(before.st_mode)))
                if target is not None:
                    self.assertEqual(os.readlink(path), target)
        self.assertNoTemporaryFiles()

    def test_links_are_followed_and_kept(self):
        os.mkdir(self.path("sub"))
        target = self.file("sub/target.txt", b"\ta\n", 0o640)
        os.symlink("sub/target.txt", self.path("direct"))
        os.symlink("direct", self.path("chained"))
        os.symlink(os.path.join(self.dir, "sub"), self.path("folder"))
        for path in [self.path("direct"), self.path("chained"), self.path("folder/target.txt"),
                     self.path("sub/../direct")]:
            with self.subTest(path=path):
                with open(target, "wb") as f:
                    f.write(b"\ta\n")
                result = run(["-i", "1", path])
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(self.read(target), b"    a\n")
                self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
        self.assertEqual([os.path.islink(self.path(n)) for n in ["direct", "chained", "folder"]],
                         [True] * 3)
        self.assertNoTemporaryFiles()

    def test_hard_links_are_refused(self):
        first = self.file("first", b"\ta\n")
        os.link(first, self.path("second"))
        result = run(["-i", "1", first])
        self.assertRefused(result, first, "2 hard links")
        self.assertEqual([self.read(first), self.read(self.path("second"))], [b"\ta\n"] * 2)


@unittest.skipUnless(ROOT, "needs root: files of other users, capabilities")
class AttributesTest(Case):
    """Owner, group, mode, ACL and extended attributes come through, or the
    file is left alone with a message that says what would be lost."""

    def setfacl(self, *args):
        subprocess.run(["setfacl", *args], check=True)

    def getfacl(self, path):
        return subprocess.run(["getfacl", "-p", path], stdout=subprocess.PIPE,
                              check=True).stdout

    def test_everything_is_kept(self):
        path = self.file("kept.txt", b"\tx \n")
        os.chown(path, NOBODY, NOBODY)
        os.chmod(path, 0o7755)  # after chown, which clears the set-id bits
        self.setfacl("-m", "u:daemon:r--,g:adm:---", path)
        os.setxattr(path, "user.note", b"hello")
        os.setxattr(path, "security.capability", CAPABILITY)
        before = os.stat(path)
        acl = self.getfacl(path)
        result = run(["-i", "1", path])
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(self.read(path), b"    x \n")
        after = os.stat(path)
        self.assertNotEqual(after.st_ino, before.st_ino)
        self.assertEqual((after.st_uid, after.st_gid, stat.S_IMODE(after.st_mode)),
                         (NOBODY, NOBODY, 0o7755))
        self.assertEqual(self.getfacl(path), acl)
        self.assertEqual(os.getxattr(path, "user.note"), b"hello")
        self.assertEqual(os.getxattr(path, "security.capability"), CAPABILITY)
        self.assertNoTemporaryFiles()

    def test_what_another_user_cannot_keep(self):
        os.chmod(self.dir, 0o777)

        def owned_by_root(path):
            os.chmod(path, 0o666)

        def with_capability(path):
            os.chown(path, NOBODY, NOBODY)
            os.setxattr(path, "security.capability", CAPABILITY)

        def group_of_others(path):
            os.chown(path, NOBODY, 0)
            os.chmod(path, 0o664)

        cases = [("owner", owned_by_root, "its owner and group (user 0, group 0)"),
                 ("group", group_of_others, "its owner and group (user %d, group 0)" % NOBODY),
                 ("capability", with_capability, "extended attribute security.capability")]
        for name, prepare, message in cases:
            with self.subTest(case=name):
                path = self.file(name, b"\ty\n")
                prepare(path)
                before = os.stat(path)
                result = as_nobody(["-i", "1", path])
                self.assertRefused(result, path, message)
                self.assertIn(b"it was left as it is", result.stderr)
                self.assertEqual(self.read(path), b"\ty\n")
                after = os.stat(path)
                self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        self.assertNoTemporaryFiles()

    def test_swapped_paths_cannot_redirect_the_write(self):
        # Root rewrites a path in a folder of another user, who keeps pointing
        # it at a root-only file meanwhile: a link swapped between their own
        # file and the root-only one, or their file swapped with a link to
        # it. Whatever root rewrites must be what it read: the root-only file
        # gets its own text rewritten, if anything, never the other user's,
        # and nothing is left behind.
        secret_dir = self.path("root")
        os.mkdir(secret_dir, 0o700)
        secret = os.path.join(secret_dir, "secret")
        folder = self.path("user")
        os.mkdir(folder)
        os.chown(folder, NOBODY, NOBODY)
        mine = os.path.join(folder, "mine")
        swapper = """
import os, sys
folder, secret, mode = sys.argv[1:]
links = [("link", "mine"), ("link", secret)] if mode == "link" else [("mine", secret)]
swaps = 0
while not os.path.exists(os.path.join(folder, "stop")):
    name, target = links[swaps % len(links)]
    new = os.path.join(folder, ".new")
    try:
        if mode == "file" and swaps % 2:
            with open(new, "wb") as f:
                f.write(b"\\tuser text\\n")
        else:
            os.symlink(target, new)
        os.rename(new, os.path.join(folder, name))
        swaps += 1
    except OSError:
        pass
with open(os.path.join(folder, "swaps"), "w") as f:
    f.write(str(swaps))
"""
        for mode, path in [("link", os.path.join(folder, "link")), ("file", mine)]:
            with self.subTest(mode=mode):
                attacker = subprocess.Popen(
                    ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups",
                     "/usr/bin/python3", "-c", swapper, folder, secret, mode])
                try:
                    for _ in range(100):
                        with open(secret, "wb") as f:
                            f.write(b"\troot only\n" * 20000)
                        new = os.path.join(folder, ".mine")
                        with open(new, "wb") as f:
                            f.write(b"\tuser text\n" * 20000)
                        os.chown(new, NOBODY, NOBODY)
                        os.rename(new, mine)
                        result = run(["-i", "double", path])
                        self.assertIn(result.returncode, (0, 1), result.stderr)
                        self.assertNotIn(b"user", self.read(secret))
                        self.assertEqual(os.stat(secret).st_uid, 0)
                finally:
                    open(os.path.join(folder, "stop"), "w").close()
                    attacker.wait()
                    os.unlink(os.path.join(folder, "stop"))
                with open(os.path.join(folder, "swaps")) as f:
                    self.assertGreater(int(f.read()), 100)
                self.assertEqual(sorted(os.listdir(secret_dir)), ["secret"])
                self.assertNoTemporaryFiles()


class SignalTest(Case):
    def test_signals_leave_the_file_and_no_temporary_file(self):
        data = b"\t\tline of text  \n" * 3_000_000
        path = self.file("big.txt", data)
        # What a run that got to the end before the signal leaves.
        done = b"\t\tline of text\n" * 3_000_000
        for sig in [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT]:
            with self.subTest(signal=sig.name):
                # Late and early, so that some signal meets the new file
                # being written.
                kills = 0
                for delay in [0.3, 0.2, 0.15, 0.1, 0.05, 0.02, 0.01]:
                    process = subprocess.Popen(
                        [BINARY, "-i", "8", path], stderr=subprocess.DEVNULL,
                        preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
                    time.sleep(delay)
                    process.send_signal(sig)
                    process.wait()
                    if process.returncode == 0:  # done first: the file is new
                        with open(path, "wb") as f:
                            f.write(data)
                        continue
                    self.assertEqual(process.returncode, -sig)
                    self.assertEqual(os.listdir(self.dir), ["big.txt"])
                    text = self.read(path)
                    if text == done:  # the signal came after the replacement
                        with open(path, "wb") as f:
                            f.write(data)
                        continue
                    kills += 1
                    self.assertEqual(text, data)
                self.assertGreater(kills, 2, "the runs ended before the signal")


class ReadingTest(Case):
    def test_standard_output_that_is_an_input(self):
        other = self.file("other.txt", b" a\n")
        for name, args, stdin in [("file operand", ["7", other, "SELF"], None),
                                  ("standard input", ["7", other, "-"], "SELF")]:
            with self.subTest(name):
                path = self.file("same.txt", b"x  \n")
                args = [path if a == "SELF" else a for a in args]
                with open(path, "ab") as out, open(path if stdin else os.devnull, "rb") as into:
                    result = subprocess.run([BINARY, *args], stdin=into, stdout=out,
                                            stderr=subprocess.PIPE, timeout=20)
                self.assertEqual(result.returncode, 1)
                self.assertIn(b"input file is output file", result.stderr)
                self.assertEqual(self.read(path), b"x  \n a\n")

    def test_dash_is_standard_input(self):
        first = self.file("1.txt", b" a \n")
        result = run(["7", first, "-", first], b"\tb\t\n")
        self.assertEqual((result.returncode, result.stdout), (0, b" a\n\tb\n a\n"))
        result = run(["-i", "7", first, "-"])
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"standard input", result.stderr)

    @unittest.skipIf(SANITIZED, "the sanitizers' own memory")
    def test_pipes_in_bounded_memory(self):
        line = "\t\u3000テキスト text  \n".encode()
        size = 256 << 20
        count = size // len(line)
        cases = [("valid", b"", 0), ("invalid at the end", b"\xff\n", 2)]
        for name, tail, status in cases:
            with self.subTest(name):
                process = subprocess.Popen(
                    ["/usr/bin/time", "-f", "%M", BINARY, "1"], stdin=subprocess.PIPE,
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                out = []
                reader = threading.Thread(target=lambda: out.append(process.stdout.read()))
                reader.start()
                chunk = line * 4096
                for _ in range(count // 4096):
                    process.stdin.write(chunk)
                process.stdin.write(tail)
                process.stdin.close()
                reader.join()
                process.wait()
                stderr = process.stderr.read().splitlines()
                peak_kb = int(stderr[-1])
                self.assertEqual(process.returncode, status, stderr)
                self.assertLess(peak_kb, 64 * 1024)
                if status:
                    self.assertEqual(out[0], b"")
                else:
                    new = "      テキスト text  \n".encode()
                    self.assertEqual(len(out[0]), count // 4096 * 4096 * len(new))
                    self.assertEqual(out[0][: len(new) * 3], new * 3)

    @unittest.skipIf(SANITIZED, "the sanitizers' own memory")
    def test_one_input_cannot_take_the_run_down(self):
        # A line far longer than the memory that the run may take, and an
        # endless device: each gets its message, and the next file is done.
        good = self.file("good.txt", b" g\n")
        long_line = self.path("long.txt")
        with open(long_line, "wb") as f:
            f.write(b"\t" + b"x" * (192 << 20) + b"\n")
        limit = 160 << 20

        def small():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        cases = [(["1", "/dev/zero", good], 2, b"binary data"),
                 (["-e", "utf-8", "6", long_line, good], 1, b"out of memory")]
        for args, status, message in cases:
            with self.subTest(args=args[:-1]):
                result = subprocess.run([BINARY, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, preexec_fn=small, timeout=120)
                self.assertGreaterEqual(result.returncode, 0, "killed by a signal")
                self.assertTrue(result.stdout.endswith(b"g\n"))
                if result.returncode != 0:
                    self.assertEqual(result.returncode, status)
                    self.assertIn(message, result.stderr)


class DetectionTest(Case):
    """Encodings are detected from the input or refused; never guessed into damage."""

    def test_detection_table(self):
        utf16 = "\t日本\r\n  語 a\n"
        mostly = ("日本語のテキスト " * 30 + "\n") * 120
        bad = mostly.encode()[:25000]
        bad = bad[: len(bad.decode(errors="ignore").encode())]  # ends at a character
        bad_data = bad + b"\xff" + mostly.encode()
        latin = "café au lait\n".encode() + b"caf\xe9\n" + "日本\n".encode()
        cases = [
            # (name, options, bytes, status, stdout, in stderr)
            ("utf-16le unmarked", [], utf16.encode("utf-16-le"), 0,
             "    日本\r\n  語 a\n".encode("utf-16-le"), b""),
            ("utf-16be unmarked", [], utf16.encode("utf-16-be"), 0,
             "    日本\r\n  語 a\n".encode("utf-16-be"), b""),
            # U+3000 and U+4E00 put zero bytes on the other side too, here most of them
            ("utf-16le unmarked, zeros on both sides", [], "\u3000\u3000\u3000一一\n".encode("utf-16-le"),
             0, "      一一\n".encode("utf-16-le"), b""),
            ("utf-16be unmarked, zeros on both sides", [], "\u3000\u3000\u3000一一\n".encode("utf-16-be"),
             0, "      一一\n".encode("utf-16-be"), b""),
            ("nul in utf-8", [], b" a\x00b\n", 2, b"", b"binary data: a NUL at byte offset 2"),
            ("nul in utf-8, named", ["-e", "utf-8"], b"\ta\x00b\n", 0, b"    a\x00b\n", b""),
            ("zeros at both parities", [], b"\x00\x00ab\n", 2, b"", b"binary data"),
            ("control units", [], b"\x01\x00\x02\x00", 2, b"", b"binary data"),
            ("nul unit later", [], "\ta\n".encode("utf-16-le") * 40000 + b"\x00\x00", 2, b"",
             b"byte offset 240000 (line 40001, column 1)"),
            ("utf-16le mark, named utf-16be", ["-e", "utf-16be"], b"\xff\xfe a\x00", 2, b"",
             b"UTF-16LE byte-order mark, but --encoding says UTF-16BE"),
            ("utf-16be mark, named utf-8", ["-e", "utf-8"], b"\xfe\xff\x00a", 2, b"",
             b"UTF-16BE byte-order mark"),
            ("utf-8 mark, named cp932", ["-e", "cp932"], b"\xef\xbb\xbf a", 2, b"",
             b"UTF-8 byte-order mark, but --encoding says CP932"),
            ("utf-8 mark, named utf-16le", ["-e", "utf-16le"], b"\xef\xbb\xbf a", 2, b"",
             b"UTF-8 byte-order mark"),
            ("utf-8, a bad byte at 25000", [], bad_data, 2, b"",
             b"invalid UTF-8 at byte offset %d (line %d, column %d)"
             % (len(bad), *position(bad_data, len(bad)))),
            ("utf-8 and one latin-1 byte", [], latin, 2, b"", b"invalid UTF-8 at byte offset 17"),
            ("a latin-1 byte, then utf-8", [], b"\xe9t\xe9 " + mostly.encode(), 2, b"",
             b"invalid UTF-8 at byte offset 0 (line 1, column 1)"),
            ("cp932 half-width kana", [], "ｶﾞｷ ﾃｨ\r\n".encode("cp932"), 0,
             "ｶﾞｷ ﾃｨ\r\n".encode("cp932"), b""),
            ("cp932, invalid", [], "\tあ\n".encode("cp932") + b"a\x81\n", 2, b"",
             b"invalid CP932 at byte offset 5 (line 2, column 2) (the input is not UTF-8 either)"),
        ]
        for name, options, data, status, stdout, message in cases:
            for command in ["1", "fullwidth-katakana"]:
                if command != "1" and status == 0:
                    continue
                with self.subTest(name=name, command=command):
                    result = run(options + [command], data)
                    self.assertEqual((result.returncode, result.stdout), (status, stdout),
                                     result.stderr)
                    self.assertIn(message, result.stderr)

    def test_unmarked_utf16_in_place(self):
        # The report that this mends: the rewrite broke the two-byte units.
        text = "\t日本\n"
        for codec in ["utf-16-le", "utf-16-be"]:
            with self.subTest(codec=codec):
                path = self.file("u.txt", text.encode(codec))
                self.assertEqual(run(["-i", "spaces", path]).returncode, 0)
                self.assertEqual(self.read(path).decode(codec), "    日本\n")


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        BINARY = sys.argv.pop(1)
    if not BINARY:
        sys.exit("usage: test_safety.py PATH_TO_QUILLET (or set QUILLET_BIN)")
    unittest.main()
