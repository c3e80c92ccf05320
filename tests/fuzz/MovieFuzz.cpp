// The movie readers: a file's tracks as an asset learns them, and every sample of every track
// through an asset reader, in both pixel formats. Whatever a reader hands out must be a
// consistent sample: a frame within the size limits whose pixel buffer holds what it claims, or
// audio whose sample count matches its channels.

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "media/AVAssetReader.h"

namespace {

std::string scratchPath() {
    const char* dir = std::getenv("APP_TEST_TMP");
    std::string base = dir && *dir ? dir : "/tmp";
    return base + "/fuzz-movie-" + std::to_string(getpid()) + ".mp4";
}

void readAll(const Ref<AVAsset>& asset, OSType format) {
    auto reader = AVAssetReader::assetReaderWithAsset(asset, nullptr);
    for (auto& track : asset->tracks()) {
        auto output =
            make<AVAssetReaderTrackOutput>(track, Dictionary{{kCVPixelBufferPixelFormatTypeKey, format}});
        reader->addOutput(output);
    }
    if (!reader->startReading()) {
        FUZZ_CHECK(reader->status() == AVAssetReaderStatusFailed);
        return;
    }
    for (auto& output : reader->outputs()) {
        for (int n = 0; n < 500; ++n) {
            auto sample = output->copyNextSampleBuffer();
            if (!sample) break;
            if (auto image = sample->imageBuffer()) {
                FUZZ_CHECK(output->mediaType() == AVMediaTypeVideo);
                FUZZ_CHECK(image->width() > 0 && image->width() <= detail::kMaximumFrameSide + 1);
                FUZZ_CHECK(image->height() > 0 && image->height() <= detail::kMaximumFrameSide + 1);
                FUZZ_CHECK(image->dataSize() >= image->bytesPerRow() * image->height());
            } else {
                FUZZ_CHECK(sample->isAudio());
                FUZZ_CHECK(sample->audioChannels() > 0);
                FUZZ_CHECK(sample->audioSampleVector().size() ==
                           static_cast<std::size_t>(sample->numSamples()) * sample->audioChannels());
            }
        }
    }
    FUZZ_CHECK(reader->status() != AVAssetReaderStatusFailed || reader->error());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = scratchPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
    Ref<NSError> error;
    const auto tracks = asset->tracks();
    const auto status = asset->statusOfValueForKey("tracks", &error);
    FUZZ_CHECK(status == AVKeyValueStatusLoaded ||
               (status == AVKeyValueStatusFailed && error && tracks.empty()));
    readAll(asset, kCVPixelFormatType_32BGRA);
    readAll(asset, kCVPixelFormatType_420YpCbCr8BiPlanarFullRange);
    std::remove(path.c_str());
    return 0;
}
