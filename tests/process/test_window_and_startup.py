"""The real CPU program under an X server: its window, its end through the
window manager's close request, and a start-up that fails."""
import unittest

from program_runner import RunningProgram, run_to_end


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
    def test_model_allocation_failure_ends_with_status_0(self):
        status, out, err = run_to_end(SHALLOW_WATER_CPU_FAIL="cudaMalloc:2:2")
        self.assertEqual(status, 0)
        self.assertEqual(out, "CUDA Runtime API error 2: out of memory.\n")
        self.assertEqual(err, "Failed to allocate CUDA LB water model on GPU.\n")


if __name__ == "__main__":
    unittest.main()
