"""Starts the real program as a desktop would: many times at once, on a session bus and
without one, and into a temporary folder that another user planted. Exactly one copy must
keep running, every other start must hand over to it and end with status 0, and SIGTERM must
end the copy through its orderly shutdown (status 0).

Usage: test_launches.py <perchlight>; PERCH_RACE_ROUNDS sets the rounds (default 20)."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BINARY = None
LAUNCHES = 20
ROUNDS = int(os.environ.get("PERCH_RACE_ROUNDS", "20"))
DEADLINE = 60


def wait_until(condition, what):
    end = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > end:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


class Launches(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="perch-launches-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_"))}
        self.env.update(QT_QPA_PLATFORM="offscreen", DBUS_SESSION_BUS_ADDRESS=f"unix:path={self.root}/no-bus")
        for name in ("home", "config", "data", "runtime", "tmp"):
            os.makedirs(os.path.join(self.root, name), mode=0o700)
        self.env.update(HOME=f"{self.root}/home", XDG_CONFIG_HOME=f"{self.root}/config",
                        XDG_DATA_HOME=f"{self.root}/data", XDG_RUNTIME_DIR=f"{self.root}/runtime",
                        TMPDIR=f"{self.root}/tmp")
        self.programs = []
        self.addCleanup(lambda: [p.kill() for p in self.programs if p.poll() is None])

    def start_bus(self):
        config = os.path.join(self.root, "bus.conf")
        with open(config, "w") as f:
            f.write(f"<busconfig><type>session</type><listen>unix:dir={self.root}</listen><policy context='default'>"
                    "<allow send_destination='*'/><allow own='*'/></policy></busconfig>")
        bus = subprocess.Popen(["dbus-daemon", f"--config-file={config}", "--nofork", "--print-address"],
                               stdout=subprocess.PIPE, text=True)
        self.addCleanup(bus.wait)
        self.addCleanup(bus.terminate)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()

    def launch(self, log=None):
        self.programs.append(subprocess.Popen([BINARY], env=self.env, stdout=subprocess.DEVNULL,
                                              stderr=open(log, "w") if log else subprocess.DEVNULL))
        return self.programs[-1]

    def stop(self, program):
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(DEADLINE), 0, "SIGTERM ends the program through its orderly shutdown")

    def race(self):
        """Starts LAUNCHES copies at once; returns how many keep running."""
        programs = [self.launch() for _ in range(LAUNCHES)]
        wait_until(lambda: sum(p.poll() is None for p in programs) <= 1, "all starts but one to end")
        running = [p for p in programs if p.poll() is None]
        self.assertEqual([p.returncode for p in programs if p not in running], [0] * (LAUNCHES - len(running)))
        for program in running[1:]:
            self.stop(program)
        if running:  # the one copy answers a later start, and only then is it surely the one
            self.assertEqual(self.launch().wait(DEADLINE), 0)
            self.assertIsNone(running[0].poll())
            self.stop(running[0])
        return len(running)

    def test_simultaneous_starts_leave_one_copy_with_and_without_a_bus(self):
        for bus in (False, True):
            with self.subTest(bus=bus):
                if bus:
                    self.start_bus()
                left = [self.race() for _ in range(ROUNDS)]
                print(f"{'bus' if bus else 'no bus'}: {ROUNDS} rounds of {LAUNCHES} starts, copies left {left}")
                self.assertEqual(left, [1] * ROUNDS)

    def test_temporary_folder_planted_by_another_user(self):
        del self.env["XDG_RUNTIME_DIR"]
        planted = os.path.join(self.root, "tmp", f"portraitperch-{os.getuid()}")
        if os.getuid() == 0:
            os.mkdir(planted)
            os.chown(planted, 65534, 65534)
        else:
            os.symlink(self.root, planted)
        log = os.path.join(self.root, "first.log")
        first = self.launch(log)
        wait_until(lambda: "no system tray" in open(log).read(), "the first copy to have started")
        self.assertEqual(self.launch().wait(DEADLINE), 0, "a later start hands over to the first copy")
        self.assertIsNone(first.poll())
        self.stop(first)
        notices = [line for line in open(log) if planted in line]
        self.assertEqual(len(notices), 1, open(log).read())
        self.assertRegex(notices[0], rf"using {planted}-\w+ instead$")


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
