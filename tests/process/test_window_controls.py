"""The window's keys and mouse, sent through the X server: pause and step,
the figures in the title, the coloured view, the key help, Esc, and a drop
where the mouse clicks, at two window sizes. Every wait polls with a
generous deadline: a loaded machine may draw a frame a second."""
import os
import re
import shutil
import struct
import tempfile
import time
import unittest
import zlib

from program_runner import RunningProgram, run_to_end
from test_display import STILL_WATER, read_png_rgb, screenshot_of_still_water

DEADLINE = 120
PAUSED_TITLE = re.compile(r"Hello World - paused, (.+), step (\d+)")


def poll(condition, what, timeout=DEADLINE, interval=0.5):
    """The first true value of condition(), or a failure after the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not seen within {timeout} s")
        time.sleep(interval)


def screen(program, name):
    """Rows of (r, g, b) of a screenshot of the window, retried while the
    window tool cannot take one."""
    return read_png_rgb(poll(lambda: program.screenshot(name), "a screenshot"))[2]


def settled_screenshot(program, name):
    """Rows of the window once two screenshots a second apart are the same."""
    shots = [None]

    def same_as_a_second_ago():
        shots.append(screen(program, name))
        return shots[-1] if shots[-1] == shots[-2] else None

    return poll(same_as_a_second_ago, "a still picture", interval=1.0)


def cpu_seconds(pid):
    """User and system time of the process so far."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def complete_png(path):
    """The PNG at path once it is there and complete, else None."""
    try:
        return read_png_rgb(path)
    except (OSError, ValueError, TypeError, zlib.error, struct.error):
        return None


def step_in_title(program):
    match = PAUSED_TITLE.fullmatch(program.title())
    return int(match.group(2)) if match else None


class PauseStepViewAndKeys(unittest.TestCase):
    def test_pause_holds_the_picture_idle_and_the_keys_step_show_figures_colour_and_close(self):
        with RunningProgram() as program:
            self.assertEqual(program.window(), (1, 640, 480))
            screenshot_of_still_water(program, "controls-running.png")
            # Rings make a step visible: wait for the first drops' rings.
            poll(lambda: sum(p != STILL_WATER for row in screen(program, "controls-running.png")
                             for p in row) > 500, "rain rings")

            # The title says when the pause has taken effect: on a slow
            # (emulated) machine two screenshots a second apart can match
            # while it still runs.
            program.press("space", "i")
            poll(lambda: PAUSED_TITLE.fullmatch(program.title()), "the pause")
            program.press("i")
            poll(lambda: program.title() == "Hello World", "the plain title again")
            paused = settled_screenshot(program, "controls-paused.png")
            time.sleep(1.0)
            self.assertEqual(screen(program, "controls-paused.png"), paused, "the picture moved")
            used = cpu_seconds(program.process.pid)
            time.sleep(5.0)
            used = cpu_seconds(program.process.pid) - used
            self.assertLess(used, 0.05 * 5.0, f"paused, it used {used:.2f} s of a core in 5 s")

            # I: the step in the title; each Right or N is one step more.
            program.press("i")
            title = poll(lambda: PAUSED_TITLE.fullmatch(program.title()), "the paused figures")
            self.assertIn("CPU (", title.group(1))
            step = int(title.group(2))
            program.press("Right")
            poll(lambda: step_in_title(program) == step + 1, "one step after Right")
            program.press("n", "Right")
            poll(lambda: step_in_title(program) == step + 3, "two more steps")
            time.sleep(1.0)
            self.assertEqual(step_in_title(program), step + 3, "a step that nobody asked for")
            program.press("i")
            poll(lambda: program.title() == "Hello World", "the plain title again")
            stepped = settled_screenshot(program, "controls-stepped.png")
            self.assertNotEqual(stepped, paused, "the steps did not show")

            # C: the same water coloured, then the same grey picture again.
            program.press("c")
            poll(lambda: sum(b > g > r for row in screen(program, "controls-coloured.png")
                             for r, g, b in row) >= 0.9 * 640 * 480, "the coloured view")
            program.press("c")
            poll(lambda: screen(program, "controls-grey-again.png") == stepped, "the grey view again")

            # Running again: the figures a second, then Esc ends the run.
            program.press("space", "i")
            poll(lambda: re.fullmatch(r"Hello World - [\d.]+ frames/s, [\d.]+ ms/step, [\d.]+ M cell updates/s, "
                                      r"CPU \(\w+ kernels\), step \d+", program.title()), "the running figures")
            program.press("h", "Escape")
            status, out, err = program.wait()
        self.assertEqual((status, err), (0, ""))
        self.assertRegex(out, r"^Keys and mouse of the window:\n(  .*\n)*  Esc +close the window\n  left mouse ")
        # --help ends with the same list.
        keys = out.split(":\n", 1)[1]
        self.assertTrue(run_to_end(["--help"])[1].endswith("In the window:\n" + keys))


class SavedViews(unittest.TestCase):
    def test_s_saves_the_view_as_shown_never_replacing_a_file_and_a_failed_save_leaves_the_window_running(self):
        folder = tempfile.mkdtemp()
        try:
            with RunningProgram(cwd=folder) as program:
                self.assertEqual(program.window(), (1, 640, 480))
                poll(lambda: sum(p != STILL_WATER for row in screen(program, "saved-running.png")
                                 for p in row) > 500, "rain rings")
                program.press("space", "i")
                step = poll(lambda: step_in_title(program), "the pause")
                program.press("i", "c")
                poll(lambda: program.title() == "Hello World", "the plain title again")
                poll(lambda: sum(b > g > r for row in screen(program, "saved-coloured.png")
                                 for r, g, b in row) >= 0.9 * 640 * 480, "the coloured view")
                coloured = settled_screenshot(program, "saved-coloured.png")

                # Twice at the same step: the second file takes a name of its own.
                first = os.path.join(folder, f"shallow-water-step-{step}.png")
                second = os.path.join(folder, f"shallow-water-step-{step}-2.png")
                program.press("s")
                poll(lambda: complete_png(first), "the saved view")
                program.press("s")
                poll(lambda: complete_png(second), "the second saved view")
                width, height, rows = read_png_rgb(first)
                self.assertEqual((width, height), (640, 480))
                self.assertEqual(rows, coloured, "the saved image is not the view on the screen")
                self.assertEqual(read_png_rgb(second)[2], coloured)

                # The folder gone, the save fails with its reason and the window goes on.
                shutil.rmtree(folder)
                program.press("s", "i")
                poll(lambda: PAUSED_TITLE.fullmatch(program.title()), "the window after the failed save")
                program.press("Escape")
                status, out, err = program.wait()
            self.assertEqual(status, 0)
            self.assertEqual(out, f"shallow-water-step-{step}.png\nshallow-water-step-{step}-2.png\n")
            self.assertEqual(err, f"Cannot write the image 'shallow-water-step-{step}.png': No such file or "
                                  "directory.\n")
        finally:
            shutil.rmtree(folder, ignore_errors=True)


class DropsWhereTheMouseClicks(unittest.TestCase):
    def ring_centre_after_click(self, program, x, y, width, height):
        """Restarts (paused: still water, no rain for ten steps), clicks at
        (x, y), steps five times; the centre of the disturbed pixels. The
        title's step count tells when the steps are done: on a slow machine
        (an emulator) the picture may stay still for seconds before them."""
        program.press("r")
        poll(lambda: all(p == STILL_WATER for row in screen(program, "controls-restart.png")
                         for p in row), "still water after R")
        # The step count in the title, 0 once the restart is done: a slow
        # window may take R and I in one pass and show the step before R.
        program.press("i")
        poll(lambda: step_in_title(program) == 0, "step 0 after R")
        program.click(x, y)
        program.press(*["n"] * 5)
        poll(lambda: step_in_title(program) == 5, "five steps after the click")
        program.press("i")  # the plain title, by which the window tool finds the window
        poll(lambda: program.title() == "Hello World", "the plain title again")
        rows = settled_screenshot(program, f"controls-click-{width}x{height}.png")
        self.assertEqual((len(rows[0]), len(rows)), (width, height))
        disturbed = [(column, row) for row, line in enumerate(rows) for column, p in enumerate(line)
                     if p != STILL_WATER]
        self.assertGreater(len(disturbed), 100, "no ring")
        columns, rows_at = zip(*disturbed)
        return (min(columns) + max(columns)) / 2, (min(rows_at) + max(rows_at)) / 2

    def test_a_click_makes_a_ring_centred_under_the_cursor_at_two_window_sizes(self):
        with RunningProgram() as program:
            self.assertEqual(program.window(), (1, 640, 480))
            screenshot_of_still_water(program, "controls-click-start.png")
            program.press("space")
            for width, height, x, y in ((640, 480, 180, 300), (900, 360, 610, 120)):
                if (width, height) != (640, 480):
                    program.resize(width, height)
                    poll(lambda: program.window()[1:] == (width, height), "the new window size")
                centre = self.ring_centre_after_click(program, x, y, width, height)
                self.assertLessEqual(abs(centre[0] - x), 3, f"ring at {centre}, click at {(x, y)}")
                self.assertLessEqual(abs(centre[1] - y), 3, f"ring at {centre}, click at {(x, y)}")
            program.press("Escape")
            status, out, err = program.wait()
        self.assertEqual((status, out, err), (0, "", ""))


if __name__ == "__main__":
    unittest.main()
