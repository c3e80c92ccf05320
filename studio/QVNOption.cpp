#include "studio/QVNOption.h"

#include <array>
#include <cmath>
#include <utility>

#include "app/QVNAPIClient.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXMonochromeFilter.h"
#include "images/WIWebImageManager.h"
#include "studio/UIImage+texture.h"

namespace {

Ref<NSError> studioError(long code, const std::string& reason) {
    return NSError::errorWithDomain(QVNStudioErrorDomain, code,
                                    Dictionary{{NSLocalizedDescriptionKey, reason}});
}

Ref<WIImageCache> imageCache() {
    return WIWebImageManager::sharedManager()->imageCache();
}

// A file name from a description that may become a file of the car folder: no folder parts.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string framesName(const std::string& sheetName) {
    return NSString::stringByReplacingOccurrencesOfString(sheetName, ".png", ".json");
}

// The angle key of an entry: its "filename" up to the first ".".
std::optional<std::string> angleKey(const Value& entry) {
    const std::string* filename = entry["filename"].string();
    if (!filename) return std::nullopt;
    return filename->substr(0, filename->find('.'));
}

Value readFrames(const std::optional<std::string>& path) {
    if (!path) return Value();
    auto data = NSData::dataWithContentsOfFile(*path);
    if (!data) return Value();
    auto text = NSString::initWithData(*data, NSUTF8StringEncoding);
    if (!text) return Value();
    Value table = NSJSONSerialization::JSONObjectWithData(NSData::fromString(*text),
                                                          NSJSONReadingMutableContainers, nullptr);
    const Value& frames = table["frames"];
    return frames.isArray() ? frames : Value();
}

void writeJSON(const std::optional<std::string>& path, const Dictionary& json) {
    if (!path) return;
    auto data = NSJSONSerialization::dataWithJSONObject(Value(json), 0, nullptr);
    if (data) data->writeToFile(*path, true);
}

void removeFile(const std::optional<std::string>& path) {
    if (path) NSFileManager::defaultManager()->removeItemAtPath(*path, nullptr);
}

}  // namespace

QVNOption::QVNOption(const Value& attributes, const std::string& urlPrefix, const std::string& cacheDirectory)
    : cacheDirectory_(cacheDirectory) {
    name_ = attributes["name"].optionalString();
    identifier_ = attributes["identifier"].optionalString();
    thumbnail_ = attributes["thumbnail"].optionalString();
    if (thumbnail_) thumbnailURL_ = urlPrefix + "/" + *thumbnail_;
    if (auto metal = attributes["metalFile"].optionalString(); metal && !metal->empty()) {
        metalFile_ = metal;
        hasMetalFile_ = true;
        metalFileURL_ = urlPrefix + "/" + *metal;
    } else {
        metalFile_ = metal;
    }
    if (auto attach = attributes["attachFile"].optionalString(); attach && !attach->empty()) {
        attachFile_ = attach;
        hasAttach_ = true;
        attachFileURL_ = urlPrefix + "/" + *attach;
    } else {
        attachFile_ = attach;
    }
}

// ---- downloads ------------------------------------------------------------------------------------

void QVNOption::downLoadImagesAndFramesWithProgress(ProgressBlock progress, ErrorCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    if (hasMetalFile_ && hasAttach_) {
        auto self = selfAs<QVNOption>();
        downLoadMetalImageAndFramesWithProgress(
            nullptr, [self, progress, completion](const Ref<NSError>& error) {
                if (error) {
                    if (completion) completion(error);
                    return;
                }
                self->downLoadAttachImageAndFramesWithProgress(progress, completion);
            });
    } else if (hasMetalFile_) {
        downLoadMetalImageAndFramesWithProgress(std::move(progress), std::move(completion));
    } else if (hasAttach_) {
        downLoadAttachImageAndFramesWithProgress(std::move(progress), std::move(completion));
    } else if (completion) {
        completion(nullptr);
    }
}

void QVNOption::downLoadMetalImageAndFramesWithProgress(ProgressBlock progress, ErrorCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    downloadSheet(false, std::move(progress), std::move(completion));
}

void QVNOption::downLoadAttachImageAndFramesWithProgress(ProgressBlock progress, ErrorCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    downloadSheet(true, std::move(progress), std::move(completion));
}

void QVNOption::downloadSheet(bool attach, ProgressBlock progress, ErrorCompletion completion) {
    const std::optional<std::string>& url = attach ? attachFileURL_ : metalFileURL_;
    if (!url) {
        if (completion) completion(studioError(QVNStudioErrorNoAddress, "the option has no such sheet"));
        return;
    }
    auto self = selfAs<QVNOption>();
    WIWebImageDownloaderProgressBlock forward;
    if (progress)
        forward = [progress](std::int64_t received, std::int64_t expected) { progress(received, expected); };
    WIWebImageManager::sharedManager()->downloadImageWithURL(
        *url, 0, forward,
        [self, attach, completion](const Ref<UIImage>& image, const Ref<NSError>& error, WICacheSource,
                                   bool finished, const Ref<NSURL>&) {
            if (!finished) return;
            if (error || !image) {
                if (completion)
                    completion(error ? error
                                     : studioError(QVNStudioErrorNoPicture, "the sheet is not a picture"));
                return;
            }
            // The image cache writes the sheet on its I/O queue; once that queue has passed this
            // point the sheet is on disk, so the option never counts as cached before it is.
            Ref<WIImageCache> cache = imageCache();
            dispatch_async(cache->ioQueue(), [self, attach, image, completion] {
                dispatch_async(dispatch_get_main_queue(), [self, attach, image, completion] {
                    self->sheetArrived(attach, image, completion);
                });
            });
        });
}

void QVNOption::sheetArrived(bool attach, const Ref<UIImage>& sheet, const ErrorCompletion& completion) {
    auto self = selfAs<QVNOption>();
    downloadFramesInfoWithURL(
        attach ? attachFileURL_ : metalFileURL_,
        [self, attach, sheet, completion](const std::optional<Dictionary>& table, const Ref<NSError>& error) {
            if (error || !table) {
                if (completion)
                    completion(error ? error : studioError(QVNStudioErrorBadFrameTable, "no frame table"));
                return;
            }
            // Entries are cut one by one (an entry that gives no picture only loses its angle);
            // a table without a list of frames is not a frame table at all.
            const Value& frames = (*table)["frames"];
            if (!frames.isArray()) {
                if (completion)
                    completion(studioError(QVNStudioErrorBadFrameTable, "the frame table has no frames"));
                return;
            }
            if (attach) {
                self->saveAttachFileWithJson(*table);
                self->attachImages_ = createImagesAndAnglesWithImage(sheet, frames);
            } else {
                self->metalFrames_ = frames;
                self->saveMetalFileWithJson(*table);
                self->images_ = createImagesAndAnglesWithImage(sheet, frames);
                self->metalSheetWidth_ = sheet ? sheet->size().width : 0;
            }
            if (completion) completion(nullptr);
        });
}

void QVNOption::downloadFramesInfoWithURL(const std::optional<std::string>& sheetURL,
                                          FramesCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    if (!sheetURL) {
        if (completion) completion(std::nullopt, studioError(QVNStudioErrorNoAddress, "no sheet address"));
        return;
    }
    const std::string url = framesName(*sheetURL);
    QVNAPIClient::getWithURL(
        url, Value(),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, error);
            } else if (const Dictionary* table = reply.dictionary()) {
                completion(*table, nullptr);
            } else {
                completion(std::nullopt,
                           studioError(QVNStudioErrorBadFrameTable, "the frame table is not an object"));
            }
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

// ---- cutting --------------------------------------------------------------------------------------

QVNOption::AngleImages QVNOption::createImagesAndAnglesWithImage(const Ref<UIImage>& image,
                                                                 const Value& imagesInfo) {
    AngleImages pictures;
    const Array* frames = imagesInfo.array();
    if (!frames) return pictures;
    for (const Value& entry : *frames) {
        auto key = angleKey(entry);
        if (!key) continue;
        if (Ref<UIImage> picture = UIImage_texture::trimmedSliceWithFrameInfo(image, entry)) {
            pictures[*key] = picture;
        } else {
            pictures.erase(*key);
        }
    }
    return pictures;
}

// ---- per angle ------------------------------------------------------------------------------------

namespace {
Ref<UIImage> lookup(const QVNOption::AngleImages& table, const std::string& angle) {
    auto it = table.find(angle);
    return it == table.end() ? nullptr : it->second;
}

using TintRGB = std::array<GLfloat, 3>;

TintRGB componentsOf(const Ref<UIColor>& color) {
    CGFloat red = 0, green = 0, blue = 0, alpha = 0;
    if (color) color->getRed(&red, &green, &blue, &alpha);
    return {static_cast<GLfloat>(red), static_cast<GLfloat>(green), static_cast<GLfloat>(blue)};
}

Ref<GPXMonochromeFilter> tintFilter(const TintRGB& rgb) {
    auto filter = make<GPXMonochromeFilter>();
    filter->setColor({rgb[0], rgb[1], rgb[2], 1.0f});
    return filter;
}

// The picture tinted; without a GPU answer the picture shows untinted rather than not at all.
Ref<UIImage> tinted(const Ref<GPXMonochromeFilter>& filter, const Ref<UIImage>& picture) {
    Ref<UIImage> result = picture ? filter->imageByFilteringImage(picture) : nullptr;
    return result ? result : picture;
}
}  // namespace

Ref<UIImage> QVNOption::imageForAngle(const std::string& angle) const {
    if (!tintColor_) return lookup(images_, angle);
    if (Ref<UIImage> done = lookup(tintedImages_, angle)) return done;
    // The angle asked for (the one on screen) is tinted now; the background work brings the rest.
    Ref<UIImage> plain = lookup(images_, angle);
    if (!plain) return nullptr;
    Ref<UIImage> picture = tinted(tintFilter(componentsOf(tintColor_)), plain);
    tintedImages_[angle] = picture;
    return picture;
}

Ref<UIImage> QVNOption::attachForAngle(const std::string& angle) const {
    return lookup(attachImages_, angle);
}

CGPoint QVNOption::imageOriginForAngle(const std::string& angle) const {
    return UIImage_texture::getSourceOrigin(lookup(images_, angle));
}

CGSize QVNOption::imageSizeForAngle(const std::string& angle) const {
    return UIImage_texture::getSourceSize(lookup(images_, angle));
}

CGPoint QVNOption::attachOriginForAngle(const std::string& angle) const {
    return UIImage_texture::getSourceOrigin(lookup(attachImages_, angle));
}

CGSize QVNOption::attachSizeForAngle(const std::string& angle) const {
    return UIImage_texture::getSourceSize(lookup(attachImages_, angle));
}

// ---- tint -----------------------------------------------------------------------------------------

void QVNOption::setTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    if (!hasMetalFile_) return;
    tintColor_ = color;
    const std::uint64_t generation = ++*tintGeneration_;
    tintedImages_.clear();
    if (!color) return;
    const TintRGB rgb = componentsOf(color);
    if (images_.empty()) {
        // Nothing cut in memory: the sheet from the image cache, tinted whole and cut at once.
        Ref<UIImage> sheet = imageCache()->imageFromDiskCacheForKey(metalFileURL_);
        Ref<UIImage> source = sheet;
        if (sheet && sheet->size().width <= kMaximumTintWidth) source = tinted(tintFilter(rgb), sheet);
        tintedImages_ = source ? createImagesAndAnglesWithImage(source, cacheOfMetalFrames()) : AngleImages();
        GPXContext::sharedFramebufferCache()->purgeAllUnassignedFramebuffers();
        return;
    }
    if (metalSheetWidth_ > kMaximumTintWidth) {
        tintedImages_ = images_;
        return;
    }
    // Each angle's picture is tinted on its own: the tint is per pixel, so that gives the pixels
    // of a tinted sheet cut again, and the angle on screen need not wait for the whole sheet.
    AngleImages plain = images_;
    Weak<QVNOption> weak = selfAs<QVNOption>();
    std::shared_ptr<std::atomic<std::uint64_t>> current = tintGeneration_;
    auto work = [weak, current, generation, rgb, plain = std::move(plain)] {
        auto filter = tintFilter(rgb);
        AngleImages done;
        for (const auto& [angle, picture] : plain) {
            if (current->load() != generation) return;
            done.emplace(angle, tinted(filter, picture));
        }
        GPXContext::sharedFramebufferCache()->purgeAllUnassignedFramebuffers();
        dispatch_async(dispatch_get_main_queue(), [weak, current, generation, done = std::move(done)] {
            auto self = weak.lock();
            if (!self || current->load() != generation) return;
            // The angles already shown keep the picture they showed.
            for (const auto& [angle, picture] : done) self->tintedImages_.emplace(angle, picture);
        });
    };
    // Started once the main thread has finished what it is doing (showing this tint), so that the
    // angles on screen do not queue for the GPU behind the others.
    dispatch_async(dispatch_get_main_queue(), [work = std::move(work)]() mutable {
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), std::move(work));
    });
}

void QVNOption::prepareTint(std::function<void()> done) {
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [done = std::move(done)] {
        // Besides the program, the GPU driver builds the tint's code again for each kind of
        // texture it samples: sides that are powers of two or not. Only the kind of nearly every
        // cut picture (neither side a power of two) is built here: building the others as well
        // kept a tint made soon after the opening waiting behind them, and cost the opening more.
        // A picture of another kind builds its code on its first tint.
        constexpr std::size_t kSide = 67;
        auto image = CGImageCreate(kSide, kSide, 8, 32, kSide * 4, CGColorSpaceCreateDeviceRGB(),
                                   kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                                   CGDataProviderCreateWithData(NSData::dataWithLength(kSide * kSide * 4)));
        tinted(tintFilter({1, 1, 1}), UIImage::imageWithCGImage(image));
        GPXContext::sharedFramebufferCache()->purgeAllUnassignedFramebuffers();
        if (done) done();
    });
}

// ---- disk -----------------------------------------------------------------------------------------

void QVNOption::configureImageAndFramesFromCache() {
    NS_ASSERT_MAIN_THREAD();
    if (hasMetalFile_ && hasMetalFramesCache()) {
        Ref<UIImage> sheet = imageCache()->imageFromDiskCacheForKey(metalFileURL_);
        images_ = createImagesAndAnglesWithImage(sheet, cacheOfMetalFrames());
        metalSheetWidth_ = sheet ? sheet->size().width : 0;
    }
    if (hasAttach_ && hasAttachFramesCache()) {
        Ref<UIImage> sheet = imageCache()->imageFromDiskCacheForKey(attachFileURL_);
        attachImages_ = createImagesAndAnglesWithImage(sheet, cacheOfAttachFrames());
    }
}

std::optional<std::string> QVNOption::metalFramesCachePath() const {
    if (!hasMetalFile_ || !isPlainFileName(*metalFile_) || cacheDirectory_.empty()) return std::nullopt;
    return cacheDirectory_ + "/" + framesName(*metalFile_);
}

std::optional<std::string> QVNOption::attachFramesCachePath() const {
    if (!hasAttach_ || !isPlainFileName(*attachFile_) || cacheDirectory_.empty()) return std::nullopt;
    return cacheDirectory_ + "/" + framesName(*attachFile_);
}

bool QVNOption::hasMetalFramesCache() const {
    auto path = metalFramesCachePath();
    return path && NSFileManager::defaultManager()->fileExistsAtPath(*path);
}

bool QVNOption::hasAttachFramesCache() const {
    auto path = attachFramesCachePath();
    return path && NSFileManager::defaultManager()->fileExistsAtPath(*path);
}

void QVNOption::saveMetalFileWithJson(const Dictionary& json) const {
    writeJSON(metalFramesCachePath(), json);
}

void QVNOption::saveAttachFileWithJson(const Dictionary& json) const {
    writeJSON(attachFramesCachePath(), json);
}

Value QVNOption::cacheOfMetalFrames() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (metalFrames_.isArray()) return metalFrames_;
    Value frames = readFrames(metalFramesCachePath());
    if (frames.isArray()) metalFrames_ = frames;
    return frames;
}

Value QVNOption::cacheOfAttachFrames() const {
    return readFrames(attachFramesCachePath());
}

bool QVNOption::hasCache() const {
    if (!hasMetalFile_ && !hasAttach_) return false;
    Ref<WIImageCache> cache = imageCache();
    if (hasMetalFile_ && !(hasMetalFramesCache() && cache->diskImageExistsWithKey(metalFileURL_)))
        return false;
    if (hasAttach_ && !(hasAttachFramesCache() && cache->diskImageExistsWithKey(attachFileURL_)))
        return false;
    return true;
}

void QVNOption::clearCacheFromMemory() {
    NS_ASSERT_MAIN_THREAD();
    images_.clear();
    attachImages_.clear();
    tintedImages_.clear();
    Ref<WIImageCache> cache = imageCache();
    for (const auto* url : {&metalFileURL_, &attachFileURL_, &thumbnailURL_})
        if (*url) cache->removeImageForKey(*url, false);
}

void QVNOption::clearCacheFromDisk() {
    NS_ASSERT_MAIN_THREAD();
    Ref<WIImageCache> cache = imageCache();
    for (const auto* url : {&metalFileURL_, &attachFileURL_, &thumbnailURL_})
        if (*url) cache->removeImageForKey(*url, true);
    removeFile(metalFramesCachePath());
    removeFile(attachFramesCachePath());
}
