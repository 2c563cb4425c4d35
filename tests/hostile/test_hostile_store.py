"""The defaults database in hostile surroundings: a link planted at its path, a linked
config folder, and another launch that holds the new database locked as the program starts."""

import os
import sqlite3
import sys
import time
import unittest

import test_hostile_environment as hostile


def journal_mode(path):
    with sqlite3.connect(path) as db:
        return db.execute("PRAGMA journal_mode").fetchone()[0]


class HostileStore(hostile.HostileEnvironment):
    def test_link_at_the_database_path_is_not_followed(self):
        victim = os.path.join(self.root, "victim.sqlite3")
        sqlite3.connect(victim).execute("CREATE TABLE precious (x)").connection.close()
        with open(victim, "rb") as f:
            before = f.read()
        os.makedirs(os.path.dirname(self.database), mode=0o700)
        os.symlink(victim, self.database)
        self.run_program("is a link")
        with open(victim, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_linked_config_folder_is_followed(self):
        real = os.path.join(self.root, "dotfiles")
        os.rename(self.env["XDG_CONFIG_HOME"], real)
        os.symlink(real, self.env["XDG_CONFIG_HOME"])
        self.run_program(None)
        self.assertEqual(journal_mode(os.path.join(real, "portraitperch", "defaults.sqlite3")), "wal")

    def test_lock_met_while_creating_the_database_is_waited_out(self):
        # Another launch creating the file holds its write lock: switching the file to
        # write-ahead logging then fails at once, without waiting.
        os.makedirs(os.path.dirname(self.database), mode=0o700)
        db = sqlite3.connect(self.database, isolation_level=None)
        db.execute("BEGIN IMMEDIATE")
        program = hostile.Program(self.env)
        try:
            program.wait_for("database is locked")
            program.wait_for(hostile.READY)
            db.execute("COMMIT")
            end = time.monotonic() + hostile.DEADLINE
            while journal_mode(self.database) != "wal" and time.monotonic() < end:
                time.sleep(0.2)
            self.assertEqual(journal_mode(self.database), "wal", "the program never opened the file")
        finally:
            db.close()
            self.assertTrue(program.stop(), "the program ended before it was stopped")


# The inherited cases run in their own suite.
for name in [n for n in dir(hostile.HostileEnvironment) if n.startswith("test_")]:
    setattr(HostileStore, name, None)

if __name__ == "__main__":
    hostile.BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
