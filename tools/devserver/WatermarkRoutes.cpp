#include "tools/devserver/WatermarkRoutes.h"

#include <png.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tools/devserver/DevServerState.h"

namespace devserver {

namespace {

struct SampleWatermark {
    long wid;
    long type;
    unsigned colour;
};

// Three of each kind, each its own colour so that a placed sticker can be told apart.
const std::vector<SampleWatermark>& samples() {
    static const std::vector<SampleWatermark> list = {
        {101, 1, 0xE04848}, {102, 1, 0x48A0E0}, {103, 1, 0xE0C048},
        {201, 2, 0x60C060}, {202, 2, 0xA060E0}, {203, 2, 0xE08040},
    };
    return list;
}

// A watermark as a badge on a transparent ground: a front view is a round emblem (a white ring
// around the colour, a darker hub), a side view a striped plate with rounded ends.
std::string badgePNG(const SampleWatermark& sample) {
    const int size = 120;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(size) * size * 4, 0);
    const double r = (sample.colour >> 16) & 0xFF, g = (sample.colour >> 8) & 0xFF, b = sample.colour & 0xFF;
    auto put = [&](int x, int y, double red, double green, double blue) {
        unsigned char* p = &pixels[(static_cast<std::size_t>(y) * size + x) * 4];
        p[0] = static_cast<unsigned char>(red);
        p[1] = static_cast<unsigned char>(green);
        p[2] = static_cast<unsigned char>(blue);
        p[3] = 0xFF;
    };
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double dx = x + 0.5 - size / 2.0, dy = y + 0.5 - size / 2.0;
            if (sample.type == 1) {
                double d = std::hypot(dx, dy);
                if (d > 58) continue;
                if (d > 50)
                    put(x, y, 255, 255, 255);
                else if (d < 16)
                    put(x, y, r * 0.5, g * 0.5, b * 0.5);
                else if (std::fabs(dx) < 4 || std::fabs(dy) < 4)
                    put(x, y, 255, 255, 255);
                else
                    put(x, y, r, g, b);
            } else {
                // A plate 112 x 56 with rounded ends and three diagonal stripes.
                double ex = std::max(0.0, std::fabs(dx) - 28);
                if (std::hypot(ex, dy) > 28) continue;
                if (std::hypot(ex, dy) > 23)
                    put(x, y, 255, 255, 255);
                else if (static_cast<int>(std::floor((dx + dy + 200) / 12)) % 3 == 0)
                    put(x, y, 255, 255, 255);
                else
                    put(x, y, r, g, b);
            }
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = size;
    image.height = size;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t length = 0;
    if (!png_image_write_to_memory(&image, nullptr, &length, 0, pixels.data(), 0, nullptr)) return "";
    std::string out(length, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &length, 0, pixels.data(), 0, nullptr)) return "";
    out.resize(length);
    return out;
}

std::string pictureID(long wid) {
    return "watermark-" + std::to_string(wid);
}

}  // namespace

void addWatermarkRoutes(DevServer& server) {
    for (const SampleWatermark& sample : samples())
        server.storePicture(badgePNG(sample), pictureID(sample.wid));
    server.addRoutes([&server](RouteRegistry& registry) {
        registry.get(kWatermarkListPath, [&server](const Request& request) {
            auto type = request.queryParam("type");
            if (!type || (*type != "1" && *type != "2"))
                return Reply::failure(kResultBadRequest, "type 必须为 1 或 2");
            Array data = Array::mutableArray();
            for (const SampleWatermark& sample : samples()) {
                if (std::to_string(sample.type) != *type) continue;
                Dictionary row = Dictionary::mutableDictionary();
                row.setObject("pic", server.pictureURL(pictureID(sample.wid)));
                row.setObject("type", sample.type);
                row.setObject("wid", sample.wid);
                data.addObject(Value(row));
            }
            Dictionary fields = Dictionary::mutableDictionary();
            fields.setObject("data", Value(data));
            return Reply::success(fields);
        });
    });
}

}  // namespace devserver
