#pragma once
// OpenGL ES rendering contexts and share groups, over EGL on Mesa's surfaceless platform.
//
// There is no window system: a context has no surface and renders into framebuffer objects.
// The process opens the EGL display once, on first use, and never terminates it (the driver
// keeps internal state until exit).
//
// Guarantees:
// - A context is current on at most one thread at a time. setCurrentContext() on a second
//   thread while the context is current on another fails (the driver refuses) and answers NO;
//   code that shares a context between threads must hand work to the one thread that owns it
//   (GLThreadQueue.h).
// - Contexts made in one share group see each other's textures, buffers and programs. A group
//   outlives its contexts only as a name: once its last context is gone its objects are gone too.
// - currentContext() is per thread; the thread holds a reference to its current context, so a
//   context stays alive while it is current somewhere.

#include <mutex>
#include <vector>

#include <map>
#include <thread>

#include "foundation/NSObject.h"
#include "gles/OpenGLES.h"
#include "graphics/CGGeometry.h"

enum EAGLRenderingAPI {
    kEAGLRenderingAPIOpenGLES1 = 1,
    kEAGLRenderingAPIOpenGLES2 = 2,
    kEAGLRenderingAPIOpenGLES3 = 3,
};

class EAGLContext;

// Something a renderbuffer can take its storage from and show its pixels on (a layer). Without a
// display, presenting hands the pixels to the drawable, which keeps them.
class EAGLDrawable {
  public:
    virtual ~EAGLDrawable() = default;
    // The storage's size in pixels; zero when the drawable has no size yet.
    virtual CGSize drawablePixelSize() const = 0;
    // Called on the presenting thread with the context current and the renderbuffer's framebuffer
    // bound: the drawable reads the pixels it wants to keep.
    virtual void presentRenderbufferContents(GLsizei width, GLsizei height) = 0;
};

class EAGLSharegroup : public NSObject {
  public:
    EAGLSharegroup() = default;
    std::string className() const override { return "EAGLSharegroup"; }

    // The number of live contexts in the group.
    std::size_t contextCount() const;

  private:
    friend class EAGLContext;
    // Member contexts as EGL handles; a new context shares with any one of them.
    mutable std::mutex mutex_;
    std::vector<void*> members_;
};

class EAGLContext : public NSObject {
  public:
    // Use contextWithAPI(); public for make<>.
    EAGLContext(EAGLRenderingAPI api, Ref<EAGLSharegroup> sharegroup, void* eglContext);
    ~EAGLContext() override;

    // A new context for the API in the share group (a new group when none is given); nullptr when
    // the API is not offered (OpenGL ES 1) or no context can be made.
    static Ref<EAGLContext> contextWithAPI(EAGLRenderingAPI api,
                                           const Ref<EAGLSharegroup>& sharegroup = nullptr);

    // Makes the context current on the calling thread (nullptr: none). NO when the driver
    // refuses, for example because the context is current on another thread, and once the
    // process has begun to exit (the graphics library is being torn down); the thread's current
    // context is then unchanged.
    static bool setCurrentContext(const Ref<EAGLContext>& context);
    static Ref<EAGLContext> currentContext();

    EAGLRenderingAPI API() const { return api_; }
    const Ref<EAGLSharegroup>& sharegroup() const { return sharegroup_; }

    // Finishes the drawing into the bound renderbuffer. Without a display there is nothing to
    // show it on; the call only makes sure the drawing is complete. NO unless the context is
    // current on the calling thread.
    bool presentRenderbuffer(GLenum target);
    // Gives the bound renderbuffer RGBA8 storage of the drawable's pixel size and remembers the
    // drawable for presenting. NO (and no storage) when the drawable has no size or the context
    // is not current on the calling thread.
    bool renderbufferStorageFromDrawable(GLenum target, const Ref<EAGLDrawable>& drawable);

    // The underlying EGL context handle (an EGLContext).
    void* eglContext() const { return eglContext_; }

    std::string className() const override { return "EAGLContext"; }

  private:
    EAGLRenderingAPI api_;
    Ref<EAGLSharegroup> sharegroup_;
    std::mutex drawablesMutex_;
    std::map<GLuint, Weak<EAGLDrawable>> drawables_;  // by renderbuffer name
    void* eglContext_;
};

namespace detail {
// The process's EGL display and config (EGLDisplay and EGLConfig as void*), opened on first
// use; nullptr when EGL offers no surfaceless display with an OpenGL ES 2 config.
void* eglDisplayHandle();
void* eglConfigHandle();
// The last EGL error code on the calling thread (EGL_SUCCESS when none).
int eglLastError();
// Releases the calling thread's EGL state (its current context); called by threads that made a
// context current before they end. Once the process has begun to exit, nothing can be released
// safely: the call then returns only when `waitedForBy` (the thread that will join the caller)
// is the exiting thread, and otherwise never, so the caller goes with the process instead of
// ending under the graphics library's teardown.
void eglReleaseCallingThread(std::thread::id waitedForBy = {});
}  // namespace detail
