#pragma once
// SampleCatalogue: everything the stand-in server serves for the car studio, made by the server
// itself. The car list reply, each car's description, and per option its sprite sheets with their
// frame tables and a thumbnail, per preset a thumbnail, and the brand and car logos.
//
// What it promises:
//   - Deterministic: equal options give byte-equal files, run after run.
//   - Pictures are drawn on first use and kept (or all at once by prepareAll(), in parallel),
//     so a test that reads one car pays for that car only. Catalogues made with equal options in
//     one process share their pictures.
//   - Each frame of a sheet is the drawing sourceDrawing() answers, trimmed to its drawn pixels,
//     some frames stored a quarter turn clockwise; the frame table says where and how.
//   - Thread-safe: any thread may ask for files, bump revisions and prepare at once.
//
// Paths given to file() are relative to the car-model prefix ("sample_coupe/car.json"); runs of
// "/" count as one and a leading "/" is ignored, since the client's addresses carry a double
// slash after the prefix. Beside the car folders, "logos/" holds brand_<id>.png and
// brand_<id>_down.png (the pressed logo) per brand and car_<car_en>.png per car.
//
// A car's "updated" value starts at "rev1" in every new catalogue; bumpRevision() moves it on.
// Only the description changes with it: the pictures stay the same bytes.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CatalogueModel.h"
#include "Picture.h"
#include "foundation/NSData.h"
#include "foundation/Value.h"

namespace devserver::catalogue {

struct Options {
    // The car picture's size; every frame's canvas.
    int showcaseWidth = 400;
    int showcaseHeight = 240;
    // Width at which an ordinary sheet starts a new shelf of frames.
    int shelfWidth = 1024;
    // The width of the one deliberately over-wide sheet (wider than the client tints).
    int wideSheetWidth = 4097;
    // Reuse the pictures of an earlier catalogue with equal options in this process.
    bool sharePictures = true;
    // Threads prepareAll() draws with.
    int threads = 4;
};

struct File {
    NSData bytes;
    std::string contentType;
};

inline constexpr char kJSONContentType[] = "application/json";
inline constexpr char kPNGContentType[] = "image/png";
// The description's file name inside each car's folder.
inline constexpr char kDescriptionFile[] = "car.json";
// The folder of the brand logos beside the car folders.
inline constexpr char kLogoFolder[] = "logos";

class SampleCatalogue {
  public:
    static std::shared_ptr<SampleCatalogue> generate(const Options& options = {});

    const Options& options() const;
    const std::vector<SampleBrand>& brands() const;
    // nullptr for an unknown car word.
    const SampleCar* car(const std::string& car_en) const;

    // The car/getcarlist.do reply: {"resultCode": 0, "errmsg": "success", "data": [brands]}, each
    // car's "cars_json" being modelPrefix + car_en + "/car.json", logos under logoPrefix (the model
    // prefix when empty). Both prefixes end in "/" (one is added when missing).
    Dictionary carList(const std::string& modelPrefix, const std::string& logoPrefix = "") const;
    std::string carListJSON(const std::string& modelPrefix, const std::string& logoPrefix = "") const;

    // A car's description as it stands now.
    std::optional<Dictionary> description(const std::string& car_en) const;

    // A file under the car-model prefix, or nullopt when there is none.
    std::optional<File> file(std::string_view relativePath) const;
    // Every file path file() answers, in a fixed order.
    std::vector<std::string> filePaths() const;
    static std::string normalisePath(std::string_view path);

    // Changes the car's "updated" value; false for an unknown car.
    bool bumpRevision(const std::string& car_en);
    std::string revision(const std::string& car_en) const;

    // The upright, untrimmed picture (showcase-sized) a sheet's frame for that angle was cut from;
    // nullopt for an unknown car or option, an option without that sheet, or an angle outside
    // 1 ... 25.
    std::optional<Picture> sourceDrawing(const std::string& car_en, const std::string& optionIdentifier,
                                         int angle, bool attach = false) const;
    // The whole car at an angle, parts stacked by layer: each part shows the option `choices`
    // names for its selector, else its default (no suspension offset). nullopt for an unknown car
    // or an angle outside 1 ... 25.
    std::optional<Picture>
    carDrawing(const std::string& car_en, int angle,
               const std::vector<std::pair<std::string, std::string>>& choices = {}) const;
    // Whether a frame of this angle is stored turned in the sheets.
    static bool frameRotated(int angle);

    // Draws every picture now, on options().threads threads.
    void prepareAll() const;

    struct Store;
    SampleCatalogue(std::shared_ptr<Store> store, const Options& options);

  private:
    std::shared_ptr<Store> store_;
    Options options_;
    mutable std::mutex mutex_;
    std::map<std::string, int> revisions_;
};

}  // namespace devserver::catalogue
