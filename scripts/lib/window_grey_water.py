"""Screenshots the "Hello World" window with the X11 window tool until it
shows the still water (grey 127 in at least 95 % of its pixels, no coloured
pixel), or two minutes pass. Usage: window_grey_water.py WINDOW_TOOL FILE.png
Exit status 0 when the water is there, 1 otherwise."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "process"))
from test_display import STILL_WATER, read_png_rgb  # noqa: E402


def main(tool, path):
    deadline = time.monotonic() + 120
    summary = "no screenshot"
    while time.monotonic() < deadline:
        if subprocess.run([tool, "screenshot", "Hello World", path], capture_output=True).returncode == 0:
            width, height, rows = read_png_rgb(path)
            pixels = [pixel for row in rows for pixel in row]
            still = sum(1 for pixel in pixels if pixel == STILL_WATER)
            coloured = sum(1 for r, g, b in pixels if r != g or g != b)
            summary = f"{width} x {height}, {still} of {len(pixels)} pixels still water, {coloured} coloured"
            if (width, height) == (640, 480) and still >= 0.95 * len(pixels) and coloured == 0:
                print(f"   screenshot {summary}")
                return 0
        time.sleep(0.5)
    print(f"   no grey water in the window: {summary} ({path})")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
