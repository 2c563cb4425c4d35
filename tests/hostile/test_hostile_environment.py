"""Starts the real program in hostile surroundings (a runtime folder of another user or
behind a link, a read-only home, a damaged or locked database) and checks that it keeps
running, says what is wrong in one line on standard error, and loses nothing it had."""

import os
import queue
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BINARY = None
READY = "no system tray is running"  # the last line an offscreen start prints
NO_USER_MANAGER = "reminders come only while the program runs"  # said at every start here
DEADLINE = 30


class Program:
    def __init__(self, env, wrapper=()):
        self.process = subprocess.Popen(
            [*wrapper, BINARY], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.stderr = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stderr:
            self.lines.put(line.rstrip("\n"))

    def wait_for(self, text):
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            try:
                line = self.lines.get(timeout=0.5)
            except queue.Empty:
                if self.process.poll() is not None:
                    break
                continue
            self.stderr.append(line)
            if text in line:
                return line
        raise AssertionError(f"never printed {text!r}; stderr so far: {self.stderr}")

    def stop(self):
        alive = self.process.poll() is None
        self.process.terminate()
        self.process.wait(timeout=DEADLINE)
        return alive


class HostileEnvironment(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="perch-hostile-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        self.env["QT_QPA_PLATFORM"] = "offscreen"
        for name, var in (("home", "HOME"), ("config", "XDG_CONFIG_HOME"), ("data", "XDG_DATA_HOME"),
                          ("runtime", "XDG_RUNTIME_DIR")):
            path = os.path.join(self.root, name)
            os.makedirs(path, mode=0o700)
            self.env[var] = path
        self.database = os.path.join(self.env["XDG_CONFIG_HOME"], "portraitperch", "defaults.sqlite3")

    def run_program(self, expected, wrapper=()):
        """Starts the program, waits for the line naming the problem and for start-up to
        end, and checks that the program is still running; returns the problem line."""
        program = Program(self.env, wrapper)
        try:
            line = program.wait_for(expected) if expected else None
            program.wait_for(READY)
            self.assertTrue(program.process.poll() is None, "the program ended")
        finally:
            self.assertTrue(program.stop(), "the program ended before it was stopped")
        # Qt's own warnings may come too; the program's lines carry its name.
        problems = [l for l in program.stderr
                    if l.startswith("perchlight:") and READY not in l and NO_USER_MANAGER not in l]
        self.assertEqual(len(problems), 1 if expected else 0, problems)
        return line

    def test_runtime_folder_unset_falls_back_to_a_private_temporary_folder(self):
        del self.env["XDG_RUNTIME_DIR"]
        self.run_program(None)

    def test_runtime_folder_of_another_user_is_not_used(self):
        os.chown(self.env["XDG_RUNTIME_DIR"], 65534, 65534)
        self.run_program("belongs to another user")

    def test_runtime_folder_behind_a_link_is_not_used(self):
        link = os.path.join(self.root, "runtime-link")
        os.symlink(self.env["XDG_RUNTIME_DIR"], link)
        self.env["XDG_RUNTIME_DIR"] = link
        self.run_program("is not a folder but a link")

    def test_read_only_home_runs_on_defaults(self):
        del self.env["XDG_CONFIG_HOME"]
        home = self.env["HOME"]
        # A private mount namespace makes the home read-only even for root.
        script = f'mount --bind -o ro "{home}" "{home}" && exec "$0"'
        self.run_program("cannot open the settings store", wrapper=("unshare", "-rm", "sh", "-c", script))

    def test_damaged_database_is_left_exactly_as_it_was(self):
        for damage in (b"\x00garbage" * 4096, b"SQLite format 3\x00" + os.urandom(5000)):
            with self.subTest(damage=damage[:16]):
                os.makedirs(os.path.dirname(self.database), mode=0o700, exist_ok=True)
                with open(self.database, "wb") as f:
                    f.write(damage)
                self.run_program("cannot open the settings store")
                with open(self.database, "rb") as f:
                    self.assertEqual(f.read(), damage)

    def test_folder_in_place_of_the_database(self):
        os.makedirs(self.database)
        self.run_program("cannot open the settings store")
        self.assertTrue(os.path.isdir(self.database))

    def test_database_locked_by_another_process(self):
        os.makedirs(os.path.dirname(self.database), mode=0o700)
        db = sqlite3.connect(self.database, isolation_level=None)
        db.execute("CREATE TABLE defaults (key TEXT PRIMARY KEY NOT NULL, kind INTEGER NOT NULL, value,"
                   " revision INTEGER NOT NULL)")
        db.execute("INSERT INTO defaults VALUES ('popoverTitle', 3, 'Grandma', 1)")
        db.execute("BEGIN EXCLUSIVE")
        try:
            self.run_program("database is locked")
        finally:
            db.execute("COMMIT")
            db.close()
        kept = sqlite3.connect(self.database).execute("SELECT value FROM defaults").fetchall()
        self.assertEqual(kept, [("Grandma",)])


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
