#pragma once
// Replacing a rectangle of a picture's uploaded texture with another picture of the rectangle's
// size. Waits for a frame in flight to finish first, so a frame never sees half a replacement.

#include "gpu/core/GPXPicture.h"

namespace GPXPicture_TextureSubimage {
void replaceTextureWithSubimage(const Ref<GPXPicture>& picture, const Ref<UIImage>& subimage);
void replaceTextureWithSubCGImage(const Ref<GPXPicture>& picture, const CGImageRef& subimageSource);
void replaceTextureWithSubimage(const Ref<GPXPicture>& picture, const Ref<UIImage>& subimage, CGRect subRect);
void replaceTextureWithSubCGImage(const Ref<GPXPicture>& picture, const CGImageRef& subimageSource,
                                  CGRect subRect);
}  // namespace GPXPicture_TextureSubimage
