"""The headless runner as a program: its options, what it prints, the image
it writes and its exit statuses. The program's path comes from the
environment that CTest sets."""
import os
import pty
import re
import struct
import subprocess
import tempfile
import unittest
import zlib

PROGRAM = os.environ.get("SHALLOW_WATER_HEADLESS", "")

# Hashes after one frame: still water of depth 0.05 (0x3D4CCCCD) in all
# 2688 x 1536 cells, drawn grey 127 (bytes 7F 7F 7F FF).
STILL_WATER_DEPTH_HASH = "9cfa330088402325"
STILL_WATER_PIXEL_HASH = "c9c0d6c3b7ae2325"

FINAL_LINE = re.compile(r"^(\d+) frames in (\d+\.\d{3}) s, (\d+\.\d{3}) ms per frame$")


def run(*args, env=None, stderr=subprocess.PIPE, timeout=300):
    """Runs the program to its end; its output comes back as text, standard
    error only when it is not sent elsewhere."""
    environment = dict(os.environ)
    for name in ("SHALLOW_WATER_CPU_FAIL", "SHALLOW_WATER_CPU_DEVICES"):
        environment.pop(name, None)
    environment.update(env or {})
    return subprocess.run([PROGRAM, *args], env=environment, stdout=subprocess.PIPE, stderr=stderr, text=True,
                          timeout=timeout)


def png_header(path):
    """(width, height, bit depth, colour type) from a PNG's header chunk,
    after checking the signature and the chunk's CRC."""
    with open(path, "rb") as image:
        data = image.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG signature"
    length, kind = struct.unpack(">I4s", data[8:16])
    assert kind == b"IHDR" and length == 13
    body = data[16:29]
    (crc,) = struct.unpack(">I", data[29:33])
    assert crc == zlib.crc32(kind + body), "header CRC"
    width, height, depth, colour = struct.unpack(">IIBB", body[:10])
    return width, height, depth, colour


@unittest.skipUnless(PROGRAM, "SHALLOW_WATER_HEADLESS is not set")
class HeadlessRunner(unittest.TestCase):
    def test_one_frame_prints_the_still_water_hashes_and_writes_the_image(self):
        with tempfile.TemporaryDirectory() as folder:
            image = os.path.join(folder, "frame.png")
            done = run("--frames", "1", "--checksum", "--png", image)
            self.assertEqual(done.returncode, 0, done.stderr)
            lines = done.stdout.splitlines()
            self.assertEqual(len(lines), 3, done.stdout)
            self.assertEqual(lines[0], "h-fnv1a64: " + STILL_WATER_DEPTH_HASH)
            self.assertEqual(lines[1], "pixels-fnv1a64: " + STILL_WATER_PIXEL_HASH)
            final = FINAL_LINE.match(lines[2])
            self.assertIsNotNone(final, lines[2])
            self.assertEqual(final.group(1), "1")
            self.assertEqual(done.stderr, "")
            self.assertEqual(png_header(image), (2688, 1536, 8, 0))

    def test_without_outputs_only_the_timing_line_is_printed(self):
        done = run("--frames=2")
        self.assertEqual(done.returncode, 0, done.stderr)
        final = FINAL_LINE.match(done.stdout.strip())
        self.assertIsNotNone(final, done.stdout)
        frames, seconds, per_frame = int(final.group(1)), float(final.group(2)), float(final.group(3))
        self.assertEqual(frames, 2)
        # The seconds are rounded to milliseconds: half of one, over two frames.
        self.assertAlmostEqual(per_frame, seconds * 1000 / 2, delta=0.26)
        self.assertEqual(done.stderr, "", "no progress when standard error is not a terminal")

    def test_progress_is_shown_on_a_terminal_and_erased(self):
        controller, terminal = pty.openpty()
        try:
            done = run("--frames", "2", stderr=terminal)
        finally:
            os.close(terminal)
        shown = b""
        try:
            while True:
                chunk = os.read(controller, 4096)
                if not chunk:
                    break
                shown += chunk
        except OSError:
            pass  # the terminal's other end is closed: everything has been read
        os.close(controller)
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"\rframe 2 of 2 (100%)", shown)
        self.assertTrue(shown.endswith(b"\r"), shown)

    def test_bad_options_are_refused_before_anything_runs(self):
        for args in (["--frames", "0"], ["--frames", "ten"], ["--frames"], ["--png"], ["--speed", "3"]):
            done = run(*args)
            self.assertEqual(done.returncode, 2, args)
            self.assertEqual(done.stdout, "", args)
            self.assertIn("--help", done.stderr, args)
        done = run("--help")
        self.assertEqual(done.returncode, 0)
        self.assertIn("--frames N", done.stdout)

    def test_an_image_that_cannot_be_written_fails_the_run(self):
        with tempfile.TemporaryDirectory() as folder:
            image = os.path.join(folder, "missing", "frame.png")
            done = run("--frames", "1", "--png", image)
            self.assertEqual(done.returncode, 1)
            self.assertIn("Cannot write the image", done.stderr)
            self.assertFalse(os.path.exists(image))

    def test_cuda_failures_are_reported_and_fail_the_run(self):
        # No device: the model cannot be created.
        done = run("--frames", "1", env={"SHALLOW_WATER_CPU_DEVICES": ""})
        self.assertEqual(done.returncode, 1)
        self.assertIn("Failed to allocate CUDA LB water model on GPU.", done.stderr)
        # The pixel kernel of the first frame is rejected (the 6th launch:
        # initial state, collision, streaming, two fades, pixels): no hashes
        # of pixels that were never written.
        done = run("--frames", "1", "--checksum", env={"SHALLOW_WATER_CPU_FAIL": "cudaLaunchKernel:6:701"})
        self.assertEqual(done.returncode, 1)
        self.assertIn("CUDA Runtime API error 701: too many resources requested for launch.", done.stdout)
        self.assertNotIn("fnv1a64", done.stdout)


if __name__ == "__main__":
    unittest.main()
