#include "tools/devserver/WatermarkRoutes.h"

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

std::string pictureID(long wid) {
    return "watermark-" + std::to_string(wid);
}

}  // namespace

void addWatermarkRoutes(DevServer& server) {
    for (const SampleWatermark& sample : samples())
        server.storePicture(detail::makeSamplePNG(120, 120, sample.colour), pictureID(sample.wid));
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
