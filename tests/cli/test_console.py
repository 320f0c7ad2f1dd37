"""The program's console output and exit codes for help and bad command lines."""
import unittest

from runner import BANNER, NL, USAGE, run, text


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


if __name__ == "__main__":
    unittest.main()
