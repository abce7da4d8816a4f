# Which program scripts/run starts. Source it after common.sh; it expects
# `set -euo pipefail` in the caller.
#
# The CUDA program hands its pixels to OpenGL through a buffer that CUDA
# and GL share, which works only when the window's GL context is on the
# NVIDIA driver. So a GPU is not enough: the display's OpenGL must be
# NVIDIA's too. A virtual display (Xvfb) draws with Mesa, and a
# hybrid-graphics laptop draws with the integrated GPU unless the NVIDIA
# driver is asked to render (PRIME render offload).

# The vendor of the OpenGL that the display offers now ("NVIDIA
# Corporation", "Mesa", ...), empty when it cannot be asked (no glxinfo, no
# GLX).
display_gl_vendor() {
    command -v glxinfo >/dev/null 2>&1 || return 0
    # glxinfo fails where the display offers no GLX: that is no vendor.
    { glxinfo -B 2>/dev/null || true; } | sed -n 's/^OpenGL vendor string: //p' | head -n 1
}

# choose_program BUILD_DIR: sets `program` to the program to start. Where
# the NVIDIA driver renders only when asked, exports the render-offload
# variables. Says why when a GPU is present and the CPU program is chosen.
choose_program() {
    local build_dir=$1
    program=$build_dir/shallow-water-cpu
    cuda_device_usable && [ -x "$build_dir/shallow-water" ] || return 0

    local headless_hint="shallow-water-headless runs the simulation on the GPU without a display."
    if [ -z "${DISPLAY:-}" ]; then
        echo "An NVIDIA GPU is present, but no display: a virtual display's OpenGL is Mesa's, which CUDA" \
            "cannot share the window's buffer with; starting shallow-water-cpu. $headless_hint"
        return 0
    fi
    local vendor offload_vendor
    vendor=$(display_gl_vendor)
    case "$vendor" in
        NVIDIA*) program=$build_dir/shallow-water; return 0 ;;
    esac
    offload_vendor=$(__NV_PRIME_RENDER_OFFLOAD=1 __GLX_VENDOR_LIBRARY_NAME=nvidia display_gl_vendor)
    case "$offload_vendor" in
        NVIDIA*)
            export __NV_PRIME_RENDER_OFFLOAD=1 __GLX_VENDOR_LIBRARY_NAME=nvidia
            echo "The display's OpenGL is ${vendor:-another driver}'s; asking the NVIDIA driver to render" \
                "(PRIME render offload) so that CUDA can share the window's buffer."
            program=$build_dir/shallow-water
            return 0
            ;;
    esac
    if [ -z "$vendor" ]; then
        echo "An NVIDIA GPU is present, but the display's OpenGL vendor cannot be read (glxinfo, package" \
            "mesa-utils); starting shallow-water-cpu. $headless_hint"
    else
        echo "An NVIDIA GPU is present, but display ${DISPLAY}'s OpenGL is ${vendor}'s, not NVIDIA's, and CUDA" \
            "cannot share the window's buffer with it; starting shallow-water-cpu. $headless_hint"
    fi
}
