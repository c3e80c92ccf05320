#pragma once
// Movie clips for tests: generated, written through the media platform's writer (H.264 in an
// MP4 with AAC audio), and read back frame by frame. Header only; programs that include it link
// platform_media.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "media/AVAssetReader.h"
#include "media/AVAssetWriter.h"

namespace testsupport {

struct ClipSpec {
    int width = 64;
    int height = 48;
    int frames = 10;
    int framesPerSecond = 30;
    bool audio = true;
    int sampleRate = 44100;
    int channels = 1;
};

// Frame n: four flat quadrants whose colours change with n (flat areas survive compression
// closely). BGRA bytes.
inline void clipPixel(int frame, int x, int y, int width, int height, std::uint8_t* bgra) {
    const int quadrant = (x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0);
    static const int base[4][3] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {180, 180, 60}};
    const int shift = (frame * 9) % 50;
    bgra[2] = static_cast<std::uint8_t>(base[quadrant][0] - shift);
    bgra[1] = static_cast<std::uint8_t>(base[quadrant][1] + shift);
    bgra[0] = static_cast<std::uint8_t>(base[quadrant][2]);
    bgra[3] = 255;
}

inline CVPixelBufferRef clipFrame(int frame, int width, int height) {
    CVPixelBufferRef buffer;
    CVPixelBufferCreate(static_cast<std::size_t>(width), static_cast<std::size_t>(height),
                        kCVPixelFormatType_32BGRA, &buffer);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            clipPixel(frame, x, y, width, height, buffer->baseAddress() + y * buffer->bytesPerRow() + x * 4);
    }
    return buffer;
}

// 1024 frames of a 440 Hz tone starting at sample `first`.
inline CMSampleBufferRef clipAudio(long first, long frames, int sampleRate, int channels) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames * channels));
    for (long i = 0; i < frames; ++i) {
        const double v = std::sin(2 * M_PI * 440.0 * static_cast<double>(first + i) / sampleRate);
        for (int c = 0; c < channels; ++c)
            samples[static_cast<std::size_t>(i * channels + c)] = static_cast<std::int16_t>(v * 8000);
    }
    return make<CMSampleBuffer>(std::move(samples), static_cast<std::uint32_t>(channels), sampleRate,
                                CMTimeMake(first, sampleRate));
}

// Writes the clip; false with a reason on failure.
inline bool writeClip(const std::string& path, const ClipSpec& spec, std::string* error = nullptr) {
    Ref<NSError> e;
    auto writer = AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(path), AVFileTypeMPEG4, &e);
    auto fail = [&](const std::string& why) {
        if (error) *error = why + (writer->error() ? ": " + writer->error()->localizedDescription() : "");
        return false;
    };
    if (e) return fail("cannot create the writer");
    auto video = AVAssetWriterInput::assetWriterInputWithMediaType(
        AVMediaTypeVideo, Dictionary{{AVVideoCodecKey, AVVideoCodecH264},
                                     {AVVideoWidthKey, spec.width},
                                     {AVVideoHeightKey, spec.height}});
    auto adaptor =
        AVAssetWriterInputPixelBufferAdaptor::assetWriterInputPixelBufferAdaptorWithAssetWriterInput(
            video, Dictionary{{kCVPixelBufferWidthKey, spec.width}, {kCVPixelBufferHeightKey, spec.height}});
    writer->addInput(video);
    Ref<AVAssetWriterInput> audio;
    if (spec.audio) {
        audio = AVAssetWriterInput::assetWriterInputWithMediaType(
            AVMediaTypeAudio, Dictionary{{AVFormatIDKey, kAudioFormatMPEG4AAC},
                                         {AVNumberOfChannelsKey, spec.channels},
                                         {AVSampleRateKey, static_cast<double>(spec.sampleRate)},
                                         {AVEncoderBitRateKey, 64000}});
        writer->addInput(audio);
    }
    if (!writer->startWriting()) return fail("cannot start");
    writer->startSessionAtSourceTime(kCMTimeZero);
    const long totalSamples = static_cast<long>(spec.sampleRate) * spec.frames / spec.framesPerSecond;
    long samplesWritten = 0;
    for (int f = 0; f < spec.frames; ++f) {
        if (!adaptor->appendPixelBuffer(clipFrame(f, spec.width, spec.height),
                                        CMTimeMake(f, spec.framesPerSecond)))
            return fail("cannot append frame " + std::to_string(f));
        const long due = static_cast<long>(spec.sampleRate) * (f + 1) / spec.framesPerSecond;
        while (audio && samplesWritten < std::min(due, totalSamples)) {
            const long count = std::min(1024L, totalSamples - samplesWritten);
            if (!audio->appendSampleBuffer(clipAudio(samplesWritten, count, spec.sampleRate, spec.channels)))
                return fail("cannot append audio");
            samplesWritten += count;
        }
    }
    if (!writer->finishWriting()) return fail("cannot finish");
    return true;
}

struct ReadFrame {
    CMTime time;
    int width = 0, height = 0;
    std::vector<std::uint8_t> bgra;  // rows of width x 4
    const std::uint8_t* at(int x, int y) const {
        return &bgra[static_cast<std::size_t>((y * width + x) * 4)];
    }
};

struct ReadMovie {
    bool ok = false;
    std::string error;
    CMTime duration = kCMTimeInvalid;
    std::vector<ReadFrame> frames;
    long audioFrames = 0;
    double sampleRate = 0;
    std::uint32_t channels = 0;
    std::vector<CMTime> audioTimes;
};

inline ReadMovie readMovie(const std::string& path) {
    ReadMovie result;
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
    Ref<NSError> e;
    auto reader = AVAssetReader::assetReaderWithAsset(asset, &e);
    if (e) {
        result.error = e->localizedDescription();
        return result;
    }
    result.duration = asset->duration();
    Ref<AVAssetReaderOutput> videoOut, audioOut;
    auto videoTracks = asset->tracksWithMediaType(AVMediaTypeVideo);
    if (!videoTracks.empty()) {
        videoOut = AVAssetReaderTrackOutput::assetReaderTrackOutputWithTrack(videoTracks[0], Dictionary());
        reader->addOutput(videoOut);
    }
    auto audioTracks = asset->tracksWithMediaType(AVMediaTypeAudio);
    if (!audioTracks.empty()) {
        audioOut = AVAssetReaderTrackOutput::assetReaderTrackOutputWithTrack(audioTracks[0], Dictionary());
        reader->addOutput(audioOut);
    }
    if (!reader->startReading()) {
        result.error = reader->error() ? reader->error()->localizedDescription() : "cannot start reading";
        return result;
    }
    while (videoOut) {
        auto sample = videoOut->copyNextSampleBuffer();
        if (!sample) break;
        auto image = sample->imageBuffer();
        ReadFrame frame;
        frame.time = sample->presentationTimeStamp();
        frame.width = static_cast<int>(image->width());
        frame.height = static_cast<int>(image->height());
        frame.bgra.resize(image->width() * image->height() * 4);
        for (std::size_t y = 0; y < image->height(); ++y)
            std::memcpy(&frame.bgra[y * image->width() * 4], image->baseAddress() + y * image->bytesPerRow(),
                        image->width() * 4);
        result.frames.push_back(std::move(frame));
    }
    while (audioOut) {
        auto sample = audioOut->copyNextSampleBuffer();
        if (!sample) break;
        result.audioFrames += sample->numSamples();
        result.sampleRate = sample->audioSampleRate();
        result.channels = sample->audioChannels();
        result.audioTimes.push_back(sample->presentationTimeStamp());
    }
    result.ok = reader->status() == AVAssetReaderStatusCompleted;
    if (!result.ok)
        result.error = reader->error() ? reader->error()->localizedDescription() : "not completed";
    return result;
}

}  // namespace testsupport
