"""The command line of both editions, run where nothing could start (no display, no bus):
--help and --version answer on standard output with status 0, a wrong command line gets
the usage on standard error and status 2; and each manual page renders without a warning
and documents every option that --help lists.

Usage: test_command_line.py <build folder> <version>"""

import os
import re
import subprocess
import sys
import unittest

BUILD = VERSION = None
EDITIONS = ("perchlight", "portraitperch")


def run(*args):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=60)


class CommandLine(unittest.TestCase):
    def test_answers_without_starting(self):
        for edition in EDITIONS:
            program = os.path.join(BUILD, "app", edition)
            with self.subTest(edition=edition):
                helped = run(program, "--help")
                self.assertEqual((helped.returncode, helped.stderr), (0, ""))
                self.assertTrue(helped.stdout.startswith(f"Usage: {edition} [options]\n"), helped.stdout)
                for flag in ("-v", "--version"):
                    answer = run(program, flag)
                    self.assertEqual((answer.returncode, answer.stdout, answer.stderr), (0, f"{edition} {VERSION}\n", ""))
                for wrong, reason in (("--frobnicate", "Unknown option 'frobnicate'."),
                                      ("photo.jpg", "Unexpected argument 'photo.jpg'."),
                                      ("-platform", "Missing value after '-platform'.")):
                    answer = run(program, wrong)
                    self.assertEqual((answer.returncode, answer.stdout), (2, ""))
                    self.assertEqual(answer.stderr, f"{edition}: {reason}\n{helped.stdout}")

                page = os.path.join(BUILD, "resources", "man", f"{edition}.1.gz")
                rendered = subprocess.run(["man", "--warnings", "-l", page], env=dict(os.environ, MANWIDTH="80"),
                                          capture_output=True, text=True, timeout=60)
                self.assertEqual((rendered.returncode, rendered.stderr), (0, ""))
                text = rendered.stdout.replace("\u2010", "-")
                for section in ("NAME", "SYNOPSIS", "OPTIONS", "EXIT STATUS", "ENVIRONMENT", "FILES"):
                    self.assertIn(f"\n{section}\n", text)
                for option in re.findall(r"^  (?:-\w, )?(--[\w-]+)", helped.stdout, re.M):
                    self.assertIn(option, text, f"{edition}(1) does not document {option}")


if __name__ == "__main__":
    BUILD, VERSION = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
