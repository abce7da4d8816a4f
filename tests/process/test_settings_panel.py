"""The settings panel (G), driven through the X server as a person drives
it: shown and hidden it leaves the window as it was; values typed into its
sliders give the water that the headless runner's options give, and a value
beyond a slider's end stops there."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from program_runner import EMULATOR, HEADLESS, RunningProgram
from test_display import read_png_rgb, screenshot_of_still_water
from test_window_controls import PAUSED_TITLE, complete_png, poll, screen, settled_screenshot, step_in_title

# Where the panel's sliders are, in the window (the panel is fixed at its
# top left): Ctrl and a click there make each a text field.
STEPS_A_FRAME = (82, 69)
RAIN_CHANCE = (82, 112)
RELAXATION = (82, 191)
GRID_WIDTH, GRID_HEIGHT = 2688, 1536


def largest_relaxation():
    """The relaxation range's top, as the headless runner's help gives it."""
    done = subprocess.run([*EMULATOR, HEADLESS, "--help"], capture_output=True, text=True, check=True)
    match = re.search(r"--relaxation W[^,]*, ([\d.]+) to ([\d.]+)", done.stdout)
    return match.group(2)


def rows_shown_in_the_window(grid_rows, width, height):
    """For each pixel of a width x height view of the grid's image (nearest
    texel, row 0 at the top), the texels it may show: one, or two where the
    pixel's centre falls exactly on a boundary between texels."""
    def texels(pixel, pixels, texels_across):
        position = (2 * pixel + 1) * texels_across  # in units of 2 * pixels
        texel = position // (2 * pixels)
        return (texel,) if position % (2 * pixels) else (texel - 1, texel)

    columns = [texels(x, width, GRID_WIDTH) for x in range(width)]
    return [[{grid_rows[ty][tx] for ty in texels(y, height, GRID_HEIGHT) for tx in column} for column in columns]
            for y in range(height)]


class SettingsPanel(unittest.TestCase):
    def test_panel_settings_give_the_headless_runners_water_and_a_hidden_panel_leaves_the_window_as_it_was(self):
        folder = tempfile.mkdtemp()
        try:
            with RunningProgram(cwd=folder) as program:
                self.assertEqual(program.window(), (1, 640, 480))
                screenshot_of_still_water(program, "panel-start.png")
                program.press("space", "i")
                poll(lambda: PAUSED_TITLE.fullmatch(program.title()), "the pause")
                program.press("i")
                poll(lambda: program.title() == "Hello World", "the plain title again")
                before = settled_screenshot(program, "panel-before.png")

                # Shown, then hidden: the picture and the title as they were.
                program.press("g")
                poll(lambda: screen(program, "panel-shown.png") != before, "the panel")
                self.assertEqual(program.title(), "Hello World")
                program.press("g")
                poll(lambda: screen(program, "panel-hidden.png") == before, "the window as before the panel")
                self.assertEqual(program.title(), "Hello World")

                # Eight steps a frame, rain half the frames, and a relaxation
                # factor beyond the slider's end, which stops there.
                program.press("g")
                poll(lambda: screen(program, "panel-shown.png") != before, "the panel")
                program.type_into(*STEPS_A_FRAME, "8")
                program.type_into(*RAIN_CHANCE, "0.5")
                program.type_into(*RELAXATION, "5")
                program.press("r", "n", "n", "n", "i")
                poll(lambda: step_in_title(program) == 24, "three frames of eight steps")
                program.press("i")
                poll(lambda: program.title() == "Hello World", "the plain title again")
                saved = os.path.join(folder, "shallow-water-step-24.png")
                program.press("s")
                width, height, view = poll(lambda: complete_png(saved), "the saved view")

                # The panel hidden again: the window shows the saved view.
                program.press("g")
                poll(lambda: screen(program, "panel-hidden-again.png") == view, "the view without the panel")
                self.assertEqual(program.title(), "Hello World")
                program.press("Escape")
                status, out, err = program.wait()
            self.assertEqual((status, out, err), (0, "shallow-water-step-24.png\n", ""))

            image = os.path.join(folder, "headless.png")
            subprocess.run([*EMULATOR, HEADLESS, "--frames", "3", "--steps-per-frame", "8", "--rain-chance", "0.5",
                            "--relaxation", largest_relaxation(), "--png", image], check=True, capture_output=True)
            grid = read_png_rgb(image)[2]
            allowed = rows_shown_in_the_window(grid, width, height)
            wrong = [(x, y) for y in range(height) for x in range(width) if view[y][x] not in allowed[y][x]]
            self.assertEqual(wrong[:5], [], f"{len(wrong)} pixels differ from the headless runner's water")
            self.assertGreater(sum(p != (127, 127, 127) for row in view for p in row), 1000, "no rain to compare")
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
