"""What the Python test scripts share: a tally of named checks, a free port
on loopback, and the stand-in services of the Linux tamsel-sim started apart."""
import socket
import subprocess
import sys


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
