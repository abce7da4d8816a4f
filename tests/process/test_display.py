"""The depth image of the real CPU program: grey still water on the screen,
start-ups that fail in the display pipeline, and the exported GPU hint."""
import os
import re
import struct
import time
import unittest
import zlib

from program_runner import EMULATOR, PROGRAM, RunningProgram, run_to_end

STILL_WATER = (127, 127, 127)


def read_png_rgb(path):
    """(width, height, rows of (r, g, b) tuples) of an 8-bit RGB PNG as the
    window tool writes it, of an 8-bit grey one as the headless runner does,
    or of an RGBA one as a browser's screenshot is (no interlacing; the
    alpha is dropped)."""
    with open(path, "rb") as file:
        data = file.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    offset, compressed, header = 8, b"", None
    while offset < len(data):
        length, kind = struct.unpack(">I4s", data[offset:offset + 8])
        body = data[offset + 8:offset + 8 + length]
        offset += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (0, 2, 6) or interlace != 0:
        raise ValueError("expected 8-bit RGB, RGBA or grey without interlacing")
    raw = zlib.decompress(compressed)
    channels = {0: 1, 2: 3, 6: 4}[colour]
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride) if kind != 0 else ():
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + predictor) & 0xFF
        if channels > 1:
            rows.append([tuple(line[i:i + 3]) for i in range(0, stride, channels)])
        else:
            rows.append([(grey, grey, grey) for grey in line])
        previous = line
    return width, height, rows


def screenshot_of_still_water(program, name, timeout=120):
    """The first screenshot with still water in 95% of the window, or the
    last one taken by the deadline: (path, width, height, pixels). Still
    water shows that frames are being drawn: a window not yet drawn, which
    can be shown for seconds under an emulator, would pass for rain rings."""
    deadline = time.monotonic() + timeout
    shot = (None, 0, 0, [])
    while True:
        path = program.screenshot(name)
        if path is not None:
            width, height, rows = read_png_rgb(path)
            shot = (path, width, height, [pixel for row in rows for pixel in row])
            if still_water_pixels(shot[3]) >= 0.95 * len(shot[3]):
                return shot
        if time.monotonic() > deadline:
            return shot
        time.sleep(0.5)


def still_water_pixels(pixels):
    return sum(1 for pixel in pixels if pixel == STILL_WATER)


def elf_symbol(path, name):
    """(binding, size, bytes of its initial value) of a data symbol in the
    symbol table of a 64-bit little-endian ELF file; None if absent."""
    with open(path, "rb") as file:
        elf = file.read()
    if elf[:6] != b"\x7fELF\x02\x01":
        raise ValueError("not a 64-bit little-endian ELF file")
    section_offset, = struct.unpack_from("<Q", elf, 0x28)
    entry_size, count = struct.unpack_from("<HH", elf, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", elf, section_offset + i * entry_size) for i in range(count)]
    for _, kind, _, _, offset, size, link, _, _, symbol_size in sections:
        if kind != 2:  # SHT_SYMTAB
            continue
        strings = sections[link][4]
        for at in range(offset, offset + size, symbol_size):
            name_at, info, _, index, value, value_size = struct.unpack_from("<IBBHQQ", elf, at)
            end = elf.index(b"\0", strings + name_at)
            if elf[strings + name_at:end].decode() != name:
                continue
            section_address, section_file_offset = sections[index][3:5]
            start = section_file_offset + value - section_address
            return info >> 4, value_size, elf[start:start + value_size]
    return None


class GreyWater(unittest.TestCase):
    def test_the_window_shows_still_water_as_grey_127(self):
        with RunningProgram() as program:
            self.assertEqual(program.window(), (1, 640, 480))
            # The window may not be shown yet, nor the first frames drawn;
            # rain starts in frame 11 and leaves only small rings for a while.
            path, width, height, pixels = screenshot_of_still_water(program, "display-grey-water.png")
            still = still_water_pixels(pixels)
            self.assertIsNotNone(path, "no screenshot of the window")
            self.assertEqual((width, height), (640, 480))
            self.assertGreaterEqual(still, 0.95 * len(pixels), f"only {still} still-water pixels, see {path}")
            not_grey = [pixel for pixel in pixels if pixel[0] != pixel[1] or pixel[1] != pixel[2]]
            self.assertEqual(not_grey[:5], [], f"coloured pixels in {path}")

            self.assertTrue(program.close())
            status, out, err = program.wait()
            self.assertEqual((status, out, err), (0, "", ""))


    def test_rain_rings_show_in_the_window(self):
        # Rain starts in frame 11; its rings spread over the grey water. The
        # screenshot is the one in the README (docs/window.png).
        with RunningProgram() as program:
            self.assertEqual(program.window(), (1, 640, 480))
            path, _, _, pixels = screenshot_of_still_water(program, "display-rain.png")
            self.assertGreaterEqual(still_water_pixels(pixels), 0.95 * 640 * 480, f"no frames drawn, see {path}")
            # Rings on a tenth of the window make a fair picture (some 25 s
            # at full speed); a few hundredths are enough to pass. Emulated,
            # a frame takes seconds: there the first rings are enough.
            enough = 200 if EMULATOR else 0.03 * 640 * 480
            picture = enough if EMULATOR else 0.10 * 640 * 480
            deadline = time.monotonic() + 240
            rings = 0
            while time.monotonic() < deadline:
                time.sleep(2.0)
                path = program.screenshot("display-rain.png")
                if path is None:
                    continue
                _, _, rows = read_png_rgb(path)
                pixels = [pixel for row in rows for pixel in row]
                rings = sum(1 for pixel in pixels if pixel != STILL_WATER)
                if rings >= picture:
                    break
            self.assertGreaterEqual(rings, enough, f"hardly any rain rings in {path}")
            self.assertTrue(program.close())
            status, out, err = program.wait()
            self.assertEqual((status, out, err), (0, "", ""))


class FailureDuringFrames(unittest.TestCase):
    def test_a_failure_that_leaves_the_device_usable_is_reported_and_the_frames_go_on(self):
        # The second frame's streaming (the 8th launch) is refused once; the
        # rain that starts in frame 11 shows that the frames went on.
        with RunningProgram(SHALLOW_WATER_CPU_FAIL="cudaLaunchKernel:8:701") as program:
            self.assertEqual(program.window()[0], 1)
            path, _, _, pixels = screenshot_of_still_water(program, "display-after-a-failure.png")
            self.assertGreaterEqual(still_water_pixels(pixels), 0.95 * 640 * 480, f"no frames drawn, see {path}")
            deadline = time.monotonic() + 240
            rings = 0
            while rings < 200 and time.monotonic() < deadline and program.process.poll() is None:
                time.sleep(1.0)
                path = program.screenshot("display-after-a-failure.png")
                if path is not None:
                    _, _, rows = read_png_rgb(path)
                    rings = sum(1 for row in rows for pixel in row if pixel != STILL_WATER)
            self.assertGreaterEqual(rings, 200, "no rain rings: the frames did not go on")
            self.assertTrue(program.close())
            status, out, err = program.wait()
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, "CUDA Runtime API error 701: too many resources requested for launch.\n")


class DisplayStartUpFailure(unittest.TestCase):
    # Status 1, not 0, so that a script can tell these from a normal run.
    def test_failed_interop_registration_ends_with_status_1(self):
        status, out, err = run_to_end(SHALLOW_WATER_CPU_FAIL="cudaGraphicsGLRegisterBuffer:1:219")
        self.assertEqual(status, 1)
        # The registration's own status, and nothing from the release: a
        # registration that failed is not unregistered.
        self.assertEqual(out, "CUDA Runtime API error 219: invalid OpenGL or DirectX context.\n")
        self.assertEqual(err, "Failed to associated PBO with CUDA-OpenGL interoperability\n")

    def test_shader_that_does_not_compile_ends_with_status_1(self):
        # A GL driver that offers no GLSL 4.10 (the shader cache is off so
        # that the compiler really runs).
        status, out, err = run_to_end(MESA_GL_VERSION_OVERRIDE="3.3", MESA_GLSL_VERSION_OVERRIDE="330",
                                      MESA_SHADER_CACHE_DISABLE="true")
        self.assertEqual(status, 1)
        self.assertEqual(out, "")
        match = re.fullmatch(r"Vtx Compile failed:\n(.+)\nFailed to compile required OpenGL GLSL shaders\.\n", err,
                             re.DOTALL)
        self.assertIsNotNone(match, err)
        self.assertLessEqual(len(match.group(1)), 255)


class HybridGraphicsHint(unittest.TestCase):
    def test_program_carries_the_discrete_gpu_requests_with_value_1(self):
        # One for CUDA, one for OpenGL: the interop needs both on the same GPU.
        for name in ("NvOptimusEnablementCuda", "NvOptimusEnablement"):
            symbol = elf_symbol(os.path.realpath(PROGRAM), name)
            self.assertIsNotNone(symbol, f"{name} not found")
            binding, size, value = symbol
            self.assertEqual(binding, 1, f"{name} is not a global symbol")
            self.assertEqual((size, value), (4, struct.pack("<i", 1)), name)


if __name__ == "__main__":
    unittest.main()
