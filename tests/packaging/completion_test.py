#!/usr/bin/env python3
"""Tab completion of veltrad-cli and veltrad-sim in an interactive bash.

Usage: completion_test.py ROOT
ROOT is an unpacked package (ROOT/usr/bin, ROOT/usr/share/...). bash runs on
a pseudo-terminal with the system's bash-completion, and finds the programs
and their completion files in ROOT the way an installed package is found:
through PATH and XDG_DATA_DIRS. Keys are typed as a user types them; the
edited line is then accepted as a comment and read back from the history.
"""

import fcntl
import os
import pty
import re
import select
import shutil
import signal
import struct
import sys
import tempfile
import termios

TIMEOUT_S = 30  # generous: only a hung shell takes this long
PROMPT = "@@ "
LIST = "\x1b="  # M-=: possible-completions, lists without changing the line
ACCEPT_AS_COMMENT = "\x1b#"  # M-#: insert-comment, puts "#" in front and accepts


class Shell:
    def __init__(self, env, cwd):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execvpe("bash", ["bash", "--noprofile", "--norc", "-i"], env)
        # Wide enough that no line wraps and every list fits on a line or two.
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
        self.out = ""
        self.pending = ""
        self.marks = 0

    def send(self, text):
        os.write(self.fd, text.encode())

    def read_until(self, pattern):
        """Reads until `pattern` matches; returns the output up to the end of
        the match, and the match. Output after it is kept for the next call."""
        rx = re.compile(pattern, re.S)
        while True:
            m = rx.search(self.pending)
            if m:
                buf, self.pending = self.pending[: m.end()], self.pending[m.end() :]
                self.out += buf
                return buf, m
            ready, _, _ = select.select([self.fd], [], [], TIMEOUT_S)
            if not ready:
                raise TimeoutError(f"no {pattern!r} from bash; it wrote:\n{self.out + self.pending}")
            try:
                chunk = os.read(self.fd, 65536).decode(errors="replace")
            except OSError:
                chunk = ""
            if not chunk:
                raise EOFError(f"bash ended; it wrote:\n{self.out + self.pending}")
            self.pending += chunk.replace("\r", "")

    def sync(self):
        """Runs a command whose output differs from its echo, and waits for
        it and the next prompt: readline reads keys only from then on."""
        self.marks += 1
        self.send(f"echo @sync$((0+{self.marks}))\n")
        self.read_until(rf"\n@sync{self.marks}\n{PROMPT}")

    def accepted_line(self):
        """Accepts the line being edited as a comment, so the shell runs
        nothing, and returns it as the shell's history holds it."""
        self.send(ACCEPT_AS_COMMENT)
        self.marks += 1
        self.send(f'printf "<line{self.marks}:%s>\\n" "$(fc -ln -1)"\n')
        before, m = self.read_until(rf"<line{self.marks}:\s*#(.*?)>\n{PROMPT}")
        return before, m.group(1)

    def line_after(self, keys):
        """Types `keys` on an empty line and returns the edited line."""
        self.send(keys)
        return self.accepted_line()[1]

    def listing(self, text):
        """The completions bash lists for `text`."""
        self.send(text + LIST)
        out, line = self.accepted_line()
        if line != text:
            raise AssertionError(f"listing changed the line {text!r} to {line!r}")
        out = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x07", "", out)
        # The first line echoes the typed text; the list ends where readline
        # draws the prompt and the line again.
        listed = out.split("\n", 1)[1].split(PROMPT, 1)[0]
        return {word.rstrip("/") for word in listed.split()}

    def close(self):
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        os.close(self.fd)


def make_fake_system(root):
    """Serial devices for the completion to find: a USB adapter, an on-board
    port with a UART and one without, a virtual console, a by-id name."""
    for path in ["dev/ttyUSB0", "dev/ttyS0", "dev/ttyS1", "dev/tty1", "dev/serial/by-id/usb-FTDI_A50285BI-port0"]:
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        open(os.path.join(root, path), "w").close()
    for tty, uart_type in [("ttyS0", "4"), ("ttyS1", "0")]:
        os.makedirs(os.path.join(root, "sys/class/tty", tty))
        with open(os.path.join(root, "sys/class/tty", tty, "type"), "w") as f:
            f.write(uart_type + "\n")


def main():
    package = os.path.abspath(sys.argv[1])
    completion = "/usr/share/bash-completion/bash_completion"
    work = tempfile.mkdtemp(prefix="veltrad-completion-")
    try:
        fake = os.path.join(work, "fake")
        make_fake_system(fake)
        images = os.path.join(work, "images")  # *.bin among other files, and a folder
        others = os.path.join(work, "others")  # no *.bin at all
        os.makedirs(os.path.join(images, "Old"))
        os.makedirs(others)
        for path in ["images/fw.bin", "images/notes.txt", "others/fw.img"]:
            open(os.path.join(work, path), "w").close()

        env = {
            "PATH": f"{package}/usr/bin:/usr/bin:/bin",
            "HOME": work,
            "TERM": "dumb",
            "INPUTRC": "/dev/null",
            "LC_ALL": "C.UTF-8",
            "XDG_DATA_DIRS": f"{package}/usr/share",
            "XDG_CONFIG_HOME": work,
            "_VELTRAD_COMP_ROOT": fake,
            "PS1": PROMPT,
            "HISTFILE": "/dev/null",
        }
        shell = Shell(env, images)
        shell.read_until(PROMPT)
        setup = (
            f"source {completion}; "
            "bind 'set completion-query-items 1000'; bind 'set page-completions off'; "
            "bind 'set bell-style none'\n"
        )
        shell.send(setup)
        shell.sync()

        failures = []
        # Unique completions: keys typed -> the line they leave.
        for keys, want in [
            ("veltrad-cli d\t", "veltrad-cli download "),
            ("veltrad-cli download --p\t", "veltrad-cli download --port "),
            ("veltrad-cli download --port com12\t", "veltrad-cli download --port COM12 "),
            ("veltrad-cli download --port=/dev/ttyU\t", "veltrad-cli download --port=/dev/ttyUSB0 "),
            ("veltrad-cli frames --h\t", "veltrad-cli frames --he"),
            ("veltrad-cli frames f\t", "veltrad-cli frames fw.bin "),
            ("veltrad-sim --dev\t", "veltrad-sim --device "),
            ("veltrad-sim --device /dev/serial/\t", "veltrad-sim --device /dev/serial/by-id/usb-FTDI_A50285BI-port0 "),
        ]:
            got = shell.line_after(keys)
            if got != want:
                failures.append(f"{keys!r}: line {got!r}, want {want!r}")

        coms = {f"COM{n}" for n in range(1, 51)}
        present = {"/dev/ttyUSB0", "/dev/ttyS0", "/dev/serial/by-id/usb-FTDI_A50285BI-port0"}
        subcommand = r"[a-z]+"  # subcommands and options the programs gain may be offered too
        option = r"-.*"
        # Listings: text typed -> what bash offers, and what else it may offer.
        for where, text, want, may_also in [
            (images, "veltrad-cli ", {"frames", "download"}, subcommand),
            (images, "veltrad-cli -", {"-h", "--help", "--version"}, option),
            (images, "veltrad-cli download --", {"--help", "--port", "--json"}, option),
            (images, "veltrad-cli download --port ", coms | present, None),
            (images, "veltrad-cli download --port COM4", {"COM4"} | {f"COM4{n}" for n in range(10)}, None),
            (images, "veltrad-cli download --port COM1 ", {"fw.bin", "Old"}, None),
            (others, "veltrad-cli frames ", {"fw.img"}, None),
            (images, "veltrad-sim --device ", present, None),
            (images, "veltrad-sim --out ", {"fw.bin", "notes.txt", "Old"}, None),
            (images, "veltrad-sim --delay ", set(), None),
        ]:
            if where != images:
                shell.send(f"cd {where}\n")
                shell.sync()
            got = shell.listing(text)
            if where != images:
                shell.send(f"cd {images}\n")
                shell.sync()
            extra = {w for w in got - want if not (may_also and re.fullmatch(may_also, w))}
            if not want <= got or extra:
                failures.append(f"{text!r}: misses {sorted(want - got)}, offers also {sorted(extra)}")
        shell.close()
    finally:
        shutil.rmtree(work)

    for failure in failures:
        print("FAIL", failure)
    print(f"completion: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
