#include "gpu/core/GPXFramebufferCache.h"

#include "uikit/UIApplication.h"

#include <algorithm>
#include <cstdio>

#include "foundation/NSNotificationCenter.h"
#include "gpu/core/GPXContext.h"

namespace {
std::string slotKey(const std::string& key, long slot) {
    return key + "-" + std::to_string(slot);
}
}  // namespace

GPXFramebufferCache::~GPXFramebufferCache() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
}

void GPXFramebufferCache::didInit() {
    // The centre holds the cache weakly, so the handler may use `this`.
    NSNotificationCenter::defaultCenter()->addObserver(
        self(), "purgeAllUnassignedFramebuffers",
        [this](const Ref<NSNotification>&) { purgeAllUnassignedFramebuffers(); },
        UIApplicationDidReceiveMemoryWarningNotification);
}

std::string GPXFramebufferCache::hashForSize(CGSize size, GPUTextureOptions options, bool onlyTexture) {
    char text[160];
    std::snprintf(text, sizeof text, "%.1fx%.1f-%d:%d:%d:%d:%d:%d:%d", size.width, size.height,
                  static_cast<int>(options.minFilter), static_cast<int>(options.magFilter),
                  static_cast<int>(options.wrapS), static_cast<int>(options.wrapT),
                  static_cast<int>(options.internalFormat), static_cast<int>(options.format),
                  static_cast<int>(options.type));
    std::string key = text;
    if (onlyTexture) key += "-NOFB";
    return key;
}

Ref<GPXFramebuffer> GPXFramebufferCache::fetchFramebufferForSize(CGSize framebufferSize,
                                                                 GPUTextureOptions textureOptions,
                                                                 bool onlyTexture) {
    Ref<GPXFramebuffer> framebuffer;
    performSyncOnSharedContextQueue([&] {
        const std::string key = hashForSize(framebufferSize, textureOptions, onlyTexture);
        auto count = framebufferTypeCounts_.find(key);
        long slots = count == framebufferTypeCounts_.end() ? 0 : count->second;
        if (slots >= 1) {
            long slot = slots - 1;
            for (; slot >= 0; --slot) {
                auto entry = framebufferCache_.find(slotKey(key, slot));
                if (entry != framebufferCache_.end()) {
                    framebuffer = std::move(entry->second);
                    framebufferCache_.erase(entry);
                    break;
                }
            }
            framebufferTypeCounts_[key] = std::max(slot, 0L);
        }
        if (!framebuffer) framebuffer = make<GPXFramebuffer>(framebufferSize, textureOptions, onlyTexture);
    });
    framebuffer->lock();
    return framebuffer;
}

Ref<GPXFramebuffer> GPXFramebufferCache::fetchFramebufferForSize(CGSize framebufferSize, bool onlyTexture) {
    return fetchFramebufferForSize(framebufferSize, kGPUTextureOptionsDefault, onlyTexture);
}

void GPXFramebufferCache::returnFramebufferToCache(const Ref<GPXFramebuffer>& framebuffer) {
    if (!framebuffer) return;
    framebuffer->clearAllLocks();
    performAsyncOnSharedContextQueue([this, keepAlive = self(), framebuffer] {
        const std::string key = hashForSize(framebuffer->size(), framebuffer->textureOptions(),
                                            framebuffer->missingFramebuffer());
        long& slots = framebufferTypeCounts_[key];
        framebufferCache_[slotKey(key, slots)] = framebuffer;
        ++slots;
    });
}

void GPXFramebufferCache::purgeAllUnassignedFramebuffers() {
    performAsyncOnSharedContextQueue([this, keepAlive = self()] {
        // Dropping the pool's references frees the framebuffers and their GL objects here, on
        // the queue.
        framebufferCache_.clear();
        framebufferTypeCounts_.clear();
        if (GPXContext::supportsFastTextureUpload()) {
            CVOpenGLESTextureCacheFlush(GPXContext::sharedImageProcessingContext()->coreVideoTextureCache(),
                                        0);
        }
    });
}

void GPXFramebufferCache::addFramebufferToActiveImageCaptureList(const Ref<GPXFramebuffer>& framebuffer) {
    performAsyncOnSharedContextQueue(
        [this, keepAlive = self(), framebuffer] { activeImageCaptureList_.push_back(framebuffer); });
}

void GPXFramebufferCache::removeFramebufferFromActiveImageCaptureList(
    const Ref<GPXFramebuffer>& framebuffer) {
    performAsyncOnSharedContextQueue([this, keepAlive = self(), framebuffer] {
        auto found = std::find(activeImageCaptureList_.begin(), activeImageCaptureList_.end(), framebuffer);
        if (found != activeImageCaptureList_.end()) activeImageCaptureList_.erase(found);
    });
}

std::size_t GPXFramebufferCache::freeFramebufferCount() {
    std::size_t count = 0;
    performSyncOnSharedContextQueue([&] { count = framebufferCache_.size(); });
    return count;
}

std::size_t GPXFramebufferCache::freeFramebufferCount(const std::string& key) {
    std::size_t count = 0;
    performSyncOnSharedContextQueue([&] {
        const std::string prefix = key + "-";
        for (auto& [entryKey, framebuffer] : framebufferCache_) {
            if (entryKey.compare(0, prefix.size(), prefix) == 0 &&
                entryKey.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
                ++count;
            }
        }
    });
    return count;
}

std::size_t GPXFramebufferCache::activeImageCaptureCount() {
    std::size_t count = 0;
    performSyncOnSharedContextQueue([&] { count = activeImageCaptureList_.size(); });
    return count;
}
