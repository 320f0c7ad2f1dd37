"""Runs a Quillon build (native, or Windows under Wine) and captures its output."""
import os
import subprocess

EXE = os.environ.get("QUILLON_EXE", "")
WINE = os.environ.get("QUILLON_WINE", "")  # the Wine loader for Windows builds
# Starts a program under Wine again when Wine failed to start it.
WINE_RUN = os.environ.get("QUILLON_WINE_RUN",
                          os.path.join(os.path.dirname(__file__), "..", "support", "wine-run.sh"))
UNDER_WINE = bool(WINE)
NL = "\r\n" if UNDER_WINE else "\n"
SEP = "\\" if UNDER_WINE else "/"

BANNER = ("Korvane TDS Debug Info Processor" + NL +
          "Copyright (c) 2026 Korvane. All rights reserved." + NL + NL)

USAGE_LINES = [
    "Command line format:",
    "",
    "Syntax: Quillon [-r] [-w] module [TDS_file]",
    "",
    "    module - the path to the module(s) from which debug info will be extracted.",
    "The path can contain wildcards.",
    "    TDS_file - the path to the file to which debug info will be saved. If it is",
    "not specified, TD32 debug info is saved to the file whose name coincides with",
    "the module's name, but has the .TDS extension. If the <module> parameter",
    "contains wildcards or the -r switch is specified, this parameter is ignored.",
    "    -r - if this switch is specified, modules are searched for in all",
    "subfolders recursively.",
    "    -w - allows you to overwrite files.",
    "",
]
USAGE = "".join(line + NL for line in USAGE_LINES)


def run(args, cwd=None, timeout=300):
    """Runs the program under test; returns (exit code, stdout bytes, stderr bytes)."""
    cmd = ([WINE_RUN, WINE, EXE] if UNDER_WINE else [EXE]) + list(args)
    return run_command(cmd, cwd, timeout)


def run_windows_program(loader, program, args, cwd=None, timeout=120):
    """Runs another Windows program under the given Wine loader."""
    return run_command([WINE_RUN, loader, program] + list(args), cwd, timeout)


def run_command(cmd, cwd, timeout):
    env = dict(os.environ, WINEDEBUG="-all")
    proc = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


def text(s):
    """The bytes the program writes for s (ASCII text in these tests)."""
    return s.encode("utf-8")
