#pragma once
// Saving pictures to the device's photo album.
//
// The album is a folder of the device: detail::setPhotoAlbumDirectory(), else the environment
// variable APP_PHOTO_ALBUM_DIR, else "Media/DCIM" under the app's sandbox root. A saved picture
// becomes a file there ("IMG_0001.JPG" for an opaque picture, "IMG_0002.PNG" for one with
// transparency, numbered after the highest number present) and the newest asset of the photo
// library's saved photos (system/ALAssetsLibrary.h).
//
// The completion runs on a later turn of the main run loop, never inline, with a nil error or
// the error: one a test injected, refused photo access (ALAssetsLibraryErrorDomain -3311 or
// -3312), a null picture (-3302) or a failed write (-3300). It runs only while the completion
// target still exists: the target is held weakly, and a null target means no completion, as a
// completion selector sent to nil would be.

#include <functional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"

class UIImage;

// (image, error, contextInfo) — the completion selector image:didFinishSavingWithError:contextInfo:.
using UIImageSaveCompletion =
    std::function<void(const Ref<UIImage>& image, const Ref<NSError>& error, void* contextInfo)>;

void UIImageWriteToSavedPhotosAlbum(const Ref<UIImage>& image, const Ref<NSObject>& completionTarget,
                                    UIImageSaveCompletion completion, void* contextInfo = nullptr);

namespace detail {
std::string photoAlbumDirectory();
// An empty path returns to the environment's choice.
void setPhotoAlbumDirectory(const std::string& path);
}  // namespace detail
