# Shared by the scripts: dependency installation, builds, virtual display.
# Source it; it expects `set -euo pipefail` in the caller.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages the build and the tests need.
required_packages=(
    build-essential cmake pkg-config python3
    libglfw3-dev python3-glad libgl-dev libopengl-dev libx11-dev libpng-dev libimgui-dev
    libegl-dev libegl-mesa0
    libgtest-dev libgmock-dev
    xvfb xauth mesa-utils xdotool
    ffmpeg
    file
    clang-14 libclang-rt-14-dev
    ccache
)

# The browser version's build (scripts/web) and its tests in a real browser
# (scripts/web-check): Clang 19 compiles the WebAssembly, Emscripten links.
web_packages=(emscripten clang-19 llvm-19 python3)
web_test_packages=(chromium chromium-driver python3-selenium)

# Installs whatever is missing with apt-get (as root, or through sudo).
install_dependencies() {
    local missing=()
    for package in "${required_packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        use_compiler_cache
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    # One apt-get at a time: a stage in the background (scripts/test --full)
    # may install its packages while the one in front installs its own, and
    # apt-get fails at once on a lock that another holds.
    local apt_get=("${as_root[@]}" flock /tmp/shallow-water-apt.lock apt-get)
    "${apt_get[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive "${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
    use_compiler_cache
}

# Every build's compilers run through ccache (a build folder's first
# configure reads the launchers from the environment). Its cache is outside
# the clone, shared by every build: an entry is found by the compiler (its
# size and time), its whole command line and the source as preprocessed (the
# headers' contents included), so a hit is the object file that the compile
# would have made. The command line holds the clone's absolute paths, and is
# left so (no CCACHE_BASEDIR): the programs print __FILE__ in their error
# lines, which a relative path would change. A clone at the same path, and
# the new-machine check's root, find their earlier runs' entries.
use_compiler_cache() {
    command -v ccache >/dev/null 2>&1 || return 0
    export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/shallow-water/ccache}
    export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_CUDA_COMPILER_LAUNCHER=ccache
}

# configure_and_build PRESET: configures and builds with the configure and
# build presets of that name (CMakePresets.json, which holds every build's
# settings), into build/PRESET or the folder the preset names.
configure_and_build() {
    local preset=$1
    (cd "$repo_root" && cmake --preset "$preset" >/dev/null &&
        cmake --build --preset "$preset" --parallel "$(nproc)")
}

# Starts Xvfb on a free display number, exports DISPLAY, and stops the
# server when the calling script exits. A number is free when it has no lock
# file, no socket file and no abstract socket: the abstract sockets are
# shared by everything on the machine's network, a chroot included, so a
# server of the same number outside would take this one's clients.
display_number_in_use() {
    [ -e "/tmp/.X$1-lock" ] || [ -e "/tmp/.X11-unix/X$1" ] ||
        grep -q "@/tmp/.X11-unix/X$1\$" /proc/net/unix 2>/dev/null
}
start_virtual_display() {
    local number=90 tries
    for tries in $(seq 20); do
        while display_number_in_use "$number"; do number=$((number + 1)); done
        # -noreset: by default the server resets whenever its last client
        # leaves, and a program that connects during the reset fails to open
        # the display (seen as status 255 from the windowed program between
        # tests, under load).
        Xvfb ":${number}" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        virtual_display_pid=$!
        trap 'kill "$virtual_display_pid" 2>/dev/null || true' EXIT
        trap 'exit 130' INT TERM  # so that the server is stopped on an interrupt too
        for _ in $(seq 100); do
            [ -e "/tmp/.X11-unix/X${number}" ] && break
            kill -0 "$virtual_display_pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$virtual_display_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X${number}" ]; then
            export DISPLAY=":${number}"
            return 0
        fi
        # Another server took the number meanwhile: the next one.
        kill "$virtual_display_pid" 2>/dev/null || true
        number=$((number + 1))
    done
    echo "No virtual display could be started (Xvfb)" >&2
    return 1
}

# True when an NVIDIA GPU with a working driver is present.
cuda_device_usable() {
    command -v nvidia-smi >/dev/null 2>&1 && nvidia-smi -L 2>/dev/null | grep -q '^GPU'
}
