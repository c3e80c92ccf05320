#pragma once
// QVNOption: one choice for a car part (a bumper, a wheel...), drawn from up to two sprite sheets:
// the "metal" sheet (the part itself) and the "attach" sheet (a second layer drawn with it). Each
// sheet is one PNG holding the part at the 25 view angles, plus a frame table (JSON) saying where
// each angle's picture lies in it.
//
// Where things live:
//   - the PNGs in the remote-image cache (WIImageCache) under their URL text,
//     urlPrefix + "/" + file name (the prefix keeps its double slash before the car word);
//   - the frame tables in the car's cache folder, named after the sheet with every ".png"
//     replaced by ".json", and fetched from the sheet's URL with the same replacement;
//   - the cut pictures in memory, per angle key ("01" ... "25"): plain, attach and tinted.
//
// A download fetches the sheet through the shared image manager, waits until the image cache has
// written it to disk, then fetches the frame table through the API client's GET wrapper. The
// table is checked against the sheet before anything is kept: every entry must name its angle and
// lie inside the sheet. Only then is the table stored on disk and the sheet cut, so a failed or
// refused download leaves the option's files and tables as they were.
//
// An option counts as cached when it has a sheet, and every sheet it has is in the image cache's
// disk store and has its frame table on disk.
//
// Main thread only: the image manager and the API client call back there, and cutting and
// tinting (synchronous GPU work) run there.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"

// Errors of the studio's own checks (the transport's and the image manager's pass unchanged).
inline constexpr char QVNStudioErrorDomain[] = "QVNStudio";
enum QVNStudioErrorCode : long {
    QVNStudioErrorBadFrameTable = 1,   // not an object with a "frames" array
    QVNStudioErrorNoPicture = 3,       // the image manager answered without a picture
    QVNStudioErrorNoAddress = 4,       // the option has no such sheet
    QVNStudioErrorBadDescription = 5,  // a car description that is not an object
};

class QVNOption : public NSObject {
  public:
    using AngleImages = std::map<std::string, Ref<UIImage>>;
    using ProgressBlock = std::function<void(std::int64_t receivedSize, std::int64_t expectedSize)>;
    using ErrorCompletion = std::function<void(const Ref<NSError>& error)>;
    using FramesCompletion =
        std::function<void(const std::optional<Dictionary>& table, const Ref<NSError>& error)>;

    // The largest sheet width (points) that is tinted; wider sheets are shown untinted.
    static constexpr double kMaximumTintWidth = 4096.0;

    QVNOption() = default;
    // initWithAttributes:urlPrefix:cacheDirectory:
    QVNOption(const Value& attributes, const std::string& urlPrefix, const std::string& cacheDirectory);
    std::string className() const override { return "QVNOption"; }

    // ---- description fields ----------------------------------------------------------------------
    const std::optional<std::string>& name() const { return name_; }
    const std::optional<std::string>& identifier() const { return identifier_; }
    const std::optional<std::string>& thumbnail() const { return thumbnail_; }
    const std::optional<std::string>& thumbnailURL() const { return thumbnailURL_; }
    const std::optional<std::string>& metalFile() const { return metalFile_; }
    const std::optional<std::string>& attachFile() const { return attachFile_; }
    const std::optional<std::string>& metalFileURL() const { return metalFileURL_; }
    const std::optional<std::string>& attachFileURL() const { return attachFileURL_; }
    bool hasMetalFile() const { return hasMetalFile_; }
    bool hasAttach() const { return hasAttach_; }
    const std::string& cacheDirectory() const { return cacheDirectory_; }

    // ---- downloads -------------------------------------------------------------------------------
    // Both sheets: the metal one without progress, then the attach one with it. One sheet: that one
    // with progress. None: completion(nil) at once.
    void downLoadImagesAndFramesWithProgress(ProgressBlock progress, ErrorCompletion completion);
    void downLoadMetalImageAndFramesWithProgress(ProgressBlock progress, ErrorCompletion completion);
    void downLoadAttachImageAndFramesWithProgress(ProgressBlock progress, ErrorCompletion completion);
    // The frame table of a sheet URL (".png" -> ".json"); a nil URL sends nothing and fails.
    void downloadFramesInfoWithURL(const std::optional<std::string>& sheetURL, FramesCompletion completion);

    // Cuts a sheet by a "frames" array: angle key -> picture, a later entry of one key replacing
    // the earlier, an entry that cannot be cut removing the key.
    static AngleImages createImagesAndAnglesWithImage(const Ref<UIImage>& image, const Value& imagesInfo);

    // ---- per angle -------------------------------------------------------------------------------
    // The tinted picture while a tint is set, else the plain one.
    Ref<UIImage> imageForAngle(const std::string& angle) const;
    Ref<UIImage> attachForAngle(const std::string& angle) const;
    CGPoint imageOriginForAngle(const std::string& angle) const;
    CGSize imageSizeForAngle(const std::string& angle) const;
    CGPoint attachOriginForAngle(const std::string& angle) const;
    CGSize attachSizeForAngle(const std::string& angle) const;
    const AngleImages& images() const { return images_; }
    const AngleImages& attachImages() const { return attachImages_; }
    const AngleImages& tintedImages() const { return tintedImages_; }

    // ---- tint ------------------------------------------------------------------------------------
    // Ignored without a metal sheet. nil drops the tint; a colour tints the metal sheet's pictures
    // (a sheet up to kMaximumTintWidth points wide; a wider one shows untinted), every time. The
    // picture of an angle is tinted when imageForAngle first asks for it, so the angle on screen
    // shows at once, and the other angles are tinted off the main thread and arrive in
    // tintedImages() later; a newer colour drops that work. Without cut pictures in memory, the
    // sheet is read from the image cache, tinted whole and cut again at once.
    void setTintColor(const Ref<UIColor>& color);
    // Compiles the tint's program and runs it once on the kind of picture the car's cut pictures
    // are (sides that are not powers of two, which the GPU driver builds its code anew for), off
    // the main thread, so that the first tint the user makes does not wait for that building.
    // From any thread; `done`, when given, is called on a background thread once it is over.
    static void prepareTint(std::function<void()> done = {});
    const Ref<UIColor>& tintColor() const { return tintColor_; }

    // ---- disk ------------------------------------------------------------------------------------
    // Cuts the plain and attach tables from the sheets in the image cache and the tables on disk.
    void configureImageAndFramesFromCache();
    // nullopt when the option has no such sheet or its name cannot be a file in the folder.
    std::optional<std::string> metalFramesCachePath() const;
    std::optional<std::string> attachFramesCachePath() const;
    bool hasMetalFramesCache() const;
    bool hasAttachFramesCache() const;
    void saveMetalFileWithJson(const Dictionary& json) const;
    void saveAttachFileWithJson(const Dictionary& json) const;
    // The metal "frames", kept in memory once read.
    Value cacheOfMetalFrames();
    // The attach "frames", read from disk every time.
    Value cacheOfAttachFrames() const;
    bool hasCache() const;

    // Drops the cut tables and the three pictures from the image cache's memory.
    void clearCacheFromMemory();
    // Removes the three pictures from the image cache (memory and disk) and both frame tables.
    void clearCacheFromDisk();

  private:
    void downloadSheet(bool attach, ProgressBlock progress, ErrorCompletion completion);
    void sheetArrived(bool attach, const Ref<UIImage>& sheet, const ErrorCompletion& completion);

    std::optional<std::string> name_, identifier_, thumbnail_, thumbnailURL_;
    std::optional<std::string> metalFile_, attachFile_, metalFileURL_, attachFileURL_;
    bool hasMetalFile_ = false, hasAttach_ = false;
    std::string cacheDirectory_;

    AngleImages images_, attachImages_;
    // Filled per angle by imageForAngle and by the tint's background work.
    mutable AngleImages tintedImages_;
    Value metalFrames_;
    Ref<UIColor> tintColor_;
    // The width of the metal sheet the plain pictures were cut from.
    double metalSheetWidth_ = 0;
    // Counts colours set; background work for an older colour stops and is dropped.
    std::shared_ptr<std::atomic<std::uint64_t>> tintGeneration_ =
        std::make_shared<std::atomic<std::uint64_t>>(0);
};
