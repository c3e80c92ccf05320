#include "gpu/core/GPXContext.h"

#include <atomic>
#include <sstream>

#include "gpu/core/GLProgram.h"
#include "gpu/core/GPUCoreTesting.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXFramebufferCache.h"

namespace {

// The context whose queue runs on the calling thread (set by the queue's first block).
thread_local Weak<GPXContext> tQueueOwner;

struct DeviceFacts {
    GLint maximumTextureSize = 0;
    GLint maximumTextureUnits = 0;
    GLint maximumVaryingVectors = 0;
    std::string extensions;
    bool redTextures = false;
    bool framebufferReads = false;
};

std::atomic<DeviceFacts*> gDeviceFacts{nullptr};
std::atomic<GLint> gMaximumTextureSizeOverride{0};

// Read from GL once, on the shared queue: computing them only there means no other thread can
// wait on the computation while the queue waits on that thread.
const DeviceFacts& deviceFacts() {
    if (auto* facts = gDeviceFacts.load(std::memory_order_acquire)) return *facts;
    performSyncOnSharedContextQueue([] {
        if (gDeviceFacts.load(std::memory_order_acquire)) return;
        GPXContext::useImageProcessingContext();
        auto* facts = new DeviceFacts;  // kept for the life of the process
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &facts->maximumTextureSize);
        glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &facts->maximumTextureUnits);
        glGetIntegerv(GL_MAX_VARYING_VECTORS, &facts->maximumVaryingVectors);
        if (auto text = glGetString(GL_EXTENSIONS)) facts->extensions = reinterpret_cast<const char*>(text);
        facts->redTextures = detail::extensionListContains(facts->extensions, "GL_EXT_texture_rg");
        facts->framebufferReads =
            detail::extensionListContains(facts->extensions, "GL_EXT_shader_framebuffer_fetch");
        gDeviceFacts.store(facts, std::memory_order_release);
    });
    return *gDeviceFacts.load(std::memory_order_acquire);
}

int contextKeyStorage = 0;

}  // namespace

namespace detail {

CGSize sizeThatFitsWithinMaximum(CGSize inputSize, double maximum) {
    if (inputSize.width < maximum && inputSize.height < maximum) return inputSize;
    if (inputSize.width > inputSize.height) {
        return CGSizeMake(maximum, inputSize.height * maximum / inputSize.width);
    }
    return CGSizeMake(inputSize.width * maximum / inputSize.height, maximum);
}

bool extensionListContains(const std::string& extensions, const std::string& name) {
    if (name.empty()) return false;
    std::size_t start = 0;
    while (start <= extensions.size()) {
        std::size_t end = extensions.find(' ', start);
        if (end == std::string::npos) end = extensions.size();
        if (extensions.compare(start, end - start, name) == 0 && end - start == name.size()) return true;
        start = end + 1;
    }
    return false;
}

Ref<GPXContext> currentQueueContext() {
    return tQueueOwner.lock();
}

}  // namespace detail

GPXContext::GPXContext()
    : contextQueue_(std::make_unique<GLThreadQueue>("com.vorlentide.GPX.openGLESContextQueue")) {}

void GPXContext::didInit() {
    contextQueue_->async([weak = Weak<GPXContext>(selfAs<GPXContext>())] { tQueueOwner = weak; });
}

GPXContext::~GPXContext() {
    // Programs, framebuffers and the context are GL objects of this context: they go on its
    // thread, with the context current, and the thread then lets go of it.
    contextQueue_->sync([this] {
        std::unordered_map<std::string, Ref<GLProgram>> programs;
        Ref<GLProgram> current;
        Ref<GPXFramebufferCache> framebuffers;
        Ref<EAGLContext> context;
        {
            std::lock_guard lock(mutex_);
            programs.swap(shaderProgramCache_);
            current.swap(currentShaderProgram_);
            framebuffers.swap(framebufferCache_);
            context.swap(context_);
        }
        programs.clear();
        current.reset();
        framebuffers.reset();
        EAGLContext::setCurrentContext(nullptr);
        context.reset();
    });
    contextQueue_.reset();
}

Ref<GPXContext> GPXContext::sharedImageProcessingContext() {
    // Never destroyed: the shared context, its thread and its GL objects last until the process
    // ends.
    static Ref<GPXContext>* shared = new Ref<GPXContext>(make<GPXContext>());
    return *shared;
}

GLThreadQueue& GPXContext::sharedContextQueue() {
    return sharedImageProcessingContext()->contextQueue();
}

Ref<GPXFramebufferCache> GPXContext::sharedFramebufferCache() {
    return sharedImageProcessingContext()->framebufferCache();
}

void GPXContext::useImageProcessingContext() {
    sharedImageProcessingContext()->useAsCurrentContext();
}

void GPXContext::setActiveShaderProgram(const Ref<GLProgram>& program) {
    sharedImageProcessingContext()->setContextShaderProgram(program);
}

GLint GPXContext::maximumTextureSizeForThisDevice() {
    if (GLint forced = gMaximumTextureSizeOverride.load()) return forced;
    return deviceFacts().maximumTextureSize;
}

GLint GPXContext::maximumTextureUnitsForThisDevice() {
    return deviceFacts().maximumTextureUnits;
}

GLint GPXContext::maximumVaryingVectorsForThisDevice() {
    return deviceFacts().maximumVaryingVectors;
}

bool GPXContext::deviceSupportsOpenGLESExtension(const std::string& extension) {
    return detail::extensionListContains(deviceFacts().extensions, extension);
}

bool GPXContext::deviceSupportsRedTextures() {
    return deviceFacts().redTextures;
}

bool GPXContext::deviceSupportsFramebufferReads() {
    return deviceFacts().framebufferReads;
}

CGSize GPXContext::sizeThatFitsWithinATextureForSize(CGSize inputSize) {
    return detail::sizeThatFitsWithinMaximum(inputSize,
                                             static_cast<double>(maximumTextureSizeForThisDevice()));
}

bool GPXContext::supportsFastTextureUpload() {
    return CVOpenGLESTextureCacheIsSupported();
}

void* GPXContext::contextKey() {
    return &contextKeyStorage;
}

void GPXContext::ensureContextOnQueue() {
    Ref<EAGLContext> context;
    {
        std::lock_guard lock(mutex_);
        context = context_;
    }
    if (!context) {
        context = createContext();
        if (!context) return;
        {
            std::lock_guard lock(mutex_);
            context_ = context;
        }
        EAGLContext::setCurrentContext(context);
        glDisable(GL_DEPTH_TEST);
        return;
    }
    if (EAGLContext::currentContext() != context) EAGLContext::setCurrentContext(context);
}

void GPXContext::useAsCurrentContext() {
    contextQueue_->sync([this] { ensureContextOnQueue(); });
}

void GPXContext::setContextShaderProgram(const Ref<GLProgram>& program) {
    contextQueue_->sync([&] {
        ensureContextOnQueue();
        bool changed;
        {
            std::lock_guard lock(mutex_);
            changed = currentShaderProgram_ != program;
            if (changed) currentShaderProgram_ = program;
        }
        if (changed && program) program->use();
    });
}

void GPXContext::presentBufferForDisplay() {
    contextQueue_->sync([this] {
        ensureContextOnQueue();
        if (auto context = EAGLContext::currentContext()) context->presentRenderbuffer(GL_RENDERBUFFER);
    });
}

namespace {
std::string programKey(const std::string& vertexShaderString, const std::string& fragmentShaderString) {
    return "V: " + vertexShaderString + " - F: " + fragmentShaderString;
}
}  // namespace

Ref<GLProgram> GPXContext::programForVertexShaderString(const std::string& vertexShaderString,
                                                        const std::string& fragmentShaderString) {
    const std::string key = programKey(vertexShaderString, fragmentShaderString);
    Ref<GLProgram> program;
    // The cache is filled on the queue, so two callers asking for one key at once get one program.
    contextQueue_->sync([&] {
        {
            std::lock_guard lock(mutex_);
            auto found = shaderProgramCache_.find(key);
            if (found != shaderProgramCache_.end()) {
                program = found->second;
                return;
            }
        }
        ensureContextOnQueue();
        program = make<GLProgram>(vertexShaderString, fragmentShaderString);
        std::lock_guard lock(mutex_);
        shaderProgramCache_.emplace(key, program);
    });
    return program;
}

std::size_t GPXContext::programCacheCount() const {
    std::lock_guard lock(mutex_);
    return shaderProgramCache_.size();
}

bool GPXContext::hasProgramForVertexShaderString(const std::string& vertexShaderString,
                                                 const std::string& fragmentShaderString) const {
    const std::string key = programKey(vertexShaderString, fragmentShaderString);
    std::lock_guard lock(mutex_);
    return shaderProgramCache_.count(key) != 0;
}

void GPXContext::useSharegroup(const Ref<EAGLSharegroup>& sharegroup) {
    bool exists;
    {
        std::lock_guard lock(mutex_);
        exists = context_ != nullptr;
        sharegroup_ = sharegroup;
    }
    if (exists) {
        detail::gpxAssertionFailure(
            "Unable to use a share group when the context has already been created. Call this method before "
            "you "
            "use the context for the first time.");
    }
}

Ref<EAGLSharegroup> GPXContext::sharegroup() const {
    std::lock_guard lock(mutex_);
    return sharegroup_;
}

Ref<EAGLContext> GPXContext::createContext() {
    auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2, sharegroup());
    if (!context) {
        detail::gpxAssertionFailure(
            "Unable to create an OpenGL ES 2.0 context. The GPX framework requires OpenGL ES 2.0 support to "
            "work.");
    }
    return context;
}

Ref<EAGLContext> GPXContext::context() {
    {
        std::lock_guard lock(mutex_);
        if (context_) return context_;
    }
    contextQueue_->sync([this] { ensureContextOnQueue(); });
    std::lock_guard lock(mutex_);
    return context_;
}

CVOpenGLESTextureCacheRef GPXContext::coreVideoTextureCache() {
    // Only the fast paths use the cache, and they are not taken where it is not offered.
    if (!supportsFastTextureUpload()) return nullptr;
    {
        std::lock_guard lock(mutex_);
        if (coreVideoTextureCache_) return coreVideoTextureCache_;
    }
    CVOpenGLESTextureCacheRef cache;
    CVReturn status = CVOpenGLESTextureCacheCreate(context(), &cache);
    if (status != kCVReturnSuccess) {
        detail::gpxAssertionFailure("Error at CVOpenGLESTextureCacheCreate " + std::to_string(status));
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (!coreVideoTextureCache_) coreVideoTextureCache_ = cache;
    return coreVideoTextureCache_;
}

Ref<GPXFramebufferCache> GPXContext::framebufferCache() {
    std::lock_guard lock(mutex_);
    if (!framebufferCache_) framebufferCache_ = make<GPXFramebufferCache>();
    return framebufferCache_;
}

Ref<GLProgram> GPXContext::currentShaderProgram() const {
    std::lock_guard lock(mutex_);
    return currentShaderProgram_;
}

void GPXContext::setCurrentShaderProgram(const Ref<GLProgram>& program) {
    std::lock_guard lock(mutex_);
    currentShaderProgram_ = program;
}

void performSyncOnSharedContextQueue(const std::function<void()>& block) {
    GPXContext::sharedContextQueue().sync(block);
}

void performAsyncOnSharedContextQueue(std::function<void()> block) {
    GPXContext::sharedContextQueue().async(std::move(block));
}

void performSyncOnContextQueue(const Ref<GPXContext>& context, const std::function<void()>& block) {
    if (context) context->contextQueue().sync(block);
}

void performAsyncOnContextQueue(const Ref<GPXContext>& context, std::function<void()> block) {
    if (context) context->contextQueue().async(std::move(block));
}

namespace gpu_core_testing {

void setMaximumTextureSizeOverride(GLint size) {
    gMaximumTextureSizeOverride.store(size);
}

}  // namespace gpu_core_testing
