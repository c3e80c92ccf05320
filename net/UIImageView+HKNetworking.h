#pragma once
// Loading a remote picture into an image view with one HTTP request operation per view, decoded
// by an image response serialiser, through a shared picture cache (net/HKImageCache.h).
//
// Starting a load cancels the view's previous one; a late result of a superseded load for
// another URL is cached but not shown. A cache hit answers at once. Success without a block sets
// the image; with a block, the block must set it. Loads run concurrently on one operation queue
// shared by all image views. Main thread only, as the view is.
//
// The remote-image subsystem's own image-view category provides setImageWithURL; this one offers
// the request form.

#include <functional>

#include "foundation/NSError.h"
#include "foundation/NSOperationQueue.h"
#include "graphics/UIImage.h"
#include "net/HKHTTPRequestOperation.h"
#include "net/HKImageCache.h"
#include "net/HKURLResponseSerialization.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"
#include "uikit/UIImageView.h"

namespace UIImageView_HKNetworking {

using SuccessBlock = std::function<void(const Ref<NSURLRequest>& request,
                                        const Ref<NSHTTPURLResponse>& response, const Ref<UIImage>& image)>;
using FailureBlock = std::function<void(const Ref<NSURLRequest>& request,
                                        const Ref<NSHTTPURLResponse>& response, const Ref<NSError>& error)>;

// The cache of every image view (the shared HKImageCache unless one is set; nullptr restores it).
Ref<HKImageCache> sharedImageCache();
void setSharedImageCache(const Ref<HKImageCache>& cache);
// The queue every image view's loads run on.
Ref<NSOperationQueue> hk_sharedImageRequestOperationQueue();

// The serialiser given to the view's loads (one shared image serialiser unless set).
Ref<HKHTTPResponseSerializer> imageResponseSerializer(const Ref<UIImageView>& imageView);
void setImageResponseSerializer(const Ref<UIImageView>& imageView,
                                const Ref<HKHTTPResponseSerializer>& serializer);
Ref<HKHTTPRequestOperation> hk_imageRequestOperation(const Ref<UIImageView>& imageView);
void hk_setImageRequestOperation(const Ref<UIImageView>& imageView,
                                 const Ref<HKHTTPRequestOperation>& operation);

void setImageWithURLRequest(const Ref<UIImageView>& imageView, const Ref<NSURLRequest>& request,
                            const Ref<UIImage>& placeholderImage, SuccessBlock success, FailureBlock failure);
void cancelImageRequestOperation(const Ref<UIImageView>& imageView);

}  // namespace UIImageView_HKNetworking
