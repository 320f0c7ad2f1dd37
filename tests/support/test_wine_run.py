"""The wrapper that starts Windows test programs under Wine: it may start a
program again only when the run never reached it, passes on only the final
run's output, and never lets a run that never reached the program pass as a
success. Plain shell commands stand in for Wine here."""
import os
import subprocess
import tempfile
import unittest

WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wine-run.sh")

# Fails the first two starts the way Wine does when it cannot start a program
# ($2 is its message, if any), then runs.
FAILS_TWICE = ('printf x >>"$1"; if [ "$(wc -c <"$1")" -lt 3 ]; then '
               '[ -n "$2" ] && echo "$2" >&2; exit 53; fi; echo ran; exit 0')


class WineRun(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.counter = os.path.join(folder.name, "starts")
        self.log = os.path.join(folder.name, "restarts.log")

    def wine_run(self, script, wine_words=""):
        """Runs `sh -c script` through the wrapper; returns (exit code, stdout,
        stderr, starts, restarts noted in the log)."""
        open(self.counter, "w").close()
        open(self.log, "w").close()
        proc = subprocess.run([WINE_RUN, "sh", "-c", script, "program", self.counter, wine_words],
                              capture_output=True, timeout=60,
                              env=dict(os.environ, QUILLON_WINE_RUN_LOG=self.log))
        with open(self.counter) as f:
            starts = len(f.read())
        with open(self.log) as f:
            log = f.read()
        restarts = log.count("wine-run: attempt")
        if wine_words:
            self.assertEqual(log.count(wine_words), restarts)
        return proc.returncode, proc.stdout, proc.stderr, starts, restarts

    def test_a_run_that_reached_the_program_is_final(self):
        for script, err in (('printf x >>"$1"; echo failed >&2; exit 3', b"failed\n"),
                            ('printf x >>"$1"; echo "Unhandled exception: page fault" >&2; exit 3',
                             b"Unhandled exception: page fault\n")):
            self.assertEqual(self.wine_run(script), (3, b"", err, 1, 0))

    def test_a_run_that_never_reached_the_program_is_started_again(self):
        for wine_words in ("", "wine client error:0: recvmsg: Connection reset by peer"):
            # What the caller reads is the final run's output alone.
            self.assertEqual(self.wine_run(FAILS_TWICE, wine_words), (0, b"ran\n", b"", 3, 2))

    def test_a_program_never_reached_fails_after_three_starts(self):
        for status, expected in ((0, 1), (53, 53)):
            code, out, err, starts, restarts = self.wine_run(f'printf x >>"$1"; exit {status}')
            self.assertEqual((code, out, starts, restarts), (expected, b"", 3, 3))
            self.assertEqual(err.count(f"Wine ended with exit code {status} before".encode()), 3)


if __name__ == "__main__":
    unittest.main()
