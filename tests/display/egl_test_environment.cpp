// main() of the display tests that run without any window system: one
// OpenGL 4.1 core context made current through EGL with no surface at all.
// On a machine with the NVIDIA driver it comes from an NVIDIA device (the
// EGL device platform, no display needed), so that CUDA can share GL
// buffers with it; elsewhere from Mesa's surfaceless platform.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <glad/gl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

bool hasExtension(const char* extensions, const char* name)
{
    if (extensions == nullptr) return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(extensions, name); at != nullptr; at = std::strstr(at + 1, name)) {
        const bool starts = at == extensions || at[-1] == ' ';
        if (starts && (at[length] == ' ' || at[length] == '\0')) return true;
    }
    return false;
}

template <typename Function>
Function eglFunction(const char* name)
{
    return reinterpret_cast<Function>(eglGetProcAddress(name));
}

// An NVIDIA device of the EGL device platform (one that CUDA can also
// use), or no display when there is none.
EGLDisplay nvidiaDeviceDisplay(const char* clientExtensions)
{
    if (!hasExtension(clientExtensions, "EGL_EXT_platform_device")) return EGL_NO_DISPLAY;
    const auto queryDevices = eglFunction<PFNEGLQUERYDEVICESEXTPROC>("eglQueryDevicesEXT");
    const auto queryDeviceString = eglFunction<PFNEGLQUERYDEVICESTRINGEXTPROC>("eglQueryDeviceStringEXT");
    const auto getPlatformDisplay = eglFunction<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
    if (queryDevices == nullptr || queryDeviceString == nullptr || getPlatformDisplay == nullptr)
        return EGL_NO_DISPLAY;
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (queryDevices(16, devices, &count) != EGL_TRUE) return EGL_NO_DISPLAY;
    for (EGLint i = 0; i < count; ++i) {
        if (hasExtension(queryDeviceString(devices[i], EGL_EXTENSIONS), "EGL_NV_device_cuda"))
            return getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
    }
    return EGL_NO_DISPLAY;
}

EGLDisplay surfacelessDisplay(const char* clientExtensions)
{
    if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) return EGL_NO_DISPLAY;
    const auto getPlatformDisplay = eglFunction<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
    if (getPlatformDisplay == nullptr) return EGL_NO_DISPLAY;
    return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
}

class EglContextEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        display_ = nvidiaDeviceDisplay(clientExtensions);
        if (display_ == EGL_NO_DISPLAY) display_ = surfacelessDisplay(clientExtensions);
        ASSERT_NE(display_, EGL_NO_DISPLAY) << "neither an NVIDIA EGL device nor Mesa's surfaceless EGL platform";
        EGLint major = 0;
        EGLint minor = 0;
        ASSERT_EQ(eglInitialize(display_, &major, &minor), EGL_TRUE) << "eglInitialize: 0x" << std::hex
                                                                      << eglGetError();
        ASSERT_TRUE(hasExtension(eglQueryString(display_, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context"))
            << "a context without a surface is not offered";
        ASSERT_EQ(eglBindAPI(EGL_OPENGL_API), EGL_TRUE);

        const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                           EGL_NONE};
        EGLConfig config = nullptr;
        EGLint configs = 0;
        ASSERT_EQ(eglChooseConfig(display_, configAttributes, &config, 1, &configs), EGL_TRUE);
        ASSERT_EQ(configs, 1) << "no OpenGL configuration";
        // What the display's shaders need (GLSL 4.10).
        const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,       4,
                                            EGL_CONTEXT_MINOR_VERSION,       1,
                                            EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                            EGL_NONE};
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, contextAttributes);
        ASSERT_NE(context_, EGL_NO_CONTEXT) << "no OpenGL 4.1 core context: 0x" << std::hex << eglGetError();
        ASSERT_EQ(eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_), EGL_TRUE);
        ASSERT_NE(gladLoadGL(reinterpret_cast<GLADloadfunc>(eglGetProcAddress)), 0);
        std::fprintf(stderr, "OpenGL through EGL %d.%d: %s, %s, %s\n", major, minor,
                     reinterpret_cast<const char*>(glGetString(GL_VENDOR)),
                     reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                     reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    }

    void TearDown() override
    {
        if (display_ == EGL_NO_DISPLAY) return;
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
        eglTerminate(display_);
    }

private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new EglContextEnvironment);
    return RUN_ALL_TESTS();
}
