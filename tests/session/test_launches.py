# Starts the real program as a desktop would, many copies at the same moment, on a session bus
# and without one (then in a temporary folder that another user planted): exactly one copy
# keeps running, every other start hands over to it and ends with status 0, and SIGTERM ends
# that copy through its orderly shutdown, with status 0.
# Usage: test_launches.py <perchlight>; PERCH_RACE_ROUNDS sets the rounds (default 10).

import os
import signal
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from harness import TIMEOUT, Program, scratch_env, stop_group, wait_until  # noqa: E402

LAUNCHES = 20
ROUNDS = int(os.environ.get("PERCH_RACE_ROUNDS", "10"))


class Launches(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="perch-launches-")
        self.env = {**scratch_env(self.root), "QT_QPA_PLATFORM": "offscreen", "TMPDIR": self.root,
                    "DBUS_SESSION_BUS_ADDRESS": f"unix:path={self.root}/no-bus"}
        self.programs = []
        self.addCleanup(lambda: [stop_group(p) for p in self.programs])

    def launch(self, *command):
        self.programs.append(Program(list(command or sys.argv[1:]), self.env, self.root))
        return self.programs[-1]

    def stop(self, program):
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(TIMEOUT), 0, "SIGTERM ends the program through its orderly shutdown")

    def race(self):
        # LAUNCHES copies at once; the copy left running.
        programs = [self.launch() for _ in range(LAUNCHES)]
        wait_until(lambda: sum(p.running() for p in programs) <= 1, "all starts but one to end")
        running = [p for p in programs if p.running()]
        self.assertEqual([p.returncode for p in programs if not p.running()], [0] * (LAUNCHES - 1),
                         [p.error_text() for p in programs])
        # It answers a later start: only then is it surely the one.
        self.assertEqual(self.launch().wait(TIMEOUT), 0)
        self.assertTrue(running[0].running())
        self.stop(running[0])
        return running[0]

    def test_simultaneous_starts_leave_one_copy(self):
        del self.env["XDG_RUNTIME_DIR"]
        planted = Path(self.root, f"portraitperch-{os.getuid()}")
        os.symlink(self.root, planted)  # refused as another user's folder is
        for _ in range(ROUNDS):
            errors = self.race().error_text()
            notices = [line for line in errors.splitlines() if str(planted) in line]
            self.assertEqual(len(notices), 1, errors)
            self.assertRegex(notices[0], rf"using {planted}-\w+ instead$")

        bus = self.launch("dbus-daemon", "--session", "--nofork", "--print-address=1",
                          f"--address=unix:dir={self.root}")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = wait_until(lambda: bus.output_text().strip(), "the bus")
        for _ in range(ROUNDS):
            self.race()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
