"""What the Python test scripts share: a tally of named checks, a free port
on loopback, and the stand-in services of the Linux tamsel-sim started apart."""
import os
import socket
import subprocess
import sys
import tempfile

# Where Wine's 32-bit programs run under qemu-user, scripts/ia32 has left
# build/wine.env (which cmake/wine-run reads), whoever runs the tests.
WINE_EMULATED = (os.environ.get("NORROW_WINE_WAY") == "emulated" or
                 os.path.exists(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                             "..", "..", "build", "wine.env")))


class Tally:
    """Prints each check as it ends ("ok" or "FAIL" with its problems)."""

    def __init__(self):
        self.passed = self.failed = 0

    def report(self, name, problems):
        if problems:
            self.failed += 1
            print("FAIL %s" % name)
            for p in problems[:10]:
                print("     " + p)
        else:
            self.passed += 1
            print("ok   %s" % name)
        sys.stdout.flush()

    def summary(self):
        """Prints the counts; returns the exit status."""
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 1 if self.failed else 0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_services(program):
    """`program services` on a free port of 127.0.0.1; returns the process,
    listening, and its port. The caller ends it with stop_services."""
    port = free_port()
    process = subprocess.Popen([program, "services", "--port", str(port)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    process.stdout.readline()  # the banner: listening
    return process, port


def stop_services(process):
    if process:
        process.terminate()
        process.wait()


def run_to_files(command, timeout, windows=False):
    """Runs `command` with its output going to files, not pipes, and returns
    the CompletedProcess with both read back as bytes. Under Wine a process
    that Wine starts on the way (explorer.exe for the first window, say)
    inherits a pipe and holds it open long after the program has ended.

    A Windows program (`windows`) under Wine under qemu-user is now and then
    killed by a signal, or hangs, inside the emulator, whatever program it is
    (RELIABILITY.md): there, and only there, such a run is made once more,
    and that is printed. An exit status of the program's own is never
    retried, nor is anything on the native way."""
    try:
        result = _run_to_files(command, timeout)
        if not (windows and WINE_EMULATED and result.returncode < 0):
            return result
        what = "ended by signal %d" % -result.returncode
    except subprocess.TimeoutExpired:
        if not (windows and WINE_EMULATED):
            raise
        what = "did not end within %d s" % timeout
    print("     (under emulation the Windows program %s; run once more)" % what)
    sys.stdout.flush()
    return _run_to_files(command, timeout)


def _run_to_files(command, timeout):
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.run(command, stdout=out, stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, process.returncode, out.read(), err.read())
