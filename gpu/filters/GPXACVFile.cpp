#include "gpu/filters/GPXACVFile.h"

#include "foundation/NSLog.h"

namespace {

// Big-endian 16-bit reads that never pass the end of the data.
class Reader {
  public:
    explicit Reader(const NSData& data) : bytes_(data.bytes()), length_(data.length()) {}
    bool read(std::uint16_t& value) {
        if (length_ - offset_ < 2) return false;
        value = static_cast<std::uint16_t>((bytes_[offset_] << 8) | bytes_[offset_ + 1]);
        offset_ += 2;
        return true;
    }
    std::size_t remaining() const { return length_ - offset_; }

  private:
    const std::uint8_t* bytes_;
    std::size_t length_;
    std::size_t offset_ = 0;
};

}  // namespace

GPXACVFile::GPXACVFile(const NSData& data) {
    if (data.empty()) {
        NSLogLine("failed to init ACVFile with data:" + data.description());
        return;
    }
    Reader reader(data);
    std::uint16_t version = 0, count = 0;
    if (!reader.read(version) || !reader.read(count)) {
        NSLogLine("failed to read ACVFile: the data ends inside its header");
        return;
    }
    version_ = static_cast<std::int16_t>(version);
    totalCurves_ = static_cast<std::int16_t>(count);
    if (count < 4) {
        NSLogLine("failed to read ACVFile: " + std::to_string(count) + " curves, four needed");
        return;
    }
    // The single-precision 1/255, as the points have always been scaled.
    const double scale = static_cast<float>(1.0 / 255.0);
    std::vector<std::vector<CGSize>> curves;
    for (std::uint16_t curve = 0; curve < count; ++curve) {
        std::uint16_t points = 0;
        if (!reader.read(points) || reader.remaining() / 4 < points) {
            NSLogLine("failed to read ACVFile: curve " + std::to_string(curve) +
                      " runs past the end of the data");
            return;
        }
        std::vector<CGSize> list;
        list.reserve(points);
        for (std::uint16_t i = 0; i < points; ++i) {
            std::uint16_t output = 0, input = 0;
            reader.read(output);
            reader.read(input);
            // Stored output first; kept input first.
            list.push_back(CGSizeMake(input * scale, output * scale));
        }
        if (curve < 4) curves.push_back(std::move(list));
    }
    rgbCompositeCurvePoints_ = std::move(curves[0]);
    redCurvePoints_ = std::move(curves[1]);
    greenCurvePoints_ = std::move(curves[2]);
    blueCurvePoints_ = std::move(curves[3]);
}
