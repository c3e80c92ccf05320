#include "SampleCatalogue.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <numbers>
#include <thread>
#include <tuple>

#include "SpriteSheet.h"
#include "foundation/NSJSONSerialization.h"
#include "graphics/CGContext.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"

namespace devserver::catalogue {

namespace {

constexpr RGB kThumbBackground{236, 236, 236};
constexpr int kOptionThumbWidth = 96, kOptionThumbHeight = 64;
constexpr int kPresetThumbWidth = 120, kPresetThumbHeight = 72;
constexpr int kCarLogoWidth = 160, kCarLogoHeight = 96;
constexpr int kBrandLogoSide = 96;

NSData jsonBytes(const Value& value) {
    auto data = NSJSONSerialization::dataWithJSONObject(value, 0, nullptr);
    return data ? *data : NSData();
}

std::string withSlash(std::string prefix) {
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    return prefix;
}

std::string revisionText(int n) {
    return "rev" + std::to_string(n);
}

std::string sheetKey(const SampleCar& car, const SampleOption& option, bool attach) {
    return car.car_en + "/" + option.identifier + (attach ? "/attach" : "/metal");
}

// A round badge with the brand's name across it (two lines of at most two characters each for
// a four-character name), so that the studio's row of brands reads; `inverted` swaps the colours
// (the pressed logo).
Picture brandBadge(const SampleBrand& brand, bool inverted) {
    const CGFloat side = kBrandLogoSide;
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(side, side), false, 1);
    CGContextRef cg = UIGraphicsGetCurrentContext();
    if (!cg) {
        UIGraphicsEndImageContext();
        return {};
    }
    const RGB colour = brand.colour;
    RGB fill = inverted ? RGB{255, 255, 255} : colour, mark = inverted ? colour : RGB{255, 255, 255};
    CGContextSetRGBFillColor(cg, fill.r / 255.0, fill.g / 255.0, fill.b / 255.0, 1);
    CGContextFillEllipseInRect(cg, CGRectMake(4, 4, side - 8, side - 8));
    CGContextSetRGBStrokeColor(cg, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0, 1);
    CGContextSetLineWidth(cg, 3);
    CGContextStrokeEllipseInRect(cg, CGRectMake(4, 4, side - 8, side - 8));

    // Characters, not bytes: the names are Chinese.
    std::vector<std::string> characters;
    for (std::size_t at = 0; at < brand.brand_name.size();) {
        const unsigned char lead = static_cast<unsigned char>(brand.brand_name[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        characters.push_back(brand.brand_name.substr(at, length));
        at += length;
    }
    std::vector<std::string> lines(1);
    const std::size_t perLine = characters.size() > 3 ? (characters.size() + 1) / 2 : characters.size();
    for (std::size_t k = 0; k < characters.size(); ++k) {
        if (k > 0 && k % std::max<std::size_t>(perLine, 1) == 0) lines.emplace_back();
        lines.back() += characters[k];
    }
    Dictionary attributes;
    attributes.setObject(NSFontAttributeName,
                         Value(UIFont::boldSystemFontOfSize(lines.size() > 1 ? 22 : 20)));
    attributes.setObject(NSForegroundColorAttributeName,
                         Value(UIColor::colorWithRed(mark.r / 255.0, mark.g / 255.0, mark.b / 255.0, 1)));
    std::vector<CGSize> sizes;
    CGFloat height = 0;
    for (const std::string& line : lines) {
        sizes.push_back(NSStringDrawing::sizeWithAttributes(line, attributes));
        height += sizes.back().height;
    }
    CGFloat y = (side - height) / 2;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        NSStringDrawing::drawAtPoint(lines[k], CGPointMake((side - sizes[k].width) / 2, y), attributes);
        y += sizes[k].height;
    }
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image ? pictureFromCGImage(image->CGImage()) : Picture{};
}

// The thumbnail of an option that shows nothing: a struck-through ring.
Picture noneThumbnail() {
    const int w = kOptionThumbWidth, h = kOptionThumbHeight;
    CGContextRef cg = CGBitmapContextCreate(nullptr, w, h, 8, w * 4, CGColorSpaceCreateDeviceRGB(),
                                            kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
    if (!cg) return {};
    CGContextSetRGBFillColor(cg, kThumbBackground.r / 255.0, kThumbBackground.g / 255.0,
                             kThumbBackground.b / 255.0, 1);
    CGContextFillRect(cg, CGRectMake(0, 0, w, h));
    CGContextSetRGBStrokeColor(cg, 0.45, 0.45, 0.48, 1);
    CGContextSetLineWidth(cg, 4);
    const double r = h * 0.32;
    CGContextStrokeEllipseInRect(cg, CGRectMake(w / 2.0 - r, h / 2.0 - r, 2 * r, 2 * r));
    CGPoint slash[] = {{w / 2.0 - r * 0.7, h / 2.0 - r * 0.7}, {w / 2.0 + r * 0.7, h / 2.0 + r * 0.7}};
    CGContextStrokeLineSegments(cg, slash, 2);
    return pictureFromCGImage(CGBitmapContextCreateImage(cg));
}

}  // namespace

struct SampleCatalogue::Store {
    enum class Kind {
        Description,
        Sheet,
        Table,
        OptionThumbnail,
        PresetThumbnail,
        CarLogo,
        BrandLogo,
        BrandLogoDown
    };
    struct Entry {
        Kind kind;
        const SampleBrand* brand = nullptr;
        const SampleCar* car = nullptr;
        const SamplePart* part = nullptr;
        const SampleOption* option = nullptr;
        const SamplePreset* preset = nullptr;
        bool attach = false;
    };
    struct SheetBytes {
        std::once_flag once;
        NSData png, table;
    };
    struct PictureBytes {
        std::once_flag once;
        NSData png;
    };

    Options options;
    std::vector<SampleBrand> brands;
    std::map<std::string, const SampleCar*> cars;
    std::vector<std::string> order;
    std::map<std::string, Entry> files;
    // Filled once per key; the maps themselves never change after construction.
    std::map<std::string, std::unique_ptr<SheetBytes>> sheets;
    std::map<std::string, std::unique_ptr<PictureBytes>> pictures;

    explicit Store(const Options& o) : options(o), brands(sampleBrands()) {
        for (const SampleBrand& brand : brands) {
            for (const SampleCar& car : brand.cars) cars[car.car_en] = &car;
        }
        for (const SampleBrand& brand : brands) {
            const std::string id = std::to_string(brand.brand_id);
            add(std::string(kLogoFolder) + "/brand_" + id + ".png", {Kind::BrandLogo, &brand});
            add(std::string(kLogoFolder) + "/brand_" + id + "_down.png", {Kind::BrandLogoDown, &brand});
            for (const SampleCar& car : brand.cars)
                add(std::string(kLogoFolder) + "/car_" + car.car_en + ".png", {Kind::CarLogo, &brand, &car});
        }
        for (const SampleBrand& brand : brands) {
            for (const SampleCar& car : brand.cars) {
                const std::string folder = car.car_en + "/";
                add(folder + kDescriptionFile, {Kind::Description, &brand, &car});
                for (const SamplePart& part : car.parts) {
                    for (const SampleOption& option : part.options) {
                        add(folder + option.thumbnail(),
                            {Kind::OptionThumbnail, &brand, &car, &part, &option});
                        for (bool attach : {false, true}) {
                            std::string sheet = attach ? option.attachFile() : option.metalFile();
                            if (sheet.empty()) continue;
                            sheets[sheetKey(car, option, attach)] = std::make_unique<SheetBytes>();
                            std::string table = sheet.substr(0, sheet.size() - 4) + ".json";
                            add(folder + sheet, {Kind::Sheet, &brand, &car, &part, &option, nullptr, attach});
                            add(folder + table, {Kind::Table, &brand, &car, &part, &option, nullptr, attach});
                        }
                    }
                }
                for (const SamplePreset& preset : car.presets)
                    add(folder + preset.thumbnail(),
                        {Kind::PresetThumbnail, &brand, &car, nullptr, nullptr, &preset});
            }
        }
    }

    void add(const std::string& path, Entry entry) {
        order.push_back(path);
        files[path] = entry;
        if (entry.kind != Kind::Description && entry.kind != Kind::Sheet && entry.kind != Kind::Table)
            pictures[path] = std::make_unique<PictureBytes>();
    }

    Picture drawPart(CarPainter& painter, const SampleCar& car, const SampleOption& option, int angle,
                     bool attach) const {
        PartLook look = option.look;
        look.attach = attach;
        return painter.draw(car.shape, look, angle);
    }

    const SheetBytes& sheet(const SampleCar& car, const SampleOption& option, bool attach) const {
        SheetBytes& bytes = *sheets.at(sheetKey(car, option, attach));
        std::call_once(bytes.once, [&] {
            CarPainter painter(options.showcaseWidth, options.showcaseHeight);
            std::vector<SheetInput> inputs;
            for (int angle = 1; angle <= kAngleCount; ++angle)
                inputs.push_back({angleFrameName(angle), drawPart(painter, car, option, angle, attach),
                                  frameRotated(angle)});
            PackingOptions packing;
            packing.shelfWidth = options.shelfWidth;
            if (option.wideSheet && !attach) packing.shelfWidth = packing.exactWidth = options.wideSheetWidth;
            SpriteSheet packed = packSpriteSheet(inputs, packing);
            bytes.png = encodePNG(packed.sheet).value_or(NSData());
            bytes.table = jsonBytes(packed.frameTable(attach ? option.attachFile() : option.metalFile()));
        });
        return bytes;
    }

    // The whole car at an angle with the given choices (selector to option identifier; parts not
    // named show their default), parts stacked by layer.
    Picture carPicture(const SampleCar& car, const std::vector<std::pair<std::string, std::string>>& choices,
                       int angle) const {
        CarPainter painter(options.showcaseWidth, options.showcaseHeight);
        Picture canvas(options.showcaseWidth, options.showcaseHeight);
        std::vector<const SamplePart*> layers;
        for (const SamplePart& part : car.parts) layers.push_back(&part);
        std::sort(layers.begin(), layers.end(), [](auto* a, auto* b) { return a->z < b->z; });
        for (const SamplePart* part : layers) {
            const SampleOption* chosen = car.defaultOption(*part);
            for (auto& [selector, identifier] : choices) {
                if (selector != part->selector || identifier.empty()) continue;
                for (const SampleOption& o : part->options)
                    if (o.identifier == identifier) chosen = &o;
            }
            if (!chosen || !chosen->hasMetal) continue;
            composite(canvas, drawPart(painter, car, *chosen, angle, false));
            if (chosen->hasAttach()) composite(canvas, drawPart(painter, car, *chosen, angle, true));
        }
        return canvas;
    }

    const NSData& picture(const std::string& path, const Entry& e) const {
        PictureBytes& bytes = *pictures.at(path);
        std::call_once(bytes.once, [&] {
            Picture p;
            switch (e.kind) {
                case Kind::OptionThumbnail:
                    if (!e.option->hasMetal) {
                        p = noneThumbnail();
                    } else {
                        CarPainter painter(options.showcaseWidth, options.showcaseHeight);
                        int angle = e.part->canModify ? e.part->modifyAngle : 1;
                        Picture drawn = drawPart(painter, *e.car, *e.option, angle, false);
                        if (e.option->hasAttach())
                            composite(drawn, drawPart(painter, *e.car, *e.option, angle, true));
                        p = fitPicture(drawn, kOptionThumbWidth, kOptionThumbHeight, kThumbBackground);
                    }
                    break;
                case Kind::PresetThumbnail:
                    p = fitPicture(carPicture(*e.car, e.preset->partsAndOptions, 1), kPresetThumbWidth,
                                   kPresetThumbHeight, kThumbBackground);
                    break;
                case Kind::CarLogo:
                    p = fitPicture(carPicture(*e.car, {}, 1), kCarLogoWidth, kCarLogoHeight, {255, 255, 255});
                    break;
                case Kind::BrandLogo:
                case Kind::BrandLogoDown:
                    p = brandBadge(*e.brand, e.kind == Kind::BrandLogoDown);
                    break;
                default:
                    break;
            }
            bytes.png = encodePNG(p).value_or(NSData());
        });
        return bytes.png;
    }
};

namespace {

std::shared_ptr<SampleCatalogue::Store> sharedStore(const Options& options) {
    static std::mutex mutex;
    static std::map<std::tuple<int, int, int, int>, std::shared_ptr<SampleCatalogue::Store>> stores;
    auto key = std::make_tuple(options.showcaseWidth, options.showcaseHeight, options.shelfWidth,
                               options.wideSheetWidth);
    std::lock_guard lock(mutex);
    auto& store = stores[key];
    if (!store) store = std::make_shared<SampleCatalogue::Store>(options);
    return store;
}

Options sanitised(Options o) {
    // Each drawing needs room for its angle mark; a sheet for its widest frame.
    o.showcaseWidth = std::clamp(o.showcaseWidth, 16, 4096);
    o.showcaseHeight = std::clamp(o.showcaseHeight, 16, 4096);
    o.shelfWidth = std::clamp(o.shelfWidth, 1, 16384);
    o.wideSheetWidth = std::clamp(o.wideSheetWidth, 1, 16384);
    o.threads = std::clamp(o.threads, 1, 64);
    return o;
}

}  // namespace

std::shared_ptr<SampleCatalogue> SampleCatalogue::generate(const Options& requested) {
    Options options = sanitised(requested);
    auto store = options.sharePictures ? sharedStore(options) : std::make_shared<Store>(options);
    return std::make_shared<SampleCatalogue>(store, options);
}

SampleCatalogue::SampleCatalogue(std::shared_ptr<Store> store, const Options& options)
    : store_(std::move(store)), options_(options) {
    for (auto& [word, car] : store_->cars) revisions_[word] = 1;
}

const Options& SampleCatalogue::options() const {
    return options_;
}
const std::vector<SampleBrand>& SampleCatalogue::brands() const {
    return store_->brands;
}

const SampleCar* SampleCatalogue::car(const std::string& car_en) const {
    auto it = store_->cars.find(car_en);
    return it == store_->cars.end() ? nullptr : it->second;
}

bool SampleCatalogue::frameRotated(int angle) {
    return angle % 3 == 0;
}

Dictionary SampleCatalogue::carList(const std::string& modelPrefix, const std::string& logoPrefix) const {
    const std::string models = withSlash(modelPrefix);
    const std::string logos = withSlash(logoPrefix.empty() ? modelPrefix : logoPrefix) + kLogoFolder + "/";
    Array data = Array::mutableArray();
    for (const SampleBrand& brand : store_->brands) {
        const std::string id = std::to_string(brand.brand_id);
        Array wide = Array::mutableArray();
        Array cars = Array::mutableArray();
        for (const SampleCar& car : brand.cars) {
            if (car.kuanti) wide.addObject(car.car_en);
            Dictionary c;
            c.setObject("cars_id", car.cars_id);
            c.setObject("cars_name", car.cars_name);
            c.setObject("cars_logo", logos + "car_" + car.car_en + ".png");
            c.setObject("cars_json", models + car.car_en + "/" + kDescriptionFile);
            c.setObject("cars_brand", id);
            c.setObject("car_en", car.car_en);
            c.setObject("kuanti", car.kuanti ? "true" : "false");
            cars.addObject(c);
        }
        Dictionary b;
        b.setObject("brand_name", brand.brand_name);
        b.setObject("brand_logo", logos + "brand_" + id + ".png");
        b.setObject("brand_id", brand.brand_id);
        b.setObject("brand", brand.brand);
        b.setObject("logo_down", logos + "brand_" + id + "_down.png");
        b.setObject("kuanti", wide);
        b.setObject("cars", cars);
        data.addObject(b);
    }
    Dictionary reply;
    reply.setObject("resultCode", 0);
    reply.setObject("errmsg", "success");
    reply.setObject("data", data);
    return reply;
}

std::string SampleCatalogue::carListJSON(const std::string& modelPrefix,
                                         const std::string& logoPrefix) const {
    return jsonBytes(carList(modelPrefix, logoPrefix)).toString();
}

std::optional<Dictionary> SampleCatalogue::description(const std::string& car_en) const {
    const SampleCar* sample = car(car_en);
    if (!sample) return std::nullopt;
    return describeCar(*sample, store_->options.showcaseWidth, store_->options.showcaseHeight,
                       revision(car_en));
}

std::string SampleCatalogue::normalisePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && (out.empty() || out.back() == '/')) continue;
        out += c;
    }
    return out;
}

std::optional<File> SampleCatalogue::file(std::string_view relativePath) const {
    const std::string path = normalisePath(relativePath);
    auto it = store_->files.find(path);
    if (it == store_->files.end()) return std::nullopt;
    const Store::Entry& e = it->second;
    switch (e.kind) {
        case Store::Kind::Description: {
            auto d = description(e.car->car_en);
            return File{jsonBytes(*d), kJSONContentType};
        }
        case Store::Kind::Sheet:
            return File{store_->sheet(*e.car, *e.option, e.attach).png, kPNGContentType};
        case Store::Kind::Table:
            return File{store_->sheet(*e.car, *e.option, e.attach).table, kJSONContentType};
        default:
            return File{store_->picture(path, e), kPNGContentType};
    }
}

std::vector<std::string> SampleCatalogue::filePaths() const {
    return store_->order;
}

bool SampleCatalogue::bumpRevision(const std::string& car_en) {
    std::lock_guard lock(mutex_);
    auto it = revisions_.find(car_en);
    if (it == revisions_.end()) return false;
    ++it->second;
    return true;
}

std::string SampleCatalogue::revision(const std::string& car_en) const {
    std::lock_guard lock(mutex_);
    auto it = revisions_.find(car_en);
    return it == revisions_.end() ? std::string() : revisionText(it->second);
}

std::optional<Picture> SampleCatalogue::sourceDrawing(const std::string& car_en,
                                                      const std::string& optionIdentifier, int angle,
                                                      bool attach) const {
    const SampleCar* sample = car(car_en);
    if (!sample || angle < 1 || angle > kAngleCount) return std::nullopt;
    auto [part, option] = sample->option(optionIdentifier);
    if (!option || (attach ? !option->hasAttach() : !option->hasMetal)) return std::nullopt;
    CarPainter painter(store_->options.showcaseWidth, store_->options.showcaseHeight);
    return store_->drawPart(painter, *sample, *option, angle, attach);
}

std::optional<Picture>
SampleCatalogue::carDrawing(const std::string& car_en, int angle,
                            const std::vector<std::pair<std::string, std::string>>& choices) const {
    const SampleCar* sample = car(car_en);
    if (!sample || angle < 1 || angle > kAngleCount) return std::nullopt;
    return store_->carPicture(*sample, choices, angle);
}

void SampleCatalogue::prepareAll() const {
    std::vector<std::function<void()>> jobs;
    for (const std::string& path : store_->order) {
        const Store::Entry& e = store_->files.at(path);
        if (e.kind == Store::Kind::Sheet)
            jobs.push_back([this, e] { store_->sheet(*e.car, *e.option, e.attach); });
        else if (e.kind != Store::Kind::Description && e.kind != Store::Kind::Table)
            jobs.push_back([this, path, e] { store_->picture(path, e); });
    }
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < jobs.size();) jobs[i]();
    };
    std::vector<std::thread> threads;
    const int count = std::min<int>(options_.threads, static_cast<int>(jobs.size()));
    for (int t = 1; t < count; ++t) threads.emplace_back(worker);
    worker();
    for (auto& t : threads) t.join();
}

}  // namespace devserver::catalogue
