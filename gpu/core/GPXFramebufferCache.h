#pragma once
// The pool of free framebuffers, keyed by exact size, texture options and kind (full or
// texture-only). A fetch takes the most recently returned free framebuffer of its key, or makes a
// new one on a miss, and hands it out locked once; a framebuffer whose lock count reaches zero
// comes back here. A purge (explicit, or on the system's memory warning) frees every framebuffer
// that is in the pool; those in use are untouched and come back to the emptied pool later.
//
// The pool's tables are touched only on the shared context queue: fetch searches synchronously
// there, return, purge and the capture list run asynchronously there (inline when the caller is
// already on the queue). A framebuffer unlocked to zero on another thread is therefore fetchable
// only once the queue has filed it.

#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/NSObject.h"
#include "gpu/core/GPXFramebuffer.h"

class GPXFramebufferCache : public NSObject {
  public:
    GPXFramebufferCache() = default;
    ~GPXFramebufferCache() override;
    // Registers for the memory warning (any sender, delivered on the posting thread).
    void didInit();

    // "<w>x<h>-<minFilter>:<magFilter>:<wrapS>:<wrapT>:<internalFormat>:<format>:<type>", widths
    // and heights with one decimal, "-NOFB" appended for texture-only.
    static std::string hashForSize(CGSize size, GPUTextureOptions textureOptions, bool onlyTexture);

    // A framebuffer of the key, locked once; never fails (a miss makes one).
    Ref<GPXFramebuffer> fetchFramebufferForSize(CGSize framebufferSize, GPUTextureOptions textureOptions,
                                                bool onlyTexture);
    Ref<GPXFramebuffer> fetchFramebufferForSize(CGSize framebufferSize, bool onlyTexture);
    // Clears the framebuffer's locks at once and files it on the queue.
    void returnFramebufferToCache(const Ref<GPXFramebuffer>& framebuffer);
    // Frees every framebuffer in the pool.
    void purgeAllUnassignedFramebuffers();
    void addFramebufferToActiveImageCaptureList(const Ref<GPXFramebuffer>& framebuffer);
    void removeFramebufferFromActiveImageCaptureList(const Ref<GPXFramebuffer>& framebuffer);

    // What the pool holds, read on the queue: free framebuffers in all, and of one key.
    std::size_t freeFramebufferCount();
    std::size_t freeFramebufferCount(const std::string& key);
    std::size_t activeImageCaptureCount();

    std::string className() const override { return "GPXFramebufferCache"; }

  private:
    std::unordered_map<std::string, Ref<GPXFramebuffer>> framebufferCache_;
    std::unordered_map<std::string, long> framebufferTypeCounts_;
    std::vector<Ref<GPXFramebuffer>> activeImageCaptureList_;
};
