// OpenGL interop of the CPU runtime. A registered buffer is mapped for
// reading and writing in the current GL context, so the kernel's pixels go
// into the GL buffer just as they do on the GPU: registration, mapping,
// the mapped pointer and unmapping. Unregistering needs no GL (a program
// without a window may still release a registration) and is in
// device_runtime.cpp.
#include <glad/gl.h>

#include <cuda_gl_interop.h>

#include "graphics_resource.h"
#include "launch_workers.h"
#include "memory_access_hook.h"
#include "runtime_state.h"

using cpu_runtime::recordStatus;

namespace {

// The GL entry points come from the process's loader; without them there is
// no usable context.
bool glAvailable()
{
    return glad_glGetIntegerv != nullptr && glad_glBindBuffer != nullptr && glad_glMapBufferRange != nullptr &&
           glad_glUnmapBuffer != nullptr && glad_glIsBuffer != nullptr && glad_glGetBufferParameteriv != nullptr;
}

// Runs work with the buffer bound to GL_ARRAY_BUFFER and restores the
// previous binding afterwards, so the application's GL state is untouched.
template <typename Work>
auto withBoundBuffer(GLuint buffer, Work work)
{
    GLint previous = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &previous);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    auto result = work();
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(previous));
    return result;
}

cudaError_t unmap(cudaGraphicsResource* resource)
{
    if (!glAvailable()) return cudaErrorInvalidGraphicsContext;
    const GLboolean intact = withBoundBuffer(resource->buffer, [] { return glUnmapBuffer(GL_ARRAY_BUFFER); });
    resource->mapped = nullptr;
    resource->size = 0;
    return intact == GL_TRUE ? cudaSuccess : cudaErrorUnmapBufferObjectFailed;
}

// What mapping and unmapping check first: an armed failure, the list, and a
// GL context to map in. A failure is recorded as the last error.
cudaError_t checkResourceList(const char* callName, int count, cudaGraphicsResource_t* resources)
{
    cpu_runtime::beforeAccess({});  // the GL buffer is no device allocation
    const cudaError_t injected = cpu_runtime::injectedStatus(callName);
    if (injected != cudaSuccess) return recordStatus(injected);
    if (count <= 0 || resources == nullptr) return recordStatus(cudaErrorInvalidValue);
    if (!glAvailable()) return recordStatus(cudaErrorInvalidGraphicsContext);
    return cudaSuccess;
}

}  // namespace

cudaError_t cudaGLSetGLDevice(int device)
{
    return cpu_runtime::bindDevice("cudaGLSetGLDevice", device);
}

cudaError_t cudaGraphicsGLRegisterBuffer(cudaGraphicsResource_t* resource, unsigned int buffer, unsigned int flags)
{
    const cudaError_t injected = cpu_runtime::injectedStatus("cudaGraphicsGLRegisterBuffer");
    if (injected != cudaSuccess) return recordStatus(injected);
    if (resource == nullptr || flags > 2) return recordStatus(cudaErrorInvalidValue);
    if (!glAvailable()) return recordStatus(cudaErrorInvalidGraphicsContext);
    if (glIsBuffer(buffer) != GL_TRUE) return recordStatus(cudaErrorInvalidValue);
    *resource = new cudaGraphicsResource;
    (*resource)->buffer = buffer;
    (*resource)->unmap = unmap;
    return cudaSuccess;
}

cudaError_t cudaGraphicsMapResources(int count, cudaGraphicsResource_t* resources, cudaStream_t)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const cudaError_t status = checkResourceList("cudaGraphicsMapResources", count, resources);
    if (status != cudaSuccess) return status;
    for (int i = 0; i < count; ++i) {
        cudaGraphicsResource* resource = resources[i];
        if (resource == nullptr) return recordStatus(cudaErrorInvalidResourceHandle);
        if (resource->mapped != nullptr) return recordStatus(cudaErrorAlreadyMapped);
        GLint size = 0;
        void* pointer = withBoundBuffer(resource->buffer, [&] {
            glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
            return size > 0 ? glMapBufferRange(GL_ARRAY_BUFFER, 0, size, GL_MAP_READ_BIT | GL_MAP_WRITE_BIT)
                            : nullptr;
        });
        if (pointer == nullptr) return recordStatus(cudaErrorMapBufferObjectFailed);
        resource->mapped = pointer;
        resource->size = static_cast<size_t>(size);
    }
    return cudaSuccess;
}

cudaError_t cudaGraphicsResourceGetMappedPointer(void** devPtr, size_t* size, cudaGraphicsResource_t resource)
{
    const cudaError_t injected = cpu_runtime::injectedStatus("cudaGraphicsResourceGetMappedPointer");
    if (injected != cudaSuccess) return recordStatus(injected);
    if (devPtr == nullptr || size == nullptr) return recordStatus(cudaErrorInvalidValue);
    if (resource == nullptr) return recordStatus(cudaErrorInvalidResourceHandle);
    if (resource->mapped == nullptr) return recordStatus(cudaErrorNotMapped);
    *devPtr = resource->mapped;
    *size = resource->size;
    return cudaSuccess;
}

cudaError_t cudaGraphicsUnmapResources(int count, cudaGraphicsResource_t* resources, cudaStream_t)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const cudaError_t status = checkResourceList("cudaGraphicsUnmapResources", count, resources);
    if (status != cudaSuccess) return status;
    for (int i = 0; i < count; ++i) {
        cudaGraphicsResource* resource = resources[i];
        if (resource == nullptr) return recordStatus(cudaErrorInvalidResourceHandle);
        if (resource->mapped == nullptr) return recordStatus(cudaErrorNotMapped);
        const cudaError_t unmapStatus = unmap(resource);
        if (unmapStatus != cudaSuccess) return recordStatus(unmapStatus);
    }
    return cudaSuccess;
}
