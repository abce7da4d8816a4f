"""Runs the real programs for process-level tests and watches their window
through the X11 test tool; keys and the mouse reach it through the X server
(xdotool's XTEST events). Paths come from the environment that CTest sets."""
import os
import shlex
import subprocess
import time

PROGRAM = os.environ.get("SHALLOW_WATER_CPU", "")
HEADLESS = os.environ.get("SHALLOW_WATER_HEADLESS_CPU", "")
WINDOW_TOOL = os.environ.get("X11_WINDOW_TOOL", "")
ARTIFACTS = os.environ.get("TEST_ARTIFACTS", "test-artifacts")
TITLE = "Hello World"
# A cross-built program and tool run under the emulator that CTest names.
EMULATOR = shlex.split(os.environ.get("SHALLOW_WATER_EMULATOR", ""))


def environment(**overrides):
    env = dict(os.environ)
    for name in ("SHALLOW_WATER_CPU_FAIL", "SHALLOW_WATER_CPU_DEVICES", "SHALLOW_WATER_FPS"):
        env.pop(name, None)
    env.update(overrides)
    return env


def run_to_end(args=(), timeout=120, **env):
    """Runs the program until it exits by itself; returns (status, out, err)."""
    done = subprocess.run([*EMULATOR, PROGRAM, *args], env=environment(**env), capture_output=True, text=True,
                          timeout=timeout)
    return done.returncode, done.stdout, done.stderr


class RunningProgram:
    """The program started in the background, for tests that interact with
    its window; stopped for certain when the test leaves the block."""

    def __init__(self, args=(), cwd=None, **env):
        self.process = subprocess.Popen([*EMULATOR, PROGRAM, *args], env=environment(**env), stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, cwd=cwd)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
        self.process.communicate()

    def window(self, timeout_ms=60000):
        """(count, width, height) of the windows with the program's title."""
        done = subprocess.run([*EMULATOR, WINDOW_TOOL, "find", TITLE, str(timeout_ms)], capture_output=True, text=True)
        count, width, height = (int(v) for v in done.stdout.split())
        return count, width, height

    def close(self):
        return subprocess.run([*EMULATOR, WINDOW_TOOL, "close", TITLE]).returncode == 0

    def screenshot(self, name, title=TITLE):
        os.makedirs(ARTIFACTS, exist_ok=True)
        path = os.path.join(ARTIFACTS, name)
        done = subprocess.run([*EMULATOR, WINDOW_TOOL, "screenshot", title, path])
        return path if done.returncode == 0 else None

    def window_id(self, timeout=60):
        """The X window of the program's process (its title may change)."""
        deadline = time.monotonic() + timeout
        while True:
            done = subprocess.run(["xdotool", "search", "--pid", str(self.process.pid), "--name", "^Hello World"],
                                  capture_output=True, text=True)
            if done.stdout.split():
                return done.stdout.split()[-1]
            if time.monotonic() > deadline:
                raise TimeoutError("no window of the program")
            time.sleep(0.2)

    def title(self):
        return subprocess.run(["xdotool", "getwindowname", self.window_id()], capture_output=True,
                              text=True).stdout.rstrip("\n")

    def press(self, *keys):
        """Key presses as a person makes them: focus on the window, then each
        key down and up through the X server."""
        window = self.window_id()
        subprocess.run(["xdotool", "windowfocus", window], check=True)
        for key in keys:
            subprocess.run(["xdotool", "key", key], check=True)

    def click(self, x, y):
        """A left click at (x, y) of the window, from its top left."""
        window = self.window_id()
        subprocess.run(["xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1"], check=True)

    def type_into(self, x, y, text, hold=1.0):
        """Ctrl and a click at (x, y) of the window, which makes a slider of
        the settings panel a text field, then the text and Enter. Ctrl and
        Enter are held for `hold` seconds: the panel reads which keys are
        down once a frame, and a slow (emulated) frame could miss a key
        pressed and released within it."""
        window = self.window_id()
        subprocess.run(["xdotool", "windowfocus", window], check=True)
        subprocess.run(["xdotool", "mousemove", "--window", window, str(x), str(y), "keydown", "ctrl"], check=True)
        time.sleep(hold)
        subprocess.run(["xdotool", "click", "1"], check=True)
        time.sleep(hold)
        subprocess.run(["xdotool", "keyup", "ctrl"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "50", text], check=True)
        subprocess.run(["xdotool", "keydown", "Return"], check=True)
        time.sleep(hold)
        subprocess.run(["xdotool", "keyup", "Return"], check=True)
        time.sleep(hold)

    def resize(self, width, height):
        subprocess.run(["xdotool", "windowsize", self.window_id(), str(width), str(height)], check=True)

    def wait(self, timeout=60):
        out, err = self.process.communicate(timeout=timeout)
        return self.process.returncode, out, err

    def frames_drawn_after(self, seconds):
        """Lets the program run; true if it is still running afterwards."""
        time.sleep(seconds)
        return self.process.poll() is None
