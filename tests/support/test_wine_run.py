"""The wrapper that starts Windows test programs under Wine: it may start a
program again only when the run wrote nothing, and a run that never wrote
anything must never pass as a success. Plain shell commands stand in for
Wine here."""
import os
import subprocess
import tempfile
import unittest

WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wine-run.sh")


def wine_run(script, counter, log=""):
    """Runs `sh -c script` through the wrapper; $1 is a file counting the starts."""
    proc = subprocess.run([WINE_RUN, "sh", "-c", script, "program", counter],
                          capture_output=True, timeout=60, env=dict(os.environ, QUILLON_WINE_RUN_LOG=log))
    with open(counter) as f:
        starts = len(f.read())
    return proc.returncode, proc.stdout, proc.stderr, starts


class WineRun(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.counter = os.path.join(folder.name, "starts")
        open(self.counter, "w").close()

    def test_a_run_that_wrote_something_is_final(self):
        code, out, err, starts = wine_run('printf x >>"$1"; echo failed >&2; exit 3', self.counter)
        self.assertEqual((code, out, err, starts), (3, b"", b"failed\n", 1))

    def test_a_silent_failure_is_started_again_until_the_program_writes(self):
        script = 'printf x >>"$1"; [ "$(wc -c <"$1")" -lt 3 ] && exit 53; echo ran; exit 0'
        log = self.counter + ".log"
        code, out, err, starts = wine_run(script, self.counter, log)
        self.assertEqual((code, out, starts), (0, b"ran\n", 3))
        self.assertEqual(err.count(b"Wine ended with exit code 53 before"), 2)
        with open(log, "rb") as f:
            self.assertEqual(f.read().count(b"Wine ended with exit code 53 before"), 2)

    def test_a_run_that_never_writes_fails_after_three_starts(self):
        for status, expected in ((0, 1), (53, 53)):
            open(self.counter, "w").close()
            code, out, _, starts = wine_run(f'printf x >>"$1"; exit {status}', self.counter)
            self.assertEqual((code, out, starts), (expected, b"", 3))


if __name__ == "__main__":
    unittest.main()
