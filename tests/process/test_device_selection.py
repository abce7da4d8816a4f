"""Device choice of the real CPU program, with device lists and failing
runtime calls set through the CPU runtime's environment variables: its
messages on standard output and standard error, and its exit status."""
import os
import re
import unittest

from program_runner import RunningProgram, run_to_end

SOURCE_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
HELPER_CUDA = os.path.join(SOURCE_ROOT, "gpu", "helper_cuda.cpp")
HELPER_CUDA_GL = os.path.join(SOURCE_ROOT, "gpu", "helper_cuda_gl.cpp")

ONE_DEVICE = "Only GPU,5.2,4,1000000"
TWO_DEVICES = "First GPU,5.2,4,1000000;Second GPU,5.2,2,1000000"
NO_DEVICE_EXIT = "no CUDA capable devices found, exiting...\n"
FATAL_LINE = re.compile(r'^CUDA error at (.+):(\d+) code=(-?\d+)\((.*)\) "(.*)" \n$')


def check_site(source, call_text):
    """The line of `source` that checks `call_text` fatally (1-based)."""
    with open(source, encoding="utf-8") as f:
        lines = [n for n, text in enumerate(f, start=1) if f"REQUIRE_CUDA_SUCCESS({call_text})" in text]
    assert len(lines) == 1, f"{call_text} is checked {len(lines)} times in {source}"
    return lines[0]


def invalid_device_lines(count, ordinal):
    return (f"\n>> {count} CUDA capable GPU device(s) detected. <<\n"
            f">> gpuGLDeviceInit (-device={ordinal}) is not a valid GPU device. <<\n\n")


def run_until_closed(args=(), **env):
    """Runs the program until its window is up, closes the window, and
    returns (status, out, err). The device choice is over by the first frame,
    and the close request is read only after it."""
    with RunningProgram(args, **env) as program:
        count, _, _ = program.window()
        if count != 1:
            return program.wait()
        program.close()
        return program.wait()


class FatalLineTestCase(unittest.TestCase):
    def assertFatalLine(self, line, source, call_text, code, name):
        match = FATAL_LINE.match(line)
        self.assertIsNotNone(match, f"not the fatal line: {line!r}")
        path, number, reported_code, reported_name, reported_call = match.groups()
        self.assertTrue(os.path.exists(path) and os.path.samefile(path, source), f"{path} is not {source}")
        self.assertEqual(int(number), check_site(source, call_text))
        self.assertEqual((int(reported_code), reported_name, reported_call), (code, name, call_text))


class ExplicitDevice(FatalLineTestCase):
    # Status 1, not 0, so that a script can tell these from a normal run.
    def test_device_1_with_one_device_is_not_valid_and_ends_with_status_1(self):
        status, out, err = run_to_end(["-device=1"], SHALLOW_WATER_CPU_DEVICES=ONE_DEVICE)
        self.assertEqual((status, out, err), (1, NO_DEVICE_EXIT, invalid_device_lines(1, 1)))

    def test_a_huge_ordinal_is_clamped_and_reported_as_not_valid(self):
        status, out, err = run_to_end(["--DEVICE=99999999999999999999999"], SHALLOW_WATER_CPU_DEVICES=ONE_DEVICE)
        self.assertEqual((status, out, err), (1, NO_DEVICE_EXIT, invalid_device_lines(1, 2147483647)))

    def test_a_prohibited_device_ends_with_status_1(self):
        status, out, err = run_to_end(["-device=1"], SHALLOW_WATER_CPU_DEVICES="Usable,5.2,4,1000000;Locked,5.2,4,1000000,2")
        self.assertEqual(status, 1)
        self.assertEqual(out, NO_DEVICE_EXIT)
        self.assertEqual(err, "Error: device is running in <Compute Mode Prohibited>, no threads can use ::cudaSetDevice().\n")

    def test_a_device_without_cuda_ends_with_status_1(self):
        status, out, err = run_to_end(["-device=0"], SHALLOW_WATER_CPU_DEVICES="Old,0.0,1,100000")
        self.assertEqual((status, out, err), (1, "", "Error: device does not support CUDA.\n"))

    def test_no_device_at_all_is_a_fatal_count_query(self):
        status, out, err = run_to_end(["-device=0"], SHALLOW_WATER_CPU_DEVICES="")
        self.assertEqual((status, out), (1, ""))
        self.assertFatalLine(err, HELPER_CUDA_GL, "cudaGetDeviceCount(&deviceCount)", 100, "cudaErrorNoDevice")

    def test_a_failed_binding_is_fatal(self):
        status, out, err = run_to_end(["-device=0"], SHALLOW_WATER_CPU_DEVICES=ONE_DEVICE,
                                      SHALLOW_WATER_CPU_FAIL="cudaGLSetGLDevice:1:219")
        self.assertEqual((status, out), (1, ""))
        using, fatal = err.splitlines(keepends=True)
        self.assertEqual(using, "Using device 0: Only GPU\n")
        self.assertFatalLine(fatal, HELPER_CUDA_GL, "cudaGLSetGLDevice(dev)", 219, "cudaErrorInvalidGraphicsContext")

    def test_a_failed_property_query_is_fatal(self):
        status, out, err = run_to_end(["-device=0"], SHALLOW_WATER_CPU_DEVICES=ONE_DEVICE,
                                      SHALLOW_WATER_CPU_FAIL="cudaGetDeviceProperties:1:10")
        self.assertEqual((status, out), (1, ""))
        self.assertFatalLine(err, HELPER_CUDA_GL, "cudaGetDeviceProperties(&deviceProp, dev)", 10, "<unknown>")

    def test_the_requested_device_is_named_and_used(self):
        status, out, err = run_until_closed(["-device=1"], SHALLOW_WATER_CPU_DEVICES=TWO_DEVICES)
        self.assertEqual((status, out, err), (0, "", "Using device 1: Second GPU\n"))

    def test_quiet_hides_the_device_line(self):
        status, out, err = run_until_closed(["-device=0", "-quiet"], SHALLOW_WATER_CPU_DEVICES=TWO_DEVICES)
        self.assertEqual((status, out, err), (0, "", ""))


class AutomaticDevice(FatalLineTestCase):
    def test_no_device_at_all_is_a_fatal_count_query(self):
        status, out, err = run_to_end(SHALLOW_WATER_CPU_DEVICES="")
        self.assertEqual((status, out), (1, ""))
        self.assertFatalLine(err, HELPER_CUDA, "cudaGetDeviceCount(&device_count)", 100, "cudaErrorNoDevice")

    def test_a_failed_count_query_is_fatal(self):
        status, out, err = run_to_end(SHALLOW_WATER_CPU_FAIL="cudaGetDeviceCount:1:3")
        self.assertEqual((status, out), (1, ""))
        self.assertFatalLine(err, HELPER_CUDA, "cudaGetDeviceCount(&device_count)", 3, "cudaErrorInitializationError")

    def test_all_devices_prohibited_ends_with_status_1(self):
        status, out, err = run_to_end(SHALLOW_WATER_CPU_DEVICES="A,5.2,4,1000000,2;B,3.5,8,1000000,2")
        self.assertEqual(status, 1)
        self.assertEqual(out, "")
        self.assertEqual(err, "gpuGetMaxGflopsDeviceId() CUDA error: all devices have compute mode prohibited.\n")

    def test_devices_is_not_the_device_flag(self):
        # Taken for the device flag, it would print "Using device 0: Only GPU".
        status, out, err = run_until_closed(["-devices=1"], SHALLOW_WATER_CPU_DEVICES=ONE_DEVICE)
        self.assertEqual((status, out, err), (0, "", ""))

    def test_an_unknown_architecture_is_reported_on_standard_output(self):
        status, out, err = run_until_closed(SHALLOW_WATER_CPU_DEVICES="Pascal,6.1,4,1000000;Locked,7.0,4,1000000,2")
        self.assertEqual(status, 0)
        self.assertEqual(out, "MapSMtoCores for SM 6.1 is undefined.  Default to use 128 Cores/SM\n")
        self.assertEqual(err, "")


if __name__ == "__main__":
    unittest.main()
