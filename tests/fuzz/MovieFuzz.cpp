// The movie readers: a file's tracks as an asset learns them, and every sample of every track
// through an asset reader, in both pixel formats, and the video of a player item over the file.
// Whatever a reader hands out must be a consistent sample: a frame within the size limits whose
// pixel buffer holds what it claims, or audio whose sample count matches its channels. A read
// that runs out of samples has ended: completed without an error, or failed with one; never
// still reading, which would leave a caller waiting for the end for ever.

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "media/AVAssetReader.h"
#include "media/AVPlayerItem.h"

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
    bool everyOutputEnded = true;
    for (auto& output : reader->outputs()) {
        bool ended = false;
        for (int n = 0; n < 500 && !ended; ++n) {
            auto sample = output->copyNextSampleBuffer();
            ended = !sample;
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
        everyOutputEnded = everyOutputEnded && ended;
    }
    const auto status = reader->status();
    FUZZ_CHECK(status != AVAssetReaderStatusFailed || reader->error());
    if (everyOutputEnded) {
        FUZZ_CHECK(status == AVAssetReaderStatusCompleted || status == AVAssetReaderStatusFailed);
        FUZZ_CHECK((status == AVAssetReaderStatusCompleted) == (reader->error() == nullptr));
    }
}

// The player item's output, asked for frames every 10 ms of item time: no frame is handed out
// before its time, and an item that fails says why.
void playItem(const Ref<AVAsset>& asset) {
    auto item = AVPlayerItem::playerItemWithAsset(asset);
    auto output = make<AVPlayerItemVideoOutput>(Dictionary());
    item->addOutput(output);
    for (int step = 0; step < 300 && item->status() != AVPlayerItemStatusFailed; ++step) {
        const CMTime time = CMTimeMake(step, 100);
        CMTime shown = kCMTimeInvalid;
        if (!output->hasNewPixelBufferForItemTime(time)) continue;
        auto frame = output->copyPixelBufferForItemTime(time, &shown);
        FUZZ_CHECK(frame != nullptr);
        FUZZ_CHECK(frame->width() > 0 && frame->height() > 0);
        if (CMTIME_IS_NUMERIC(shown)) FUZZ_CHECK(CMTimeCompare(shown, time) <= 0);
    }
    FUZZ_CHECK((item->status() == AVPlayerItemStatusFailed) == (item->error() != nullptr));
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
    playItem(asset);
    std::remove(path.c_str());
    return 0;
}
