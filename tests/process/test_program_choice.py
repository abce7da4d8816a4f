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
if [ -n "${GLXINFO_FAILS:-}" ]; then
    echo "Error: unable to open display $DISPLAY" >&2
    exit 1
fi
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

    def test_the_cuda_program_only_where_the_displays_opengl_is_nvidias(self):
        # (case, environment, program, render offload, words of the line printed or None for silence)
        headless = "shallow-water-headless runs the simulation on the GPU without a display."
        cases = [
            ("no GPU", dict(gpu=False, DISPLAY=":5", DISPLAY_GL_VENDOR="NVIDIA Corporation"),
             "shallow-water-cpu", False, None),
            ("NVIDIA's OpenGL", dict(DISPLAY=":5", DISPLAY_GL_VENDOR="NVIDIA Corporation"),
             "shallow-water", False, None),
            ("no display", dict(DISPLAY_GL_VENDOR="NVIDIA Corporation"),
             "shallow-water-cpu", False, ["no display", headless]),
            ("Mesa's OpenGL", dict(DISPLAY=":5", DISPLAY_GL_VENDOR="Mesa"),
             "shallow-water-cpu", False, ["display :5's OpenGL is Mesa's, not NVIDIA's", headless]),
            ("PRIME", dict(DISPLAY=":5", DISPLAY_GL_VENDOR="Intel", OFFLOAD_RENDERS="1"),
             "shallow-water", True, ["Intel's", "PRIME render offload"]),
            ("no glxinfo", dict(glxinfo=False, DISPLAY=":5"),
             "shallow-water-cpu", False, ["glxinfo, package mesa-utils", headless]),
            ("glxinfo fails", dict(DISPLAY=":5", GLXINFO_FAILS="1"),
             "shallow-water-cpu", False, ["cannot be read", headless]),
        ]
        for case, env, program, offload, words in cases:
            with self.subTest(case):
                for stand_in in os.listdir(self.bin):
                    os.remove(os.path.join(self.bin, stand_in))
                name, offloaded, printed = self.choose(**env)
                self.assertEqual((name, offloaded), (program, offload))
                if words is None:
                    self.assertEqual(printed, "")
                else:
                    self.assertEqual(len(printed.splitlines()), 1, printed)
                    for word in words:
                        self.assertIn(word, printed)

    def test_a_driver_that_lists_no_gpu_is_no_gpu(self):
        write_program(self.bin, "nvidia-smi", "#!/bin/sh\necho 'NVIDIA-SMI has failed' >&2\nexit 9\n")
        self.assertEqual(self.choose(gpu=False, DISPLAY=":5", DISPLAY_GL_VENDOR="NVIDIA Corporation"),
                         ("shallow-water-cpu", False, ""))

if __name__ == "__main__":
    unittest.main()
