#include "system/ALAssetsLibrary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "foundation/NSBundle.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUUID.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "system/PhotoAlbum.h"
#include "system/SystemTesting.h"

namespace detail {

// One photo or video of the library. What it is never changes once made; the decoded picture and
// the stored bytes are made on first use.
struct PhotoAsset {
    std::string id;
    bool video = false;
    double duration = 0;
    NSDate date;
    std::string filename;  // "IMG_0001.JPG"
    std::string uti;
    std::string filePath;  // the album file; empty for assets that live in memory

    mutable std::mutex mutex;  // guards what follows
    mutable Ref<UIImage> image;
    mutable std::optional<NSData> encoded;

    std::string extension() const {
        auto dot = filename.rfind('.');
        return dot == std::string::npos ? std::string() : filename.substr(dot + 1);
    }
    Ref<NSURL> url() const {
        return NSURL::URLWithString("assets-library://asset/asset." + extension() + "?id=" + id +
                                    "&ext=" + extension());
    }
    Ref<UIImage> picture() const {
        std::lock_guard lock(mutex);
        if (!image && !filePath.empty()) image = UIImage::imageWithContentsOfFile(filePath);
        return image;
    }
    NSData bytes() const {
        std::lock_guard lock(mutex);
        if (!encoded) {
            if (!filePath.empty()) {
                encoded = NSData::dataWithContentsOfFile(filePath).value_or(NSData());
            } else if (!video && image) {
                encoded = UIImagePNGRepresentation(image).value_or(NSData());
            } else {
                encoded = NSData();  // videos are not encoded here
            }
        }
        return *encoded;
    }
};

}  // namespace detail

namespace {

using detail::PhotoAsset;
using AssetPtr = std::shared_ptr<PhotoAsset>;

constexpr char kSavedPhotosID[] = "saved-photos";
constexpr double kThumbnailPoints = 78;

struct GroupRecord {
    std::string id;
    std::string name;
    ALAssetsGroupType type = ALAssetsGroupAlbum;
    bool editable = false;
    std::vector<AssetPtr> assets;
};

struct FileKey {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    auto operator<=>(const FileKey&) const = default;
};

struct Store {
    std::mutex mutex;  // guards everything here
    std::vector<GroupRecord> groups;
    std::optional<std::string> albumDirectory;
    std::string syncedDirectory;
    std::set<FileKey> rejectedFiles;  // files that did not decode, until they change
    ALAuthorizationStatus status = ALAuthorizationStatusNotDetermined;
    Ref<NSError> saveError;
    CGSize fullScreen{750, 1334};

    Store() { reset(); }
    void reset() {
        groups.clear();
        // Named in the app's language when asked (savedPhotosName).
        groups.push_back({kSavedPhotosID, "", ALAssetsGroupSavedPhotos, false, {}});
        syncedDirectory.clear();
        rejectedFiles.clear();
        status = ALAuthorizationStatusNotDetermined;
        saveError = nullptr;
        fullScreen = {750, 1334};
    }
};

Store& store() {
    static Store s;
    return s;
}

std::string albumDirectoryLocked(const Store& s) {
    if (s.albumDirectory) return *s.albumDirectory;
    if (const char* env = std::getenv("APP_PHOTO_ALBUM_DIR"); env && *env) return env;
    return NSSandbox::root() + "/Media/DCIM";
}

GroupRecord* findGroupLocked(Store& s, const std::string& id) {
    for (auto& g : s.groups) {
        if (g.id == id) return &g;
    }
    return nullptr;
}

AssetPtr findAssetLocked(Store& s, const std::string& id) {
    for (auto& g : s.groups) {
        for (auto& a : g.assets) {
            if (a->id == id) return a;
        }
    }
    return nullptr;
}

// The saved photos' name in the app's language, as the device names its own albums: the first of
// the app's localisations in the user's order of preference, else the app's development region.
// Chinese in traditional script is told from simplified by its script, else its region; a
// language the library has no name in reads the English one.
std::string savedPhotosName() {
    Ref<NSBundle> app = NSBundle::mainBundle();
    std::string language;
    for (const std::string& localization : app->preferredLocalizations()) {
        if (localization != "Base") {
            language = localization;
            break;
        }
    }
    if (language.empty()) {
        language =
            app->objectForInfoDictionaryKey(kCFBundleDevelopmentRegionKey).optionalString().value_or("");
    }
    for (char& c : language)
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (language != "zh" && language.rfind("zh-", 0) != 0) return "Camera Roll";
    std::string rest = "-" + language.substr(2) + "-";
    if (rest.find("-hans-") != std::string::npos) return "相机胶卷";
    for (const char* traditional : {"-hant-", "-tw-", "-hk-", "-mo-"}) {
        if (rest.find(traditional) != std::string::npos) return "相機膠卷";
    }
    return "相机胶卷";
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::optional<std::string> utiForExtension(const std::string& extension) {
    std::string e = upper(extension);
    if (e == "JPG" || e == "JPEG") return std::string("public.jpeg");
    if (e == "PNG") return std::string("public.png");
    return std::nullopt;
}

// The number in "IMG_0042.JPG", if the name has that form.
std::optional<long> pictureNumber(const std::string& name) {
    if (name.size() < 5 || upper(name.substr(0, 4)) != "IMG_") return std::nullopt;
    std::size_t i = 4;
    long n = 0;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) {
        if (n > 100'000'000) return std::nullopt;
        n = n * 10 + (name[i] - '0');
        ++i;
    }
    if (i == 4 || i >= name.size() || name[i] != '.') return std::nullopt;
    return n;
}

// Brings the saved photos in line with the album folder: pictures that appeared are added at the
// end (in name order), pictures whose file went are dropped; assets that live in memory stay.
void syncSavedPhotosLocked(Store& s) {
    std::string dir = albumDirectoryLocked(s);
    GroupRecord& saved = s.groups.front();
    if (dir != s.syncedDirectory) {
        std::erase_if(saved.assets, [](const AssetPtr& a) { return !a->filePath.empty(); });
        s.rejectedFiles.clear();
        s.syncedDirectory = dir;
    }
    std::vector<std::pair<std::string, FileKey>> files;  // name, key
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        auto dot = name.rfind('.');
        if (dot == std::string::npos || !utiForExtension(name.substr(dot + 1))) continue;
        struct stat st {};
        std::string path = it->path().string();
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back({name, FileKey{path, static_cast<std::uint64_t>(st.st_size),
                                       static_cast<std::int64_t>(st.st_mtim.tv_sec)}});
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::set<std::string> present;
    for (const auto& f : files) present.insert(f.second.path);
    std::erase_if(saved.assets,
                  [&](const AssetPtr& a) { return !a->filePath.empty() && !present.count(a->filePath); });
    std::set<std::string> known;
    for (const auto& a : saved.assets) {
        if (!a->filePath.empty()) known.insert(a->filePath);
    }
    for (const auto& [name, key] : files) {
        if (known.count(key.path) || s.rejectedFiles.count(key)) continue;
        auto image = UIImage::imageWithContentsOfFile(key.path);
        if (!image || !image->CGImage()) {
            s.rejectedFiles.insert(key);
            continue;
        }
        auto asset = std::make_shared<PhotoAsset>();
        asset->id = upper(make<NSUUID>()->UUIDString());
        asset->date = NSDate::dateWithTimeIntervalSince1970(static_cast<double>(key.mtime));
        asset->filename = name;
        asset->uti = *utiForExtension(name.substr(name.rfind('.') + 1));
        asset->filePath = key.path;
        asset->image = image;
        saved.assets.push_back(std::move(asset));
    }
}

std::optional<std::string> queryItem(const Ref<NSURL>& url, const std::string& key) {
    if (!url) return std::nullopt;
    auto query = url->query();
    if (!query) return std::nullopt;
    std::size_t start = 0;
    while (start <= query->size()) {
        std::size_t end = query->find('&', start);
        if (end == std::string::npos) end = query->size();
        std::string pair = query->substr(start, end - start);
        auto eq = pair.find('=');
        if (eq != std::string::npos && pair.substr(0, eq) == key) return pair.substr(eq + 1);
        start = end + 1;
    }
    return std::nullopt;
}

Ref<NSError> accessErrorLocked(Store& s) {
    if (s.status == ALAuthorizationStatusNotDetermined) s.status = ALAuthorizationStatusAuthorized;
    if (s.status == ALAuthorizationStatusDenied) {
        return NSError::errorWithDomain(ALAssetsLibraryErrorDomain, ALAssetsLibraryAccessUserDeniedError,
                                        Dictionary{{NSLocalizedDescriptionKey, Value("User denied access")}});
    }
    if (s.status == ALAuthorizationStatusRestricted) {
        return NSError::errorWithDomain(
            ALAssetsLibraryErrorDomain, ALAssetsLibraryAccessGloballyDeniedError,
            Dictionary{{NSLocalizedDescriptionKey, Value("Global denied access")}});
    }
    return nullptr;
}

Ref<NSError> libraryError(long code, const std::string& description) {
    return NSError::errorWithDomain(ALAssetsLibraryErrorDomain, code,
                                    Dictionary{{NSLocalizedDescriptionKey, Value(description)}});
}

void onMainLoopLater(std::function<void()> block) {
    NSRunLoop::mainRunLoop()->performInModes({NSRunLoopCommonModes}, std::move(block));
}

// Pixel size of a picture as it displays (orientation applied).
CGSize pixelSize(const Ref<UIImage>& image) {
    CGSize points = image->size();
    return {points.width * image->scale(), points.height * image->scale()};
}

// Draws the picture into rect of a canvas of `canvas` points at `scale`.
CGImageRef drawPicture(const Ref<UIImage>& image, CGSize canvas, CGFloat scale, CGRect rect) {
    UIGraphicsBeginImageContextWithOptions(canvas, false, scale);
    image->drawInRect(rect);
    auto out = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return out ? out->CGImage() : nullptr;
}

CGImageRef squareThumbnail(const Ref<UIImage>& image) {
    if (!image) return nullptr;
    CGSize px = pixelSize(image);
    if (px.width <= 0 || px.height <= 0) return nullptr;
    double side = kThumbnailPoints;
    double f = std::max(side / px.width, side / px.height);
    double w = px.width * f, h = px.height * f;
    return drawPicture(image, {side, side}, UIGraphicsGetDefaultScreenScale(),
                       {(side - w) / 2, (side - h) / 2, w, h});
}

// The picture scaled by f (at most 1) into a canvas of whole pixels.
CGImageRef scaledPicture(const Ref<UIImage>& image, double f) {
    CGSize px = pixelSize(image);
    f = std::min(1.0, f);
    double w = std::max(1.0, std::round(px.width * f)), h = std::max(1.0, std::round(px.height * f));
    return drawPicture(image, {w, h}, 1, {0, 0, w, h});
}

std::vector<AssetPtr> applyFilter(const std::vector<AssetPtr>& assets, const Ref<ALAssetsFilter>& filter) {
    if (!filter || filter->kind() == ALAssetsFilter::Kind::AllAssets) return assets;
    bool videos = filter->kind() == ALAssetsFilter::Kind::AllVideos;
    std::vector<AssetPtr> out;
    for (const auto& a : assets) {
        if (a->video == videos) out.push_back(a);
    }
    return out;
}

Ref<NSURL> addAssetLocked(Store& s, const std::string& groupID, AssetPtr asset) {
    GroupRecord* group = findGroupLocked(s, groupID);
    if (!group) return nullptr;
    group->assets.push_back(asset);
    return asset->url();
}

long nextPictureNumberLocked(const std::string& dir) {
    long highest = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (auto n = pictureNumber(it->path().filename().string())) highest = std::max(highest, *n);
    }
    return highest + 1;
}

// A name for an asset that lives in memory, numbered after every asset of the library.
std::string memoryAssetNameLocked(Store& s, const char* extension) {
    std::size_t count = 0;
    for (const auto& g : s.groups) count += g.assets.size();
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04zu.%s", count + 1, extension);
    return name;
}

}  // namespace

// ---- filters ---------------------------------------------------------------------------------------

Ref<ALAssetsFilter> ALAssetsFilter::allPhotos() {
    static Ref<ALAssetsFilter> f = make<ALAssetsFilter>(Kind::AllPhotos);
    return f;
}
Ref<ALAssetsFilter> ALAssetsFilter::allVideos() {
    static Ref<ALAssetsFilter> f = make<ALAssetsFilter>(Kind::AllVideos);
    return f;
}
Ref<ALAssetsFilter> ALAssetsFilter::allAssets() {
    static Ref<ALAssetsFilter> f = make<ALAssetsFilter>(Kind::AllAssets);
    return f;
}

// ---- representations -------------------------------------------------------------------------------

std::string ALAssetRepresentation::UTI() const {
    return asset_->uti;
}

CGSize ALAssetRepresentation::dimensions() const {
    auto image = asset_->picture();
    if (!image || !image->CGImage()) return {0, 0};
    return {static_cast<CGFloat>(image->CGImage()->width()),
            static_cast<CGFloat>(image->CGImage()->height())};
}

long long ALAssetRepresentation::size() const {
    return static_cast<long long>(asset_->bytes().length());
}

std::size_t ALAssetRepresentation::getBytes(std::uint8_t* buffer, long long offset, std::size_t length,
                                            Ref<NSError>* error) const {
    NSData bytes = asset_->bytes();
    if (!buffer || offset < 0 || static_cast<unsigned long long>(offset) >= bytes.length()) {
        setError(error, libraryError(ALAssetsLibraryDataUnavailableError, "No bytes at that offset"));
        return 0;
    }
    std::size_t n = std::min(length, bytes.length() - static_cast<std::size_t>(offset));
    std::memcpy(buffer, bytes.bytes() + offset, n);
    return n;
}

std::string ALAssetRepresentation::filename() const {
    return asset_->filename;
}
Ref<NSURL> ALAssetRepresentation::url() const {
    return asset_->url();
}

CGImageRef ALAssetRepresentation::fullResolutionImage() const {
    auto image = asset_->picture();
    return image ? image->CGImage() : nullptr;
}

CGImageRef ALAssetRepresentation::fullScreenImage() const {
    auto image = asset_->picture();
    if (!image || !image->CGImage()) return nullptr;
    CGSize screen;
    {
        std::lock_guard lock(store().mutex);
        screen = store().fullScreen;
    }
    CGSize px = pixelSize(image);
    if (px.width <= 0 || px.height <= 0) return nullptr;
    return scaledPicture(image, std::min(screen.width / px.width, screen.height / px.height));
}

// ---- assets ----------------------------------------------------------------------------------------

bool ALAsset::isEqual(const NSObject& other) const {
    auto* asset = dynamic_cast<const ALAsset*>(&other);
    return asset && asset->asset_ == asset_;
}

std::size_t ALAsset::hash() const {
    return std::hash<const void*>()(asset_.get());
}

Value ALAsset::valueForProperty(const std::string& property) const {
    if (property == ALAssetPropertyType) return Value(asset_->video ? ALAssetTypeVideo : ALAssetTypePhoto);
    if (property == ALAssetPropertyDuration) {
        return asset_->video ? Value(asset_->duration) : Value(ALErrorInvalidProperty);
    }
    if (property == ALAssetPropertyDate) return Value(asset_->date);
    if (property == ALAssetPropertyOrientation) return Value(static_cast<long>(ALAssetOrientationUp));
    if (property == ALAssetPropertyAssetURL) return Value(asset_->url());
    if (property == ALAssetPropertyRepresentations) return Value(Array{Value(asset_->uti)});
    if (property == ALAssetPropertyLocation) return Value();
    return Value(ALErrorInvalidProperty);
}

CGImageRef ALAsset::thumbnail() const {
    return squareThumbnail(asset_->picture());
}

CGImageRef ALAsset::aspectRatioThumbnail() const {
    auto image = asset_->picture();
    if (!image) return nullptr;
    CGSize px = pixelSize(image);
    double shorter = std::min(px.width, px.height);
    if (shorter <= 0) return nullptr;
    double side = std::ceil(kThumbnailPoints * UIGraphicsGetDefaultScreenScale());
    return scaledPicture(image, side / shorter);
}

Ref<ALAssetRepresentation> ALAsset::defaultRepresentation() const {
    return make<ALAssetRepresentation>(asset_);
}

Ref<ALAssetRepresentation> ALAsset::representationForUTI(const std::string& uti) const {
    return uti == asset_->uti ? defaultRepresentation() : nullptr;
}

// ---- groups ----------------------------------------------------------------------------------------

Value ALAssetsGroup::valueForProperty(const std::string& property) const {
    // Read at each call, so the name follows the app's language as it is now.
    const bool systemName = property == ALAssetsGroupPropertyName && groupID_ == kSavedPhotosID;
    const std::string savedName = systemName ? savedPhotosName() : std::string();
    auto& s = store();
    std::lock_guard lock(s.mutex);
    GroupRecord* group = findGroupLocked(s, groupID_);
    if (!group) return Value();
    if (systemName) return Value(savedName);
    if (property == ALAssetsGroupPropertyName) return Value(group->name);
    if (property == ALAssetsGroupPropertyType) return Value(NSNumber::numberWithUnsignedInt(group->type));
    if (property == ALAssetsGroupPropertyPersistentID) return Value(group->id);
    if (property == ALAssetsGroupPropertyURL) {
        return Value(NSURL::URLWithString("assets-library://group/?id=" + group->id));
    }
    return Value();
}

std::vector<AssetPtr> ALAssetsGroup::filteredAssets() const {
    Ref<ALAssetsFilter> filter;
    {
        std::lock_guard lock(mutex_);
        filter = filter_;
    }
    auto& s = store();
    std::lock_guard lock(s.mutex);
    GroupRecord* group = findGroupLocked(s, groupID_);
    if (!group) return {};
    return applyFilter(group->assets, filter);
}

CGImageRef ALAssetsGroup::posterImage() const {
    auto assets = filteredAssets();
    if (assets.empty()) return nullptr;
    return squareThumbnail(assets.back()->picture());
}

void ALAssetsGroup::setAssetsFilter(const Ref<ALAssetsFilter>& filter) {
    std::lock_guard lock(mutex_);
    filter_ = filter;
}

long ALAssetsGroup::numberOfAssets() const {
    return static_cast<long>(filteredAssets().size());
}

bool ALAssetsGroup::isEditable() const {
    auto& s = store();
    std::lock_guard lock(s.mutex);
    GroupRecord* group = findGroupLocked(s, groupID_);
    return group && group->editable;
}

bool ALAssetsGroup::addAsset(const Ref<ALAsset>& asset) {
    if (!asset) return false;
    auto& s = store();
    std::lock_guard lock(s.mutex);
    GroupRecord* group = findGroupLocked(s, groupID_);
    if (!group || !group->editable) return false;
    if (std::find(group->assets.begin(), group->assets.end(), asset->record()) == group->assets.end()) {
        group->assets.push_back(asset->record());
    }
    return true;
}

void ALAssetsGroup::enumerateAssetsUsingBlock(const AssetBlock& block) const {
    enumerateAssetsWithOptions(0, block);
}

void ALAssetsGroup::enumerateAssetsWithOptions(NSEnumerationOptions options, const AssetBlock& block) const {
    auto assets = filteredAssets();
    enumerateAssetsAtIndexes(NSIndexSet(0, assets.size()), options, block);
}

void ALAssetsGroup::enumerateAssetsAtIndexes(const NSIndexSet& indexes, NSEnumerationOptions options,
                                             const AssetBlock& block) const {
    if (!block) return;
    auto assets = filteredAssets();
    std::vector<std::size_t> chosen;
    for (std::size_t index : indexes) {
        if (index >= assets.size()) break;
        chosen.push_back(index);
    }
    if (options & NSEnumerationReverse) std::reverse(chosen.begin(), chosen.end());
    bool stop = false;
    for (std::size_t index : chosen) {
        block(make<ALAsset>(assets[index]), index, &stop);
        if (stop) return;
    }
    block(nullptr, NSNotFound, &stop);
}

// ---- the library -----------------------------------------------------------------------------------

ALAuthorizationStatus ALAssetsLibrary::authorizationStatus() {
    std::lock_guard lock(store().mutex);
    return store().status;
}

namespace {

struct GroupEnumeration {
    Ref<ALAssetsLibrary> library;  // kept alive while the enumeration runs
    std::vector<std::string> groupIDs;
    std::size_t next = 0;
    ALAssetsLibrary::GroupBlock block;
};

void enumerationStep(std::shared_ptr<GroupEnumeration> e) {
    bool stop = false;
    while (e->next < e->groupIDs.size()) {
        const std::string id = e->groupIDs[e->next++];
        {
            auto& s = store();
            std::lock_guard lock(s.mutex);
            if (!findGroupLocked(s, id)) continue;  // removed meanwhile
        }
        e->block(make<ALAssetsGroup>(id), &stop);
        if (stop) return;
        onMainLoopLater([e] { enumerationStep(e); });
        return;
    }
    e->block(nullptr, &stop);
}

}  // namespace

void ALAssetsLibrary::enumerateGroupsWithTypes(ALAssetsGroupType types, GroupBlock enumerationBlock,
                                               FailureBlock failureBlock) {
    auto library = selfAs<ALAssetsLibrary>();
    onMainLoopLater([library, types, enumerationBlock = std::move(enumerationBlock),
                     failureBlock = std::move(failureBlock)]() mutable {
        auto e = std::make_shared<GroupEnumeration>();
        Ref<NSError> error;
        {
            auto& s = store();
            std::lock_guard lock(s.mutex);
            error = accessErrorLocked(s);
            if (!error) {
                syncSavedPhotosLocked(s);
                for (const auto& g : s.groups) {
                    if (g.type & types) e->groupIDs.push_back(g.id);
                }
            }
        }
        if (error) {
            if (failureBlock) failureBlock(error);
            return;
        }
        if (!enumerationBlock) return;
        e->library = library;
        e->block = std::move(enumerationBlock);
        enumerationStep(e);
    });
}

void ALAssetsLibrary::assetForURL(const Ref<NSURL>& assetURL, AssetResultBlock resultBlock,
                                  FailureBlock failureBlock) {
    auto library = selfAs<ALAssetsLibrary>();
    onMainLoopLater(
        [library, assetURL, resultBlock = std::move(resultBlock), failureBlock = std::move(failureBlock)] {
            AssetPtr asset;
            Ref<NSError> error;
            {
                auto& s = store();
                std::lock_guard lock(s.mutex);
                error = accessErrorLocked(s);
                if (!error) {
                    syncSavedPhotosLocked(s);
                    if (auto id = queryItem(assetURL, "id")) asset = findAssetLocked(s, *id);
                }
            }
            if (error) {
                if (failureBlock) failureBlock(error);
            } else if (resultBlock) {
                resultBlock(asset ? make<ALAsset>(asset) : nullptr);
            }
        });
}

void ALAssetsLibrary::groupForURL(const Ref<NSURL>& groupURL, GroupResultBlock resultBlock,
                                  FailureBlock failureBlock) {
    auto library = selfAs<ALAssetsLibrary>();
    onMainLoopLater(
        [library, groupURL, resultBlock = std::move(resultBlock), failureBlock = std::move(failureBlock)] {
            Ref<ALAssetsGroup> group;
            Ref<NSError> error;
            {
                auto& s = store();
                std::lock_guard lock(s.mutex);
                error = accessErrorLocked(s);
                if (!error) {
                    syncSavedPhotosLocked(s);
                    auto id = queryItem(groupURL, "id");
                    if (id && findGroupLocked(s, *id)) group = make<ALAssetsGroup>(*id);
                }
            }
            if (error) {
                if (failureBlock) failureBlock(error);
            } else if (resultBlock) {
                resultBlock(group);
            }
        });
}

void ALAssetsLibrary::writeImageToSavedPhotosAlbum(const CGImageRef& image, ALAssetOrientation orientation,
                                                   WriteCompletionBlock completion) {
    UIImageOrientation o = UIImageOrientation::Up;
    switch (orientation) {
        case ALAssetOrientationDown:
            o = UIImageOrientation::Down;
            break;
        case ALAssetOrientationLeft:
            o = UIImageOrientation::Left;
            break;
        case ALAssetOrientationRight:
            o = UIImageOrientation::Right;
            break;
        default:
            break;
    }
    Ref<NSError> error;
    Ref<NSURL> url = detail::saveImageToPhotoAlbum(UIImage::imageWithCGImage(image, 1, o), &error);
    if (!completion) return;
    onMainLoopLater([completion = std::move(completion), url, error] { completion(url, error); });
}

// ---- the album folder ------------------------------------------------------------------------------

namespace detail {

std::string photoAlbumDirectory() {
    std::lock_guard lock(store().mutex);
    return albumDirectoryLocked(store());
}

void setPhotoAlbumDirectory(const std::string& path) {
    std::lock_guard lock(store().mutex);
    if (path.empty()) {
        store().albumDirectory.reset();
    } else {
        store().albumDirectory = path;
    }
}

Ref<NSURL> saveImageToPhotoAlbum(const Ref<UIImage>& image, Ref<NSError>* error) {
    auto& s = store();
    {
        std::lock_guard lock(s.mutex);
        if (s.saveError) {
            setError(error, s.saveError);
            return nullptr;
        }
        if (auto denied = accessErrorLocked(s)) {
            setError(error, denied);
            return nullptr;
        }
    }
    if (!image || !image->CGImage()) {
        setError(error, libraryError(ALAssetsLibraryWriteInvalidDataError, "Invalid image data"));
        return nullptr;
    }
    CGImageAlphaInfo alpha = CGImageGetAlphaInfo(image->CGImage());
    bool opaque = alpha == kCGImageAlphaNone || alpha == kCGImageAlphaNoneSkipFirst ||
                  alpha == kCGImageAlphaNoneSkipLast;
    auto encoded = opaque ? UIImageJPEGRepresentation(image, 0.9) : UIImagePNGRepresentation(image);
    if (!encoded) {
        setError(error,
                 libraryError(ALAssetsLibraryWriteDataEncodingError, "The image could not be encoded"));
        return nullptr;
    }
    std::lock_guard lock(s.mutex);
    std::string dir = albumDirectoryLocked(s);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    syncSavedPhotosLocked(s);
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04ld.%s", nextPictureNumberLocked(dir), opaque ? "JPG" : "PNG");
    std::string path = dir + "/" + name;
    if (!encoded->writeToFile(path, true)) {
        setError(error, libraryError(ALAssetsLibraryWriteFailedError, "Write failed"));
        return nullptr;
    }
    auto asset = std::make_shared<PhotoAsset>();
    asset->id = upper(make<NSUUID>()->UUIDString());
    asset->date = NSDate::date();
    asset->filename = name;
    asset->uti = opaque ? "public.jpeg" : "public.png";
    asset->filePath = path;
    asset->encoded = *encoded;
    s.groups.front().assets.push_back(asset);
    return asset->url();
}

}  // namespace detail

namespace system_testing {

void setPhotoLibraryAuthorizationStatus(ALAuthorizationStatus status) {
    std::lock_guard lock(store().mutex);
    store().status = status;
}

std::string addPhotoGroup(const std::string& name, ALAssetsGroupType type) {
    GroupRecord group;
    group.id = upper(make<NSUUID>()->UUIDString());
    group.name = name;
    group.type = type;
    group.editable = type == ALAssetsGroupAlbum;
    std::lock_guard lock(store().mutex);
    store().groups.push_back(group);
    return group.id;
}

std::string savedPhotosGroupID() {
    return kSavedPhotosID;
}

Ref<NSURL> addPhoto(const std::string& groupID, const Ref<UIImage>& image, std::optional<NSDate> date) {
    if (!image || !image->CGImage()) return nullptr;
    auto asset = std::make_shared<PhotoAsset>();
    asset->id = upper(make<NSUUID>()->UUIDString());
    asset->date = date.value_or(NSDate::date());
    asset->uti = "public.png";
    asset->image = image;
    auto& s = store();
    std::lock_guard lock(s.mutex);
    asset->filename = memoryAssetNameLocked(s, "PNG");
    return addAssetLocked(s, groupID, asset);
}

Ref<NSURL> addVideo(const std::string& groupID, const Ref<UIImage>& poster, double duration,
                    std::optional<NSDate> date) {
    if (!poster || !poster->CGImage()) return nullptr;
    auto asset = std::make_shared<PhotoAsset>();
    asset->id = upper(make<NSUUID>()->UUIDString());
    asset->video = true;
    asset->duration = duration;
    asset->date = date.value_or(NSDate::date());
    asset->uti = "public.mpeg-4";
    asset->image = poster;
    auto& s = store();
    std::lock_guard lock(s.mutex);
    asset->filename = memoryAssetNameLocked(s, "MP4");
    return addAssetLocked(s, groupID, asset);
}

bool addAssetToGroup(const Ref<NSURL>& assetURL, const std::string& groupID) {
    auto id = queryItem(assetURL, "id");
    if (!id) return false;
    auto& s = store();
    std::lock_guard lock(s.mutex);
    AssetPtr asset = findAssetLocked(s, *id);
    GroupRecord* group = findGroupLocked(s, groupID);
    if (!asset || !group) return false;
    if (std::find(group->assets.begin(), group->assets.end(), asset) == group->assets.end()) {
        group->assets.push_back(asset);
    }
    return true;
}

void setFullScreenPixelSize(CGSize size) {
    std::lock_guard lock(store().mutex);
    store().fullScreen = size.width > 0 && size.height > 0 ? size : CGSize{750, 1334};
}

void resetPhotoLibrary() {
    std::lock_guard lock(store().mutex);
    store().reset();
    store().albumDirectory.reset();
}

void setPhotoAlbumSaveError(Ref<NSError> error) {
    std::lock_guard lock(store().mutex);
    store().saveError = std::move(error);
}

Ref<NSError> photoAlbumSaveError() {
    std::lock_guard lock(store().mutex);
    return store().saveError;
}

}  // namespace system_testing
