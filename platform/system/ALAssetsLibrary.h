#pragma once
// The photo library: groups of photos and videos (the saved photos, albums, events...).
//
// The device's library is one per process (every ALAssetsLibrary object shows the same one):
// - the saved-photos group lists the picture files of the photo album folder
//   (detail::photoAlbumDirectory, where UIImageWriteToSavedPhotosAlbum writes), looked at again
//   at every enumeration and lookup, so pictures saved by this app or dropped there by another
//   "app" appear; files that do not decode as pictures are left out. Its name is in the app's
//   language, as the device's own albums are: "相机胶卷" for an app in Chinese ("相機膠卷" in
//   traditional script), "Camera Roll" otherwise. The app's language is its main bundle's first
//   preferred localisation, else its development region (NSBundle);
// - other groups and assets are added by tests (system_testing::addPhotoGroup, addPhoto...,
//   system/SystemTesting.h), in memory.
//
// Calls and threads, as on the device:
// - enumerateGroupsWithTypes delivers, each on a later turn of the main run loop, one call per
//   matching group (saved photos first, then the others in the order they were added) and then a
//   final call with a nil group; setting *stop ends it without the final call. When access is
//   refused (denied or restricted) only the failure block runs, with ALAssetsLibraryErrorDomain
//   -3311 (denied) or -3312 (restricted).
// - group and asset reads are synchronous; enumerating a group's assets calls the block on the
//   calling thread, once per asset (index in the filtered list), then once with nil and
//   NSNotFound unless stopped.
// Group and asset objects are made fresh for each enumeration; each group object has its own
// filter. The objects are thread-safe; pictures are made on demand.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSDate.h"
#include "foundation/NSError.h"
#include "foundation/NSIndexSet.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGImage.h"

class UIImage;

#ifndef NS_ENUMERATION_OPTIONS_DEFINED
#define NS_ENUMERATION_OPTIONS_DEFINED
// Options of the block enumerations.
using NSEnumerationOptions = unsigned long;
inline constexpr NSEnumerationOptions NSEnumerationConcurrent = 1ul << 0;
inline constexpr NSEnumerationOptions NSEnumerationReverse = 1ul << 1;
#endif

using ALAssetsGroupType = std::uint32_t;
inline constexpr ALAssetsGroupType ALAssetsGroupLibrary = 1u << 0;
inline constexpr ALAssetsGroupType ALAssetsGroupAlbum = 1u << 1;
inline constexpr ALAssetsGroupType ALAssetsGroupEvent = 1u << 2;
inline constexpr ALAssetsGroupType ALAssetsGroupFaces = 1u << 3;
inline constexpr ALAssetsGroupType ALAssetsGroupSavedPhotos = 1u << 4;
inline constexpr ALAssetsGroupType ALAssetsGroupPhotoStream = 1u << 5;
inline constexpr ALAssetsGroupType ALAssetsGroupAll = 0xFFFFFFFFu;

enum ALAuthorizationStatus : long {
    ALAuthorizationStatusNotDetermined = 0,
    ALAuthorizationStatusRestricted = 1,
    ALAuthorizationStatusDenied = 2,
    ALAuthorizationStatusAuthorized = 3,
};

enum ALAssetOrientation : long {
    ALAssetOrientationUp = 0,
    ALAssetOrientationDown = 1,
    ALAssetOrientationLeft = 2,
    ALAssetOrientationRight = 3,
};

inline constexpr char ALAssetsLibraryErrorDomain[] = "ALAssetsLibraryErrorDomain";
enum : long {
    ALAssetsLibraryUnknownError = -1,
    ALAssetsLibraryWriteFailedError = -3300,
    ALAssetsLibraryWriteBusyError = -3301,
    ALAssetsLibraryWriteInvalidDataError = -3302,
    ALAssetsLibraryWriteIncompatibleDataError = -3303,
    ALAssetsLibraryWriteDataEncodingError = -3304,
    ALAssetsLibraryWriteDiskSpaceError = -3305,
    ALAssetsLibraryDataUnavailableError = -3310,
    ALAssetsLibraryAccessUserDeniedError = -3311,
    ALAssetsLibraryAccessGloballyDeniedError = -3312,
};

// Properties of groups.
inline constexpr char ALAssetsGroupPropertyName[] = "ALAssetsGroupPropertyName";
inline constexpr char ALAssetsGroupPropertyType[] = "ALAssetsGroupPropertyType";
inline constexpr char ALAssetsGroupPropertyPersistentID[] = "ALAssetsGroupPropertyPersistentID";
inline constexpr char ALAssetsGroupPropertyURL[] = "ALAssetsGroupPropertyURL";
// Properties of assets.
inline constexpr char ALAssetPropertyType[] = "ALAssetPropertyType";
inline constexpr char ALAssetPropertyDuration[] = "ALAssetPropertyDuration";
inline constexpr char ALAssetPropertyDate[] = "ALAssetPropertyDate";
inline constexpr char ALAssetPropertyOrientation[] = "ALAssetPropertyOrientation";
inline constexpr char ALAssetPropertyLocation[] = "ALAssetPropertyLocation";
inline constexpr char ALAssetPropertyRepresentations[] = "ALAssetPropertyRepresentations";
inline constexpr char ALAssetPropertyAssetURL[] = "ALAssetPropertyAssetURL";
// Values of ALAssetPropertyType.
inline constexpr char ALAssetTypePhoto[] = "ALAssetTypePhoto";
inline constexpr char ALAssetTypeVideo[] = "ALAssetTypeVideo";
inline constexpr char ALAssetTypeUnknown[] = "ALAssetTypeUnknown";
// What a property that does not apply answers (the duration of a photo, an unknown name).
inline constexpr char ALErrorInvalidProperty[] = "ALErrorInvalidProperty";

namespace detail {
struct PhotoAsset;
}

// Which assets a group shows.
class ALAssetsFilter : public NSObject {
  public:
    enum class Kind { AllAssets, AllPhotos, AllVideos };
    explicit ALAssetsFilter(Kind kind) : kind_(kind) {}
    std::string className() const override { return "ALAssetsFilter"; }

    static Ref<ALAssetsFilter> allPhotos();
    static Ref<ALAssetsFilter> allVideos();
    static Ref<ALAssetsFilter> allAssets();
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

class ALAssetRepresentation : public NSObject {
  public:
    explicit ALAssetRepresentation(std::shared_ptr<detail::PhotoAsset> asset) : asset_(std::move(asset)) {}
    std::string className() const override { return "ALAssetRepresentation"; }

    // "public.jpeg", "public.png", "public.mpeg-4".
    std::string UTI() const;
    // Pixel size of the full-resolution picture.
    CGSize dimensions() const;
    // Bytes of the stored file (the encoded picture).
    long long size() const;
    // Copies up to length bytes of the stored file from offset; 0 and an error past the end.
    std::size_t getBytes(std::uint8_t* buffer, long long offset, std::size_t length,
                         Ref<NSError>* error) const;
    std::string filename() const;
    Ref<NSURL> url() const;
    float scale() const { return 1.0f; }
    ALAssetOrientation orientation() const { return ALAssetOrientationUp; }
    // The picture as stored.
    CGImageRef fullResolutionImage() const;
    // The picture fitted into the screen's pixel size (never enlarged), upright.
    CGImageRef fullScreenImage() const;

  private:
    std::shared_ptr<detail::PhotoAsset> asset_;
};

class ALAsset : public NSObject {
  public:
    explicit ALAsset(std::shared_ptr<detail::PhotoAsset> asset) : asset_(std::move(asset)) {}
    std::string className() const override { return "ALAsset"; }
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;

    // Type (ALAssetTypePhoto / ALAssetTypeVideo), duration (seconds, videos only; photos answer
    // ALErrorInvalidProperty), date, orientation, representations (UTIs), asset URL.
    Value valueForProperty(const std::string& property) const;
    // A square picture, the middle of the asset filling 78 x 78 points at the screen's scale
    // (156 x 156 pixels at scale 2).
    CGImageRef thumbnail() const;
    // The whole picture, scaled so that its shorter side is the thumbnail's side (never
    // enlarged).
    CGImageRef aspectRatioThumbnail() const;
    Ref<ALAssetRepresentation> defaultRepresentation() const;
    // The representation of a UTI, nil for one the asset does not have.
    Ref<ALAssetRepresentation> representationForUTI(const std::string& uti) const;

    const std::shared_ptr<detail::PhotoAsset>& record() const { return asset_; }

  private:
    std::shared_ptr<detail::PhotoAsset> asset_;
};

class ALAssetsGroup : public NSObject {
  public:
    using AssetBlock = std::function<void(const Ref<ALAsset>& result, std::size_t index, bool* stop)>;

    explicit ALAssetsGroup(std::string groupID) : groupID_(std::move(groupID)) {}
    std::string className() const override { return "ALAssetsGroup"; }

    // Name (string), type (number), persistent ID (string), URL; nil for other names.
    Value valueForProperty(const std::string& property) const;
    // The thumbnail of the newest asset that passes the filter; nullptr for an empty group.
    CGImageRef posterImage() const;
    // A null filter shows all assets.
    void setAssetsFilter(const Ref<ALAssetsFilter>& filter);
    long numberOfAssets() const;
    bool isEditable() const;
    // Adds an existing asset to an editable group (an album); false otherwise.
    bool addAsset(const Ref<ALAsset>& asset);

    void enumerateAssetsUsingBlock(const AssetBlock& block) const;
    // NSEnumerationReverse walks from the last asset; indexes stay those of the filtered list.
    void enumerateAssetsWithOptions(NSEnumerationOptions options, const AssetBlock& block) const;
    // The assets at the indexes (indexes past the end are skipped).
    void enumerateAssetsAtIndexes(const NSIndexSet& indexes, NSEnumerationOptions options,
                                  const AssetBlock& block) const;

    const std::string& groupID() const { return groupID_; }

  private:
    std::vector<std::shared_ptr<detail::PhotoAsset>> filteredAssets() const;

    const std::string groupID_;
    mutable std::mutex mutex_;
    Ref<ALAssetsFilter> filter_;
};

class ALAssetsLibrary : public NSObject {
  public:
    using GroupBlock = std::function<void(const Ref<ALAssetsGroup>& group, bool* stop)>;
    using FailureBlock = std::function<void(const Ref<NSError>& error)>;
    using AssetResultBlock = std::function<void(const Ref<ALAsset>& asset)>;
    using GroupResultBlock = std::function<void(const Ref<ALAssetsGroup>& group)>;
    using WriteCompletionBlock = std::function<void(const Ref<NSURL>& assetURL, const Ref<NSError>& error)>;

    std::string className() const override { return "ALAssetsLibrary"; }

    static ALAuthorizationStatus authorizationStatus();

    void enumerateGroupsWithTypes(ALAssetsGroupType types, GroupBlock enumerationBlock,
                                  FailureBlock failureBlock);
    // The asset of an asset URL (nil when there is none), on a later turn of the main run loop.
    void assetForURL(const Ref<NSURL>& assetURL, AssetResultBlock resultBlock, FailureBlock failureBlock);
    void groupForURL(const Ref<NSURL>& groupURL, GroupResultBlock resultBlock, FailureBlock failureBlock);
    // Saves a picture into the saved photos (the photo album folder); the completion runs on a
    // later turn of the main run loop with the new asset's URL, or an error.
    void writeImageToSavedPhotosAlbum(const CGImageRef& image, ALAssetOrientation orientation,
                                      WriteCompletionBlock completion);
};

namespace detail {
// Saves a picture into the photo album folder and the saved photos group. Answers the new asset's
// URL, or the error (an injected one, refused access, a null picture, a failed write).
Ref<NSURL> saveImageToPhotoAlbum(const Ref<UIImage>& image, Ref<NSError>* error);
}  // namespace detail
