#pragma once
// The GPU pipeline's context: one OpenGL ES 2 context and the serial queue that owns it, a cache
// of compiled programs, the framebuffer cache, and the device's GPU limits.
//
// Every GL call of the pipeline runs on a context's queue. The queue is bound to one thread for
// its whole life (a context can be current on one thread only), and the context, once made, stays
// current on that thread. The four queue functions below are the way in: a request made on the
// queue itself runs at once, inline, whether synchronous or asynchronous, so nested use never
// deadlocks and asynchronous work asked for from the queue completes before the caller goes on.
//
// The shared context lives for the whole process. Its limits and extension answers are read
// from GL once, on its queue, and are safe to read from any thread afterwards.

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/NSObject.h"
#include "gles/CVOpenGLESTextureCache.h"
#include "gles/EAGLContext.h"
#include "gles/GLThreadQueue.h"
#include "gles/OpenGLES.h"
#include "graphics/CGGeometry.h"

class GLProgram;
class GPXFramebufferCache;

class GPXContext : public NSObject {
  public:
    GPXContext();
    ~GPXContext() override;
    void didInit();

    // The one shared context, made on first use from any thread.
    static Ref<GPXContext> sharedImageProcessingContext();
    static GLThreadQueue& sharedContextQueue();
    static Ref<GPXFramebufferCache> sharedFramebufferCache();
    static void useImageProcessingContext();
    static void setActiveShaderProgram(const Ref<GLProgram>& program);

    static GLint maximumTextureSizeForThisDevice();
    static GLint maximumTextureUnitsForThisDevice();
    static GLint maximumVaryingVectorsForThisDevice();
    static bool deviceSupportsOpenGLESExtension(const std::string& extension);
    static bool deviceSupportsRedTextures();
    static bool deviceSupportsFramebufferReads();
    // Limits the size to the maximum texture size, keeping its aspect ratio.
    static CGSize sizeThatFitsWithinATextureForSize(CGSize inputSize);
    static bool supportsFastTextureUpload();
    static void* contextKey();

    // Makes the context current on its queue's thread (creating it first when needed). Called
    // from elsewhere, the work is done on the queue: the context cannot be current anywhere else.
    void useAsCurrentContext();
    void setContextShaderProgram(const Ref<GLProgram>& program);
    void presentBufferForDisplay();
    // The cached program for the two texts, made (compiled, not linked) on a miss.
    Ref<GLProgram> programForVertexShaderString(const std::string& vertexShaderString,
                                                const std::string& fragmentShaderString);
    void useSharegroup(const Ref<EAGLSharegroup>& sharegroup);
    Ref<EAGLSharegroup> sharegroup() const;

    Ref<EAGLContext> createContext();
    // The EAGL context, made on first use (on the queue), current on the queue's thread.
    Ref<EAGLContext> context();
    // The texture cache for the context; nullptr here, where fast upload is not offered.
    CVOpenGLESTextureCacheRef coreVideoTextureCache();
    Ref<GPXFramebufferCache> framebufferCache();

    Ref<GLProgram> currentShaderProgram() const;
    void setCurrentShaderProgram(const Ref<GLProgram>& program);
    GLThreadQueue& contextQueue() const { return *contextQueue_; }

    // The number of programs in the cache.
    std::size_t programCacheCount() const;
    // Whether the cache holds the program for the two texts (never makes one).
    bool hasProgramForVertexShaderString(const std::string& vertexShaderString,
                                         const std::string& fragmentShaderString) const;

    std::string className() const override { return "GPXContext"; }

  private:
    void ensureContextOnQueue();

    std::unique_ptr<GLThreadQueue> contextQueue_;
    mutable std::mutex mutex_;  // guards the fields below
    std::unordered_map<std::string, Ref<GLProgram>> shaderProgramCache_;
    std::vector<Ref<GLProgram>> shaderProgramUsageHistory_;
    Ref<EAGLSharegroup> sharegroup_;
    Ref<EAGLContext> context_;
    Ref<GLProgram> currentShaderProgram_;
    CVOpenGLESTextureCacheRef coreVideoTextureCache_;
    Ref<GPXFramebufferCache> framebufferCache_;
};

// Runs the block on the shared context queue and waits; inline when already there.
void performSyncOnSharedContextQueue(const std::function<void()>& block);
// Queues the block on the shared context queue; inline (synchronously) when already there.
void performAsyncOnSharedContextQueue(std::function<void()> block);
void performSyncOnContextQueue(const Ref<GPXContext>& context, const std::function<void()>& block);
void performAsyncOnContextQueue(const Ref<GPXContext>& context, std::function<void()> block);

namespace detail {
// The size limiting rule with an explicit maximum M: sizes with both sides below M stay; else the
// longer side becomes M and the other keeps the aspect ratio.
CGSize sizeThatFitsWithinMaximum(CGSize inputSize, double maximum);
// The GL_EXTENSIONS text split at single spaces; whether `name` is one of the entries.
bool extensionListContains(const std::string& extensions, const std::string& name);
// The context whose queue is running the calling code, or nullptr off every context queue.
Ref<GPXContext> currentQueueContext();
}  // namespace detail
