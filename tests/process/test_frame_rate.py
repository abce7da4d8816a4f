"""The frame-rate readout of the real program: off unless asked for, and
then one plausible figure a second."""
import re
import unittest

from program_runner import EMULATOR, RunningProgram


class FrameRateReadout(unittest.TestCase):
    def test_one_line_a_second_when_asked_for(self):
        with RunningProgram(SHALLOW_WATER_FPS="1") as program:
            self.assertEqual(program.window()[0], 1)
            self.assertTrue(program.frames_drawn_after(3.5), "the program ended by itself")
            self.assertTrue(program.close())
            status, out, err = program.wait()
        self.assertEqual((status, out), (0, ""))
        lines = err.splitlines()
        self.assertGreaterEqual(len(lines), 2, err)
        for line in lines:
            match = re.fullmatch(r"(\d+\.\d) frames per second", line)
            self.assertIsNotNone(match, line)
            # Any working frame loop shows at least a frame a second (a
            # frame takes seconds under an emulator), and none shows more
            # than a few thousand.
            slowest = 0.05 if EMULATOR else 0.5
            self.assertTrue(slowest <= float(match.group(1)) < 5000, line)

    def test_silent_when_set_to_zero(self):
        with RunningProgram(SHALLOW_WATER_FPS="0") as program:
            self.assertEqual(program.window()[0], 1)
            self.assertTrue(program.frames_drawn_after(1.5), "the program ended by itself")
            self.assertTrue(program.close())
            status, out, err = program.wait()
        self.assertEqual((status, out, err), (0, "", ""))


if __name__ == "__main__":
    unittest.main()
