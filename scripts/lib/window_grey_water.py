"""Screenshots the "Hello World" window with the X11 window tool until it
shows the still water (grey 127 in at least 95 % of its pixels, no coloured
pixel), or two minutes pass. With --panel, then presses G and waits for the
settings panel (coloured pixels in the window's top left, none elsewhere),
and G again for the grey window without it.
Usage: window_grey_water.py WINDOW_TOOL FILE.png [--panel]
Exit status 0 when all of it is seen, 1 otherwise."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "process"))
from test_display import STILL_WATER, read_png_rgb  # noqa: E402

# The panel stays within this part of the window's top left.
PANEL_RIGHT, PANEL_BOTTOM = 320, 440


def wait_for(tool, path, what, shows):
    """Screenshots until shows(width, height, rows) gives a summary that
    starts with "yes", or two minutes pass."""
    deadline = time.monotonic() + 120
    summary = "no screenshot"
    while time.monotonic() < deadline:
        if subprocess.run([tool, "screenshot", "Hello World", path], capture_output=True).returncode == 0:
            summary = shows(*read_png_rgb(path))
            if summary.startswith("yes"):
                print(f"   {what}: {summary[4:]}")
                return True
        time.sleep(0.5)
    print(f"   no {what} in the window: {summary} ({path})")
    return False


def still_water(width, height, rows):
    pixels = [pixel for row in rows for pixel in row]
    still = sum(1 for pixel in pixels if pixel == STILL_WATER)
    coloured = sum(1 for r, g, b in pixels if r != g or g != b)
    summary = f"{width} x {height}, {still} of {len(pixels)} pixels still water, {coloured} coloured"
    ok = (width, height) == (640, 480) and still >= 0.95 * len(pixels) and coloured == 0
    return ("yes " if ok else "") + summary


def grey_water(width, height, rows):
    coloured = sum(1 for row in rows for r, g, b in row if r != g or g != b)
    return ("yes " if coloured == 0 else "") + f"{coloured} coloured pixels"


def panel(width, height, rows):
    inside = outside = 0
    for y, row in enumerate(rows):
        for x, (r, g, b) in enumerate(row):
            if r != g or g != b:
                if x < PANEL_RIGHT and y < PANEL_BOTTOM:
                    inside += 1
                else:
                    outside += 1
    summary = f"{inside} coloured pixels in the panel's corner, {outside} elsewhere"
    return ("yes " if inside >= 1000 and outside == 0 else "") + summary


def press_g():
    window = subprocess.run(["xdotool", "search", "--name", "^Hello World$"], capture_output=True,
                            text=True).stdout.split()
    if not window:
        return False
    return subprocess.run(["xdotool", "windowfocus", window[-1], "key", "g"]).returncode == 0


def main(tool, path, with_panel):
    if not wait_for(tool, path, "still water", still_water):
        return 1
    if not with_panel:
        return 0
    base, extension = os.path.splitext(path)
    if not (press_g() and wait_for(tool, f"{base}-panel{extension}", "settings panel", panel)):
        return 1
    if not (press_g() and wait_for(tool, f"{base}-panel-hidden{extension}", "grey water again", grey_water)):
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or (len(sys.argv) == 4 and sys.argv[3] != "--panel"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2], len(sys.argv) == 4))
