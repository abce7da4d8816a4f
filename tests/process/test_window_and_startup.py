"""The real CPU program under an X server: its window, its end through the
window manager's close request, a start-up that fails, a window system that
cannot open the window, and its usage text."""
import os
import shutil
import subprocess
import time
import unittest

from program_runner import EMULATOR, PROGRAM, RunningProgram, environment, run_to_end


def free_display_number():
    number = 150
    while os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
        number += 1
    return number


def run_without_display(**env):
    """Runs the program with DISPLAY and the like replaced by `env` (a value
    of None removes the variable); returns (status, out, err)."""
    variables = environment()
    for name, value in env.items():
        if value is None:
            variables.pop(name, None)
        else:
            variables[name] = value
    done = subprocess.run([*EMULATOR, PROGRAM], env=variables, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


class WindowLife(unittest.TestCase):
    def test_one_window_of_640_by_480_titled_hello_world_until_closed(self):
        with RunningProgram() as program:
            count, width, height = program.window()
            self.assertEqual((count, width, height), (1, 640, 480))
            self.assertTrue(program.frames_drawn_after(1.0), "the program ended by itself")
            self.assertTrue(program.close())
            status, out, err = program.wait()
            self.assertEqual(status, 0)
            self.assertEqual(out, "")
            self.assertEqual(err, "")


class FailedStartUp(unittest.TestCase):
    # Status 1, not 0, so that a script can tell it from a normal run.
    def test_model_allocation_failure_ends_with_status_1(self):
        status, out, err = run_to_end(SHALLOW_WATER_CPU_FAIL="cudaMalloc:2:2")
        self.assertEqual(status, 1)
        self.assertEqual(out, "CUDA Runtime API error 2: out of memory.\n")
        self.assertEqual(err, "Failed to allocate CUDA LB water model on GPU.\n")


class FailureDuringFrames(unittest.TestCase):
    """Launches, in order: the initial state, then per frame the collision,
    the streaming, two force decays and the pixels (no rain before frame
    11). A failure that leaves the device usable: test_display.py."""
    DEVICE_LOST = "The CUDA device cannot continue after this error; the run ends.\n"

    def test_a_sticky_error_is_reported_once_and_ends_the_run_with_status_1(self):
        # Every later call would fail with it too: the failing launch's line
        # once, no second frame's worth of lines, and the end.
        for status_code, text in ((700, "an illegal memory access was encountered"),
                                  (719, "unspecified launch failure"),
                                  (46, "CUDA-capable device(s) is/are busy or unavailable")):
            status, out, err = run_to_end(SHALLOW_WATER_CPU_FAIL=f"cudaLaunchKernel:8:{status_code}")
            self.assertEqual(status, 1, status_code)
            self.assertEqual(out, f"CUDA Runtime API error {status_code}: {text}.\n")
            self.assertEqual(err, self.DEVICE_LOST)

    def test_a_sticky_error_in_the_display_hand_over_prints_its_lines_then_ends(self):
        # The second frame's map fails: reported twice, the unmap that is
        # still tried fails with it, and the result once more.
        status, out, err = run_to_end(SHALLOW_WATER_CPU_FAIL="cudaGraphicsMapResources:2:700")
        self.assertEqual(status, 1)
        self.assertEqual(out, "CUDA Runtime API error 700: an illegal memory access was encountered.\n" * 4)
        self.assertEqual(err, self.DEVICE_LOST)


class WindowSystemFailure(unittest.TestCase):
    """No window can be opened: status 255 (-1), with GLFW's own
    description of what failed and a line saying what could not be done."""

    def test_without_display_variable(self):
        status, out, err = run_without_display(DISPLAY=None, WAYLAND_DISPLAY=None)
        self.assertEqual((status, out), (255, ""))
        self.assertEqual(err, "GLFW error 65544: X11: The DISPLAY environment variable is missing\n"
                              "Failed to initialize GLFW: no window can be opened.\n")

    def test_with_a_display_that_does_not_exist(self):
        display = f":{free_display_number()}"
        status, out, err = run_without_display(DISPLAY=display, WAYLAND_DISPLAY=None)
        self.assertEqual((status, out), (255, ""))
        self.assertEqual(err, f"GLFW error 65544: X11: Failed to open display {display}\n"
                              "Failed to initialize GLFW: no window can be opened.\n")

    @unittest.skipUnless(shutil.which("Xvfb"), "Xvfb is not installed")
    def test_on_an_x_server_without_glx(self):
        number = free_display_number()
        server = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "640x480x24", "-nolisten", "tcp",
                                   "-noreset", "-extension", "GLX"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 30
            while not os.path.exists(f"/tmp/.X11-unix/X{number}") and time.monotonic() < deadline:
                time.sleep(0.1)
            status, out, err = run_without_display(DISPLAY=f":{number}", WAYLAND_DISPLAY=None)
        finally:
            server.terminate()
            server.wait(timeout=30)
        self.assertEqual((status, out), (255, ""))
        self.assertEqual(err, "GLFW error 65542: GLX: GLX extension not found\n"
                              "Failed to create the window and its OpenGL context.\n")


class Usage(unittest.TestCase):
    def test_help_prints_the_usage_and_opens_no_window(self):
        for flag in ("--help", "-help", "-h"):
            # With an unusable display: the usage text needs none.
            done = subprocess.run([*EMULATOR, PROGRAM, "-device=0", flag], env=environment(DISPLAY=""),
                                  capture_output=True, text=True, timeout=60)
            self.assertEqual((done.returncode, done.stderr), (0, ""), flag)
            self.assertTrue(done.stdout.startswith(f"Usage: {PROGRAM} [-device=N] [-quiet]\n"), done.stdout)
            self.assertIn("-quiet      with -device=N, leave out that line\n", done.stdout)

        # A usage that cannot be printed is not a success.
        with open("/dev/full", "w") as full:
            done = subprocess.run([*EMULATOR, PROGRAM, "--help"], env=environment(DISPLAY=""), stdout=full,
                                  stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, f"{PROGRAM}: standard output could not be written (No space left on device).\n")


if __name__ == "__main__":
    unittest.main()
