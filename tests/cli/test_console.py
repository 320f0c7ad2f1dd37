"""The program's console output and exit codes for help and bad command lines."""
import unittest

from runner import BANNER, NL, UNDER_WINE, USAGE, run, text


class HelpAndUsage(unittest.TestCase):
    def test_help_switches_print_banner_lead_and_usage(self):
        for switch in ("/?", "-?"):
            code, out, _ = run([switch])
            self.assertEqual(code, 0)
            lead = "Use this tool to remove TDS debug info from a module and save it to a file."
            self.assertEqual(out, text(BANNER + lead + NL + USAGE))

    def test_help_switch_with_more_arguments_is_a_module_argument(self):
        code, out, _ = run(["/?", "x"])
        self.assertNotIn(b"Use this tool", out)
        self.assertNotEqual(code, 5)

    def test_invalid_command_lines_print_usage_and_exit_5(self):
        expected = text(BANNER + "Invalid command-line parameters." + NL + NL + USAGE)
        for args in ([], ["-r"], ["-w", "-r"], ["a.dll", "b.tds", "c.tds"], ["/W", "/R"]):
            with self.subTest(args=args):
                code, out, _ = run(args)
                self.assertEqual(code, 5)
                self.assertEqual(out, expected)

    def test_overlong_argument_gets_a_clear_message(self):
        code, out, err = run(["x" * 10000])
        self.assertIn(code, (1, 4, 5))
        self.assertTrue(out.startswith(text(BANNER)))
        self.assertEqual(err, b"")
        # Never a crash: the summary or the usage ends the output.
        self.assertTrue(out.endswith(text("failed." + NL)) or out.endswith(text(USAGE)))

    @unittest.skipIf(UNDER_WINE, "arguments are UTF-16 on Windows")
    def test_arguments_that_are_not_valid_utf8(self):
        code, out, err = run([b"\xff\xfe-missing.dll"])
        self.assertEqual(code, 1)
        self.assertEqual(err, b"")
        self.assertTrue(out.endswith(text("No modules were found." + NL +
                                          "0 module(s) processed, 0 module(s) failed." + NL)))
        code, out, _ = run([b"-r", b"\xc3"])
        self.assertEqual(code, 1)


if __name__ == "__main__":
    unittest.main()
