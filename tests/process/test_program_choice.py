"""Which program scripts/run starts, with stand-ins for nvidia-smi and
glxinfo on PATH: the CUDA program only where the display's OpenGL is
NVIDIA's (asking for PRIME render offload where that makes it so), the CPU
program with a line saying why everywhere else."""
import os
import stat
import subprocess
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")

GPU_LIST = "GPU 0: NVIDIA Stand-in (UUID: GPU-00000000-0000-0000-0000-000000000000)"

# Answers as glxinfo -B does: the vendor of the display's OpenGL, NVIDIA's
# when render offload is asked for and OFFLOAD_RENDERS is set.
GLXINFO = """#!/bin/sh
vendor="$DISPLAY_GL_VENDOR"
if [ "${__NV_PRIME_RENDER_OFFLOAD:-}" = 1 ] && [ "${__GLX_VENDOR_LIBRARY_NAME:-}" = nvidia ] && \
   [ -n "${OFFLOAD_RENDERS:-}" ]; then
    vendor="NVIDIA Corporation"
fi
echo "name of display: $DISPLAY"
echo "OpenGL vendor string: $vendor"
echo "OpenGL renderer string: stand-in"
"""


def write_program(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w") as file:
        file.write(text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


class ProgramChoice(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.bin = os.path.join(self.folder.name, "bin")
        self.build = os.path.join(self.folder.name, "build")
        os.makedirs(self.bin)
        os.makedirs(self.build)
        for program in ("shallow-water", "shallow-water-cpu"):
            write_program(self.build, program, "#!/bin/sh\n")

    def tearDown(self):
        self.folder.cleanup()

    def choose(self, gpu=True, glxinfo=True, **env):
        """(program's name, render offload asked for, what was printed)."""
        if gpu:
            write_program(self.bin, "nvidia-smi", f"#!/bin/sh\necho '{GPU_LIST}'\n")
        if glxinfo:
            write_program(self.bin, "glxinfo", GLXINFO)
        environment = {"PATH": f"{self.bin}:/usr/bin:/bin", **env}
        script = (f"set -euo pipefail; source '{SCRIPTS}/lib/common.sh'; source '{SCRIPTS}/lib/program_choice.sh'; "
                  f"choose_program '{self.build}'; "
                  "echo \"chosen: $(basename \"$program\") ${__NV_PRIME_RENDER_OFFLOAD:-}${__GLX_VENDOR_LIBRARY_NAME:-}\"")
        done = subprocess.run(["bash", "-c", script], env=environment, capture_output=True, text=True, timeout=60)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        *printed, chosen = done.stdout.splitlines()
        name, _, offload = chosen[len("chosen: "):].partition(" ")
        return name, offload == "1nvidia", "\n".join(printed)

    def test_without_an_nvidia_gpu_the_cpu_program_starts_silently(self):
        self.assertEqual(self.choose(gpu=False, DISPLAY=":5", DISPLAY_GL_VENDOR="Mesa"),
                         ("shallow-water-cpu", False, ""))
        # A driver that lists no GPU (nvidia-smi fails) is no GPU either.
        write_program(self.bin, "nvidia-smi", "#!/bin/sh\necho 'NVIDIA-SMI has failed' >&2\nexit 9\n")
        self.assertEqual(self.choose(gpu=False, DISPLAY=":5", DISPLAY_GL_VENDOR="NVIDIA Corporation"),
                         ("shallow-water-cpu", False, ""))

    def test_on_a_display_whose_opengl_is_nvidias_the_cuda_program_starts(self):
        self.assertEqual(self.choose(DISPLAY=":5", DISPLAY_GL_VENDOR="NVIDIA Corporation"),
                         ("shallow-water", False, ""))

    def test_without_a_display_the_cpu_program_starts_and_the_headless_runner_is_named(self):
        name, offload, printed = self.choose(DISPLAY_GL_VENDOR="NVIDIA Corporation")
        self.assertEqual((name, offload), ("shallow-water-cpu", False))
        self.assertIn("no display", printed)
        self.assertIn("shallow-water-headless runs the simulation on the GPU without a display.", printed)

    def test_a_display_drawn_by_another_driver_gets_the_cpu_program_with_the_reason(self):
        name, offload, printed = self.choose(DISPLAY=":5", DISPLAY_GL_VENDOR="Mesa")
        self.assertEqual((name, offload), ("shallow-water-cpu", False))
        self.assertIn("display :5's OpenGL is Mesa's, not NVIDIA's", printed)
        self.assertIn("shallow-water-headless runs the simulation on the GPU without a display.", printed)
        self.assertEqual(len(printed.splitlines()), 1)

    def test_prime_render_offload_is_asked_for_where_it_makes_the_opengl_nvidias(self):
        name, offload, printed = self.choose(DISPLAY=":5", DISPLAY_GL_VENDOR="Intel", OFFLOAD_RENDERS="1")
        self.assertEqual((name, offload), ("shallow-water", True))
        self.assertIn("PRIME render offload", printed)

    def test_an_unreadable_gl_vendor_gets_the_cpu_program_and_names_glxinfo(self):
        name, offload, printed = self.choose(glxinfo=False, DISPLAY=":5")
        self.assertEqual((name, offload), ("shallow-water-cpu", False))
        self.assertIn("glxinfo, package mesa-utils", printed)


if __name__ == "__main__":
    unittest.main()
