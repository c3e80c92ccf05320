#include "system/PhotoAlbum.h"

#include "foundation/NSRunLoop.h"
#include "graphics/UIImage.h"
#include "system/ALAssetsLibrary.h"

void UIImageWriteToSavedPhotosAlbum(const Ref<UIImage>& image, const Ref<NSObject>& completionTarget,
                                    UIImageSaveCompletion completion, void* contextInfo) {
    Ref<NSError> error;
    detail::saveImageToPhotoAlbum(image, &error);
    if (!completionTarget || !completion) return;
    Weak<NSObject> target = completionTarget;
    NSRunLoop::mainRunLoop()->performInModes(
        {NSRunLoopCommonModes}, [target, completion = std::move(completion), image, error, contextInfo] {
            // The target is only held weakly: a screen that went away hears nothing.
            if (auto alive = target.lock()) completion(image, error, contextInfo);
        });
}
