"""The headless runner as a program: its options, what it prints, the image
it writes and its exit statuses. The program's path comes from the
environment that CTest sets."""
import json
import os
import pty
import re
import resource
import select
import shlex
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

PROGRAM = os.environ.get("SHALLOW_WATER_HEADLESS", "")
# A cross-built program runs under the emulator that CTest names.
EMULATOR = shlex.split(os.environ.get("SHALLOW_WATER_EMULATOR", ""))

# Hashes after one frame: still water of depth 0.05 (0x3D4CCCCD) in all
# 2688 x 1536 cells, drawn grey 127 (bytes 7F 7F 7F FF).
STILL_WATER_DEPTH_HASH = "9cfa330088402325"
STILL_WATER_PIXEL_HASH = "c9c0d6c3b7ae2325"

FINAL_LINE = re.compile(r"^(\d+) frames in (\d+\.\d{3}) s, (\d+\.\d{3}) ms per frame$")


def run(*args, env=None, stderr=subprocess.PIPE, timeout=300, preexec_fn=None):
    """Runs the program to its end; its output comes back as text, standard
    error only when it is not sent elsewhere."""
    environment = dict(os.environ)
    for name in ("SHALLOW_WATER_CPU_FAIL", "SHALLOW_WATER_CPU_DEVICES"):
        environment.pop(name, None)
    environment.update(env or {})
    return subprocess.run([*EMULATOR, PROGRAM, *args], env=environment, stdout=subprocess.PIPE, stderr=stderr,
                          text=True, timeout=timeout, preexec_fn=preexec_fn)


def limit_file_size(limit):
    """For preexec_fn: writes past `limit` bytes fail (EFBIG) instead of
    ending the process."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
    return apply


def grey_frame(*ffmpeg_input):
    """One frame decoded by ffmpeg into 8-bit grey bytes, row 0 first."""
    done = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", *ffmpeg_input, "-frames:v", "1", "-f", "rawvideo",
                           "-pix_fmt", "gray", "-"], capture_output=True, check=True, timeout=120)
    return done.stdout


def mean_difference(first, second, where=None):
    indices = range(len(first)) if where is None else where
    total = count = 0
    for i in indices:
        total += abs(first[i] - second[i])
        count += 1
    return total / max(count, 1)


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


# The runner as a program: its options, outputs, signals and statuses.
@unittest.skipUnless(PROGRAM, "SHALLOW_WATER_HEADLESS is not set")
class HeadlessRunner(unittest.TestCase):
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
        for args in (["--frames", "0"], ["--frames", "ten"], ["--frames"], ["--png"], ["--speed", "3"], ["--video"],
                     ["--fps", "30"], ["--video", "v.mp4", "--fps", "0"], ["--video", "v.mp4", "--fps", "1001"],
                     ["--steps-per-frame", "0"], ["--steps-per-frame", "65"], ["--rain-chance", "0.51"],
                     ["--rain-chance", "-0.1"], ["--rain-chance", "nan"], ["--drop-radius", "0.99"],
                     ["--drop-radius", "257"], ["--drop-strength", "-0.00041"], ["--drop-strength", "inf"],
                     ["--drop-strength"], ["--no-rain=1"], ["--bench", "--steps-per-frame", "2"],
                     ["--bench", "--no-rain"], ["--relaxation", "0.19"], ["--relaxation", "1.21"],
                     ["--relaxation", "nan"], ["--relaxation", "abc"], ["--relaxation", "0.6x"], ["--relaxation"],
                     ["--bench", "--relaxation", "0.6666667"], ["--depth-range", "0.05,0.05"],
                     ["--depth-range", "0.051,0.05"], ["--depth-range", "0,0.05"], ["--depth-range", "0.04,0.11"],
                     ["--depth-range", "0.04"], ["--depth-range", "0.04,nan"], ["--depth-range", "abc,0.05"],
                     ["--depth-range", "0.04,0.05,0.06"], ["--bench", "--depth-range", "0.0495,0.0505"]):
            done = run(*args)
            self.assertEqual(done.returncode, 2, args)
            self.assertEqual(done.stdout, "", args)
            self.assertIn("--help", done.stderr, args)
        done = run("--help")
        self.assertEqual(done.returncode, 0)
        self.assertIn("--frames N", done.stdout)

    def test_bench_refuses_other_outputs(self):
        for args in (["--checksum"], ["--volume"], ["--png", "z.png"], ["--video", "z.mp4"],
                     ["--checksum", "--volume", "--png", "z.png"]):
            with tempfile.TemporaryDirectory() as folder:
                done = subprocess.run([*EMULATOR, PROGRAM, "--bench", *args], cwd=folder, capture_output=True,
                                      text=True, timeout=60)
                self.assertEqual(done.returncode, 2, args)
                self.assertEqual(done.stdout, "", args)
                self.assertIn("--bench only times the kernels: it cannot be combined with --checksum, --volume, "
                              "--png or --video\n", done.stderr)
                self.assertEqual(os.listdir(folder), [], args)

    def test_an_image_that_cannot_be_written_is_refused_before_the_first_frame(self):
        with tempfile.TemporaryDirectory() as folder:
            image = os.path.join(folder, "missing", "frame.png")
            # Two billion frames would take years: the refusal must come first.
            done = run("--frames", "2000000000", "--png", image, timeout=60)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stdout, "", "no frames were run")
            self.assertEqual(done.stderr, f"Cannot write the image '{image}': No such file or directory.\n")
            self.assertFalse(os.path.exists(image))

            done = run("--frames", "2000000000", "--png", folder, timeout=60)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stdout, "")
            self.assertEqual(done.stderr, f"Cannot write the image '{folder}': Is a directory.\n")

    def test_hashes_that_cannot_be_printed_fail_the_run_and_say_so(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        with open("/dev/full", "w") as full:
            ways = {  # standard output as given, what else the child does first, the reason
                "a full disk": (full, None, "No space left on device"),
                "a closed descriptor": (subprocess.DEVNULL, lambda: os.close(1), "Bad file descriptor"),
                "a reader that has gone": (write_end, None, "Broken pipe"),
            }
            for way, (stdout, before, reason) in ways.items():
                done = subprocess.run([*EMULATOR, PROGRAM, "--frames", "2", "--checksum"], stdout=stdout,
                                      stderr=subprocess.PIPE, text=True, timeout=300, preexec_fn=before)
                self.assertEqual(done.returncode, 1, way)
                self.assertEqual(done.stderr, f"{PROGRAM}: standard output could not be written ({reason}).\n", way)
        os.close(write_end)

    def test_a_failed_image_write_leaves_the_existing_file_untouched_a_good_one_replaces_it(self):
        with tempfile.TemporaryDirectory() as folder:
            image = os.path.join(folder, "frame.png")
            with open(image, "wb") as existing:
                existing.write(b"the user's own file")
            # The still-water image compresses to some kilobytes: 1000 bytes
            # make the write fail part way.
            done = run("--frames", "1", "--png", image, preexec_fn=limit_file_size(1000))
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stderr, f"Cannot write the image '{image}': File too large.\n")
            with open(image, "rb") as kept:
                self.assertEqual(kept.read(), b"the user's own file")
            self.assertEqual(os.listdir(folder), ["frame.png"], "no temporary file is left behind")
            # A write that succeeds replaces it, keeping its permissions and,
            # written through a symbolic link, the link.
            os.chmod(image, 0o600)
            os.symlink("frame.png", os.path.join(folder, "link.png"))
            done = run("--frames", "1", "--png", os.path.join(folder, "link.png"))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(png_header(image), (2688, 1536, 8, 0))
            self.assertEqual(os.stat(image).st_mode & 0o777, 0o600)
            self.assertEqual(os.readlink(os.path.join(folder, "link.png")), "frame.png")
            self.assertEqual(sorted(os.listdir(folder)), ["frame.png", "link.png"])

    def test_ctrl_c_ends_the_progress_line_and_the_run(self):
        controller, terminal = pty.openpty()
        process = subprocess.Popen([*EMULATOR, PROGRAM, "--frames", "100000", "--png", "never.png"],
                                   stdout=subprocess.PIPE, stderr=terminal, text=True, cwd=tempfile.gettempdir())
        os.close(terminal)
        shown = b""
        try:
            deadline = time.monotonic() + 120
            while b"frame " not in shown and time.monotonic() < deadline:
                if select.select([controller], [], [], 1.0)[0]:
                    shown += os.read(controller, 4096)
            self.assertIn(b"frame ", shown, "no progress line")
            process.send_signal(signal.SIGINT)
            out, _ = process.communicate(timeout=120)
            try:
                while select.select([controller], [], [], 1.0)[0]:
                    chunk = os.read(controller, 4096)
                    if not chunk:
                        break
                    shown += chunk
            except OSError:
                pass  # the terminal's other end is closed: everything has been read
        finally:
            if process.poll() is None:
                process.kill()
                process.communicate()
            os.close(controller)
        self.assertEqual(process.returncode, 130)
        self.assertEqual(out, "", "no timing line for an interrupted run")
        # The progress line is erased and the last line ends with a line end
        # (which the terminal shows as carriage return and line feed).
        last = shown.replace(b"\r\n", b"\n").split(b"\r")[-1]
        self.assertRegex(last.decode(), r"^Interrupted after \d+ of 100000 frames; nothing written\.\n$")
        self.assertFalse(os.path.exists(os.path.join(tempfile.gettempdir(), "never.png")))

    def test_stop_signals_to_the_process_group_end_the_run_with_nothing_written(self):
        # As a terminal or a service manager sends them: to the whole process
        # group. ffmpeg has a group of its own, so it neither complains of a
        # broken pipe nor leaves its temporary file behind.
        cases = [(signal.SIGINT, True), (signal.SIGTERM, False), (signal.SIGHUP, True)]
        if shutil.which("ffmpeg") is None:
            cases = [(number, False) for number, _ in cases]
        for number, with_video in cases:
            with self.subTest(signal=number.name, video=with_video), tempfile.TemporaryDirectory() as folder:
                outputs = ["--png", os.path.join(folder, "last.png")]
                if with_video:
                    outputs += ["--video", os.path.join(folder, "run.mp4")]
                process = subprocess.Popen([*EMULATOR, PROGRAM, "--frames", "100000", *outputs], stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, text=True, start_new_session=True)
                try:
                    time.sleep(3)  # frames are running (and ffmpeg encoding them)
                    self.assertIsNone(process.poll(), "the run ended by itself")
                    os.killpg(process.pid, number)
                    out, err = process.communicate(timeout=120)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.communicate()
                self.assertEqual(process.returncode, 128 + number)
                self.assertEqual(out, "")
                self.assertRegex(err, r"^Interrupted after \d+ of 100000 frames; nothing written\.\n$")
                self.assertEqual(os.listdir(folder), [])

    def test_without_ffmpeg_a_video_is_refused_before_the_first_frame(self):
        with tempfile.TemporaryDirectory() as folder:
            video = os.path.join(folder, "run.mp4")
            done = run("--frames", "2000000000", "--video", video, env={"PATH": folder}, timeout=60)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stdout, "")
            self.assertEqual(done.stderr, f"Cannot write the video '{video}': the ffmpeg program is not on PATH "
                                          "(install it, e.g. apt-get install ffmpeg).\n")
            self.assertEqual(os.listdir(folder), [])

    @unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("ffprobe"), "ffmpeg is not installed")
    def test_a_video_that_ffmpeg_cannot_make_fails_the_run_and_leaves_no_file(self):
        with tempfile.TemporaryDirectory() as folder:
            video = os.path.join(folder, "run.no-such-format")
            done = run("--frames", "2", "--video", video)
            self.assertEqual(done.returncode, 1)
            self.assertIn(f"Cannot write the video '{video}': ", done.stderr)
            self.assertEqual(os.listdir(folder), [])

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

    def test_a_sticky_error_is_reported_once_and_ends_the_run(self):
        # The second frame's streaming hits an illegal address; every later
        # call would fail with it too (the frees included).
        with tempfile.TemporaryDirectory() as folder:
            image = os.path.join(folder, "last.png")
            done = run("--frames", "50", "--checksum", "--png", image,
                       env={"SHALLOW_WATER_CPU_FAIL": "cudaLaunchKernel:8:700"})
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stdout, "CUDA Runtime API error 700: an illegal memory access was encountered.\n")
            self.assertEqual(done.stderr, "The CUDA device cannot continue after this error; the run ends.\n")
            self.assertEqual(os.listdir(folder), [])
        # Found only when the results are read back.
        done = run("--frames", "2", "--checksum", env={"SHALLOW_WATER_CPU_FAIL": "cudaMemcpy:1:719"})
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stdout, "CUDA Runtime API error 719: unspecified launch failure.\n")
        self.assertEqual(done.stderr, "The CUDA device cannot continue after this error; the run ends.\n")


# What the water looks like: the hashes, images and video of the runner's
# frames, which depend on the kernels as built for each processor.
@unittest.skipUnless(PROGRAM, "SHALLOW_WATER_HEADLESS is not set")
class HeadlessRunnerWater(unittest.TestCase):
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

    def test_settings_shape_the_run_and_their_defaults_are_the_programs_own(self):
        def hashes(*args):
            done = run("--checksum", *args)
            self.assertEqual(done.returncode, 0, done.stderr)
            return done.stdout.splitlines()[:2]
        # The first drop falls in frame 11; the depth shows its push from frame 13 on.
        rainy = hashes("--frames", "14")
        # Frames of several steps run the same steps; the defaults spelled out change nothing.
        self.assertEqual(hashes("--frames", "7", "--steps-per-frame", "2", "--rain-chance", "0.1", "--drop-radius",
                                "89.6", "--drop-strength", "0.0002"), rainy)
        no_rain = hashes("--frames", "14", "--no-rain")
        self.assertNotEqual(no_rain, rainy)
        self.assertEqual(no_rain[1], "pixels-fnv1a64: " + STILL_WATER_PIXEL_HASH)
        self.assertEqual(hashes("--frames", "14", "--rain-chance", "0"), no_rain)
        self.assertNotIn(hashes("--frames", "14", "--drop-strength", "-0.0002"), (rainy, no_rain))
        # The device constants' defaults written explicitly change no bit; another relaxation factor changes the
        # water, another depth range only the pixels.
        self.assertEqual(hashes("--frames", "14", "--relaxation", "0.6666667", "--depth-range", "0.0495,0.0505"),
                         rainy)
        viscous = hashes("--frames", "14", "--relaxation", "0.2")
        self.assertNotEqual(viscous[0], rainy[0])
        self.assertNotEqual(viscous[1], rainy[1])
        drawn = hashes("--frames", "14", "--depth-range=0.0499,0.0501")
        self.assertEqual(drawn[0], rainy[0])
        self.assertNotEqual(drawn[1], rainy[1])

    @unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("ffprobe"), "ffmpeg is not installed")
    def test_the_video_holds_every_frame_as_the_runner_draws_it(self):
        frames = 30  # rain starts in frame 11: the last frames show its rings
        with tempfile.TemporaryDirectory() as folder:
            video = os.path.join(folder, "run.mp4")
            image = os.path.join(folder, "last.png")
            done = run("--frames", str(frames), "--video", video, "--fps", "25", "--png", image)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, "")
            self.assertEqual(sorted(os.listdir(folder)), ["last.png", "run.mp4"])

            probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                    "-show_entries", "stream=codec_name,pix_fmt,width,height,nb_read_frames,"
                                    "r_frame_rate", "-of", "json", video],
                                   capture_output=True, text=True, check=True, timeout=120)
            stream = json.loads(probe.stdout)["streams"][0]
            self.assertEqual((stream["codec_name"], stream["pix_fmt"]), ("h264", "yuv420p"))
            self.assertEqual((stream["width"], stream["height"]), (2688, 1536))
            self.assertEqual(int(stream["nb_read_frames"]), frames)
            self.assertEqual(stream["r_frame_rate"], "25/1")

            last = grey_frame("-i", video, "-vf", f"select=eq(n\\,{frames - 1})", "-vsync", "0")
            first = grey_frame("-i", video)
            expected = grey_frame("-i", image)
            self.assertEqual(len(last), 2688 * 1536)
            self.assertEqual(len(expected), 2688 * 1536)
            rings = [i for i, level in enumerate(expected) if level != 127]
            self.assertGreater(len(rings), 10000, "the last frame shows rain")
            # H.264 loses a little: a level or two where the rings are, and
            # the rings of the last frame are not those of the first.
            on_rings = mean_difference(last, expected, rings)
            self.assertLess(on_rings, 2.0)
            self.assertLess(mean_difference(last, expected), 0.1)
            self.assertGreater(mean_difference(first, expected, rings), 4 * on_rings + 1)


if __name__ == "__main__":
    unittest.main()
