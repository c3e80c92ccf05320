// catalogue_dump --time: draws everything once and says how long it took.
// catalogue_dump DIR [MODEL_PREFIX]: writes every file of the sample catalogue under DIR, in the
// folder layout the server serves them in, plus the car list reply as DIR/getcarlist.json and,
// per sheet, a contact print "<sheet>.frames.png" of its frames cut back and laid out upright.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "foundation/NSJSONSerialization.h"
#include "tools/devserver/catalogue/SampleCatalogue.h"
#include "tools/devserver/catalogue/SpriteSheet.h"

using namespace devserver::catalogue;

namespace {

bool write(const std::filesystem::path& path, const NSData& bytes) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    return bytes.writeToFile(path.string(), true);
}

// Every frame of a sheet restored to its canvas, five to a row, for checking by eye.
Picture contactPrint(const Picture& sheet, const Value& table) {
    const Array* frames = table["frames"].array();
    if (!frames || frames->empty()) return {};
    std::vector<Picture> canvases;
    for (const Value& f : *frames) {
        SheetFrame frame;
        frame.filename = f["filename"].stringValue();
        frame.frame = {f["frame"]["x"].intValue(), f["frame"]["y"].intValue(), f["frame"]["w"].intValue(),
                       f["frame"]["h"].intValue()};
        frame.rotated = f["rotated"].boolValue();
        frame.spriteSource = {f["spriteSourceSize"]["x"].intValue(), f["spriteSourceSize"]["y"].intValue(),
                              f["spriteSourceSize"]["w"].intValue(), f["spriteSourceSize"]["h"].intValue()};
        frame.sourceWidth = f["sourceSize"]["w"].intValue();
        frame.sourceHeight = f["sourceSize"]["h"].intValue();
        canvases.push_back(restoreCanvas(sheet, frame));
    }
    const int w = canvases.front().width, h = canvases.front().height, columns = 5;
    const int rows = static_cast<int>((canvases.size() + columns - 1) / columns);
    Picture print(w * columns, h * rows);
    for (std::size_t i = 0; i < canvases.size(); ++i)
        blit(print, canvases[i], static_cast<int>(i % columns) * w, static_cast<int>(i / columns) * h);
    return print;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [MODEL_PREFIX] | --time\n", argv[0]);
        return 2;
    }
    const bool timeOnly = std::string(argv[1]) == "--time";
    const std::filesystem::path root = argv[1];
    const std::string prefix = argc > 2 ? argv[2] : "http://127.0.0.1:8080/static/model/";

    auto started = std::chrono::steady_clock::now();
    auto catalogue = SampleCatalogue::generate();
    catalogue->prepareAll();
    auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("generated in %.3f s\n", elapsed);
    if (timeOnly) return 0;

    int count = 0, failures = 0;
    write(root / "getcarlist.json", NSData::fromString(catalogue->carListJSON(prefix)));
    for (const std::string& path : catalogue->filePaths()) {
        auto file = catalogue->file(path);
        if (!file || !write(root / path, file->bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ++failures;
            continue;
        }
        ++count;
        if (path.size() > 11 && path.ends_with("_metal.json")) {
            std::string sheetPath = path.substr(0, path.size() - 5) + ".png";
            auto sheet = catalogue->file(sheetPath);
            auto picture = sheet ? decodePicture(sheet->bytes) : std::nullopt;
            Value table = NSJSONSerialization::JSONObjectWithData(file->bytes, 0, nullptr);
            if (picture) {
                if (auto png = encodePNG(contactPrint(*picture, table)))
                    write(root / (path.substr(0, path.size() - 5) + ".frames.png"), *png);
            }
        }
    }
    // The whole car at every angle with its default options, and with each preset.
    for (const SampleBrand& brand : catalogue->brands()) {
        for (const SampleCar& car : brand.cars) {
            std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> looks{
                {"default", {}}};
            for (const SamplePreset& preset : car.presets)
                looks.push_back({preset.identifier, preset.partsAndOptions});
            for (auto& [name, choices] : looks) {
                const int w = catalogue->options().showcaseWidth, h = catalogue->options().showcaseHeight;
                Picture print(w * 5, h * 5);
                for (int angle = 1; angle <= kAngleCount; ++angle)
                    blit(print, *catalogue->carDrawing(car.car_en, angle, choices), (angle - 1) % 5 * w,
                         (angle - 1) / 5 * h);
                if (auto png = encodePNG(print))
                    write(root / "previews" / (car.car_en + "_" + name + ".png"), *png);
            }
        }
    }
    std::printf("%d files written under %s\n", count, root.c_str());
    return failures ? 1 : 0;
}
