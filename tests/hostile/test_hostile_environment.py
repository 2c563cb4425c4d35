# The real program started in hostile surroundings: it keeps running, says what is wrong in
# one line on standard error, and leaves the database it found exactly as it was.
# Usage: test_hostile_environment.py <perchlight>

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from harness import (NO_USER_MANAGER, STRING, Program, require, scratch_env, stop_group, store_path,  # noqa: E402
                     wait_until, write_store)

READY = "no system tray is running"  # the last line of an offscreen start
held = []  # processes that lock the database while the program starts
LOCKER = ("import sqlite3, sys; db = sqlite3.connect(sys.argv[1], isolation_level=None);"
          " db.execute('BEGIN EXCLUSIVE'); print(flush=True); sys.stdin.read()")


def link_runtime(env):
    os.symlink(env["XDG_RUNTIME_DIR"], env["XDG_RUNTIME_DIR"] + "-link")
    env["XDG_RUNTIME_DIR"] += "-link"


def damage(data):
    def arrange(env):
        store_path(env).parent.mkdir(mode=0o700)
        store_path(env).write_bytes(data)
    return arrange


def lock(env):
    write_store(env, {"popoverTitle": (STRING, "Grandma")})
    # By another process: closing any file of the database in this one would drop the lock.
    held.append(subprocess.Popen([sys.executable, "-c", LOCKER, store_path(env)], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE))
    held[-1].stdout.readline()


# A private mount namespace makes the home read-only even for root.
READ_ONLY_HOME = ("unshare", "-rm", "sh", "-c", 'mount --bind -o ro "$HOME" "$HOME" && exec "$0"')
CASES = {
    "runtime folder unset": (lambda env: env.pop("XDG_RUNTIME_DIR") and None, None),
    "runtime folder of another user": (lambda env: os.chown(env["XDG_RUNTIME_DIR"], 65534, 65534),
                                       "belongs to another user"),
    "runtime folder behind a link": (link_runtime, "is not a folder but a link"),
    "read-only home": (lambda env: env.pop("XDG_CONFIG_HOME") and READ_ONLY_HOME, "cannot open the settings store"),
    "garbage database": (damage(b"\x00garbage" * 4096), "cannot open the settings store"),
    "damaged database": (damage(b"SQLite format 3\x00" + os.urandom(5000)), "cannot open the settings store"),
    "folder in place of the database": (lambda env: store_path(env).mkdir(parents=True),
                                        "cannot open the settings store"),
    "database locked by another process": (lock, "database is locked"),
}


def state(path):
    return path.read_bytes() if path.is_file() else path.is_dir()


class HostileEnvironment(unittest.TestCase):
    def test_the_program_keeps_running_and_names_the_problem(self):
        for case, (arrange, problem) in CASES.items():
            with self.subTest(case), tempfile.TemporaryDirectory() as root:
                env = {**scratch_env(root), "QT_QPA_PLATFORM": "offscreen"}
                database = store_path(env)
                wrapper = arrange(env) or ()  # a command to run the program in
                if wrapper:  # user and mount namespaces: refused in a chroot, or by the kernel's settings
                    require(self, not subprocess.run([*wrapper[:2], "true"]).returncode, "unshare " + wrapper[1])
                before = state(database)
                program = Program([*wrapper, sys.argv[1]], env, root)
                try:
                    wait_until(lambda: READY in program.error_text() or not program.running(), "the start to end")
                    self.assertTrue(program.running(), program.error_text())
                finally:
                    stop_group(program)
                    while held:
                        held.pop().communicate()
                # Qt's own warnings may come too; the program's lines carry its name.
                lines = [line for line in program.error_text().splitlines()
                         if line.startswith("perchlight:") and READY not in line and NO_USER_MANAGER not in line]
                self.assertEqual(len(lines), bool(problem), lines)
                self.assertIn(problem or "", "".join(lines))
                if before:
                    self.assertEqual(state(database), before)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
