#include "gles/EAGLContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "foundation/NSLog.h"

namespace {

// Once the process has begun to end (exit handlers running), the graphics library tears down its
// own per-thread and display state. A thread ending at that moment must neither release its EGL
// state (it would be freed twice) nor leave it to the library's thread-exit clean-up (the same).
// So every EGL call that lets go of something passes this gate: the exit waits for those already
// inside, later ones skip the call, and a thread that would end with its EGL state still held
// stays instead, and goes with the process. The exiting thread itself may end what it waits for:
// the library's teardown comes after it.
class ExitGate {
  public:
    static ExitGate& shared() {
        static ExitGate* gate = new ExitGate;  // used by threads ending after the statics go
        return *gate;
    }
    // Runs at exit, before the graphics library's own teardown (registered after it started).
    static void close() {
        ExitGate& g = shared();
        std::unique_lock lock(g.mutex_);
        g.closed_ = true;
        g.exitingThread_ = std::this_thread::get_id();
        g.left_.wait(lock, [&] { return g.inside_ == 0; });
    }
    bool enter() {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        ++inside_;
        return true;
    }
    void leave() {
        std::lock_guard lock(mutex_);
        if (--inside_ == 0) left_.notify_all();
    }
    bool isExitingThread(std::thread::id id) {
        std::lock_guard lock(mutex_);
        return closed_ && id == exitingThread_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable left_;
    int inside_ = 0;
    bool closed_ = false;
    std::thread::id exitingThread_;
};

// Inside the gate for a scope; false when the process is ending.
class ReleasePass {
  public:
    ReleasePass() : open_(ExitGate::shared().enter()) {}
    ~ReleasePass() {
        if (open_) ExitGate::shared().leave();
    }
    explicit operator bool() const { return open_; }

  private:
    bool open_;
};

// A thread that cannot release its EGL state at the process's end stays until the process goes,
// unless the exiting thread waits for it.
void endWithoutReleasing(std::thread::id waitedForBy) {
    if (ExitGate::shared().isExitingThread(waitedForBy)) return;
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

struct DisplayState {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
};

// Opened once and kept for the life of the process: terminating the display at exit makes the
// driver report its own internal allocations as leaks, and nothing is gained by it.
const DisplayState& displayState() {
    static const DisplayState state = [] {
        DisplayState s;
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay) {
            NSLogLine("EGL: no platform display entry point");
            return s;
        }
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display == EGL_NO_DISPLAY) {
            NSLogLine("EGL: no surfaceless display");
            return s;
        }
        EGLint major = 0, minor = 0;
        if (!eglInitialize(display, &major, &minor)) {
            NSLogLine("EGL: the display could not be initialised");
            return s;
        }
        if (!eglBindAPI(EGL_OPENGL_ES_API)) {
            NSLogLine("EGL: OpenGL ES is not available");
            return s;
        }
        // The pbuffer bit is asked for with the ES2 bit: the ES2 bit alone can match no config.
        const EGLint attributes[] = {EGL_RENDERABLE_TYPE,
                                     EGL_OPENGL_ES2_BIT,
                                     EGL_SURFACE_TYPE,
                                     EGL_PBUFFER_BIT,
                                     EGL_RED_SIZE,
                                     8,
                                     EGL_GREEN_SIZE,
                                     8,
                                     EGL_BLUE_SIZE,
                                     8,
                                     EGL_ALPHA_SIZE,
                                     8,
                                     EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglChooseConfig(display, attributes, &config, 1, &count) || count < 1) {
            NSLogLine("EGL: no OpenGL ES 2 config");
            return s;
        }
        s.display = display;
        s.config = config;
        ExitGate::shared();
        std::atexit(ExitGate::close);
        return s;
    }();
    return state;
}

// The calling thread's current context; holding it keeps the context alive while current. A
// thread that ends with a context current releases it first, so the context can be destroyed.
struct CurrentContextSlot {
    Ref<EAGLContext> context;
    ~CurrentContextSlot() {
        if (!context) return;
        ReleasePass pass;
        if (!pass) endWithoutReleasing(std::this_thread::get_id());
        if (pass) eglMakeCurrent(displayState().display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        context.reset();
    }
};
thread_local CurrentContextSlot tCurrent;

}  // namespace

namespace detail {
void* eglDisplayHandle() {
    auto& s = displayState();
    return s.display == EGL_NO_DISPLAY ? nullptr : s.display;
}
void* eglConfigHandle() {
    return displayState().config;
}
int eglLastError() {
    return eglGetError();
}
void eglReleaseCallingThread(std::thread::id waitedForBy) {
    ReleasePass pass;
    if (!pass) {
        endWithoutReleasing(waitedForBy);
        // Excused, as the exiting thread waits for this one: the context is let go without EGL,
        // or the thread's slot would try to release it as the thread ends, and wait for ever.
        tCurrent.context.reset();
        return;
    }
    EAGLContext::setCurrentContext(nullptr);
    eglReleaseThread();
}
}  // namespace detail

std::size_t EAGLSharegroup::contextCount() const {
    std::lock_guard lock(mutex_);
    return members_.size();
}

EAGLContext::EAGLContext(EAGLRenderingAPI api, Ref<EAGLSharegroup> sharegroup, void* eglContext)
    : api_(api), sharegroup_(std::move(sharegroup)), eglContext_(eglContext) {}

EAGLContext::~EAGLContext() {
    auto& s = displayState();
    if (!eglContext_ || s.display == EGL_NO_DISPLAY) return;
    ReleasePass pass;
    if (!pass) return;
    // The group's lock keeps a context being made from choosing this one as its share partner
    // while it goes.
    std::lock_guard lock(sharegroup_->mutex_);
    auto& members = sharegroup_->members_;
    members.erase(std::remove(members.begin(), members.end(), eglContext_), members.end());
    // A context is destroyed only when no thread holds it current (each holds a reference), so
    // the driver frees it at once.
    eglDestroyContext(s.display, static_cast<EGLContext>(eglContext_));
}

Ref<EAGLContext> EAGLContext::contextWithAPI(EAGLRenderingAPI api, const Ref<EAGLSharegroup>& sharegroup) {
    if (api != kEAGLRenderingAPIOpenGLES2 && api != kEAGLRenderingAPIOpenGLES3) return nullptr;
    auto& s = displayState();
    if (s.display == EGL_NO_DISPLAY) return nullptr;
    Ref<EAGLSharegroup> group = sharegroup ? sharegroup : make<EAGLSharegroup>();
    const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, api == kEAGLRenderingAPIOpenGLES3 ? 3 : 2,
                                 EGL_NONE};
    std::lock_guard lock(group->mutex_);
    EGLContext share =
        group->members_.empty() ? EGL_NO_CONTEXT : static_cast<EGLContext>(group->members_.front());
    EGLContext context = eglCreateContext(s.display, s.config, share, attributes);
    if (context == EGL_NO_CONTEXT) {
        NSLogLine("EGL: eglCreateContext failed with error " + std::to_string(eglGetError()));
        return nullptr;
    }
    group->members_.push_back(context);
    return make<EAGLContext>(api, group, context);
}

bool EAGLContext::setCurrentContext(const Ref<EAGLContext>& context) {
    if (context == tCurrent.context) return true;
    auto& s = displayState();
    if (s.display == EGL_NO_DISPLAY) return context == nullptr;
    // A context torn down on another thread while the process exits must not reach into the
    // library's state as it goes (the thread keeps what it holds and goes with the process).
    ReleasePass pass;
    if (!pass) return false;
    EGLContext handle = context ? static_cast<EGLContext>(context->eglContext_) : EGL_NO_CONTEXT;
    if (!eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, handle)) return false;
    tCurrent.context = context;
    return true;
}

Ref<EAGLContext> EAGLContext::currentContext() {
    return tCurrent.context;
}

bool EAGLContext::presentRenderbuffer(GLenum target) {
    if (tCurrent.context.get() != this) return false;
    (void)target;
    glFinish();
    GLint bound = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &bound);
    Ref<EAGLDrawable> drawable;
    {
        std::lock_guard lock(drawablesMutex_);
        auto found = drawables_.find(static_cast<GLuint>(bound));
        if (found != drawables_.end()) drawable = found->second.lock();
    }
    if (drawable) {
        GLint width = 0, height = 0;
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &width);
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_HEIGHT, &height);
        if (width > 0 && height > 0) drawable->presentRenderbufferContents(width, height);
    }
    return true;
}

bool EAGLContext::renderbufferStorageFromDrawable(GLenum target, const Ref<EAGLDrawable>& drawable) {
    if (tCurrent.context.get() != this || !drawable) return false;
    const CGSize size = drawable->drawablePixelSize();
    const auto width = static_cast<GLsizei>(size.width), height = static_cast<GLsizei>(size.height);
    if (width <= 0 || height <= 0) return false;
    glRenderbufferStorage(target, GL_RGBA8_OES, width, height);
    GLint bound = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &bound);
    std::lock_guard lock(drawablesMutex_);
    // Forget drawables that have gone, so the table stays as small as the live views.
    for (auto it = drawables_.begin(); it != drawables_.end();)
        it = it->second.expired() ? drawables_.erase(it) : ++it;
    drawables_[static_cast<GLuint>(bound)] = drawable;
    return true;
}
