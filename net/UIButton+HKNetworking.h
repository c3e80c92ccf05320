#pragma once
// Loading remote pictures into a button's image or background image for a state, with one HTTP
// request operation per state slot, through the image views' picture cache unless buttons are
// given their own.
//
// Slots: highlighted (1), disabled (2), selected (4), and normal, which also takes every other
// state value (0, 3, combined states). A new load in a slot cancels the slot's running one; a
// late result for another URL is cached but not shown. A load stays in its slot once it has
// completed. Loads run on one operation queue shared by all buttons. Main thread only.

#include <functional>

#include "foundation/NSError.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSURL.h"
#include "graphics/UIImage.h"
#include "net/HKHTTPRequestOperation.h"
#include "net/HKImageCache.h"
#include "net/HKURLResponseSerialization.h"
#include "network/NSURLRequest.h"
#include "uikit/UIButton.h"

namespace UIButton_HKNetworking {

using SuccessBlock = std::function<void(const Ref<NSURLRequest>& request,
                                        const Ref<NSHTTPURLResponse>& response, const Ref<UIImage>& image)>;
using FailureBlock = std::function<void(const Ref<NSError>& error)>;

// The buttons' cache: whatever the image views use unless one is set (nullptr restores that).
Ref<HKImageCache> sharedImageCache();
void setSharedImageCache(const Ref<HKImageCache>& cache);
Ref<NSOperationQueue> hk_sharedImageRequestOperationQueue();

Ref<HKHTTPResponseSerializer> imageResponseSerializer(const Ref<UIButton>& button);
void setImageResponseSerializer(const Ref<UIButton>& button, const Ref<HKHTTPResponseSerializer>& serializer);
Ref<HKHTTPRequestOperation> hk_imageRequestOperationForState(const Ref<UIButton>& button,
                                                             UIControlState state);
void hk_setImageRequestOperation(const Ref<UIButton>& button, const Ref<HKHTTPRequestOperation>& operation,
                                 UIControlState state);
Ref<HKHTTPRequestOperation> hk_backgroundImageRequestOperationForState(const Ref<UIButton>& button,
                                                                       UIControlState state);
void hk_setBackgroundImageRequestOperation(const Ref<UIButton>& button,
                                           const Ref<HKHTTPRequestOperation>& operation,
                                           UIControlState state);

// setImageForState:withURL: / withURL:placeholderImage: / withURLRequest:placeholderImage:success:failure:
void setImageForStateWithURL(const Ref<UIButton>& button, UIControlState state, const Ref<NSURL>& url,
                             const Ref<UIImage>& placeholderImage = nullptr);
void setImageForStateWithURLRequest(const Ref<UIButton>& button, UIControlState state,
                                    const Ref<NSURLRequest>& request, const Ref<UIImage>& placeholderImage,
                                    SuccessBlock success, FailureBlock failure);
void cancelImageRequestOperationForState(const Ref<UIButton>& button, UIControlState state);

void setBackgroundImageForStateWithURL(const Ref<UIButton>& button, UIControlState state,
                                       const Ref<NSURL>& url, const Ref<UIImage>& placeholderImage = nullptr);
void setBackgroundImageForStateWithURLRequest(const Ref<UIButton>& button, UIControlState state,
                                              const Ref<NSURLRequest>& request,
                                              const Ref<UIImage>& placeholderImage, SuccessBlock success,
                                              FailureBlock failure);
void cancelBackgroundImageRequestOperationForState(const Ref<UIButton>& button, UIControlState state);

}  // namespace UIButton_HKNetworking
