#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <filesystem>
#include <fstream>

#include "media/AVAssetReader.h"
#include "media/AVAssetWriter.h"
#include "tests/support/MovieClips.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MovieFileTest : public ::testing::Test {
  protected:
    TemporaryDirectory dir;
};

TEST_F(MovieFileTest, WrittenClipReadsBackWithItsFramesTimesAndAudio) {
    ClipSpec spec;
    spec.frames = 12;
    std::string error;
    ASSERT_TRUE(writeClip(dir.file("clip.mp4"), spec, &error)) << error;

    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(dir.file("clip.mp4")));
    ASSERT_EQ(asset->tracksWithMediaType(AVMediaTypeVideo).size(), 1u);
    ASSERT_EQ(asset->tracksWithMediaType(AVMediaTypeAudio).size(), 1u);
    auto video = asset->tracksWithMediaType(AVMediaTypeVideo)[0];
    EXPECT_EQ(video->naturalSize(), CGSizeMake(64, 48));
    EXPECT_NEAR(video->nominalFrameRate(), 30, 0.5);
    EXPECT_EQ(asset->tracksWithMediaType(AVMediaTypeAudio)[0]->sampleRate(), 44100);

    auto movie = readMovie(dir.file("clip.mp4"));
    ASSERT_TRUE(movie.ok) << movie.error;
    ASSERT_EQ(movie.frames.size(), 12u);
    EXPECT_NEAR(CMTimeGetSeconds(movie.duration), 12 / 30.0, 0.05);
    for (int f = 0; f < 12; ++f) {
        SCOPED_TRACE(f);
        EXPECT_NEAR(CMTimeGetSeconds(movie.frames[f].time), f / 30.0, 1e-4);
        // Quadrant centres, within the tolerance of H.264 on flat areas (and the colour conversion).
        for (auto [x, y] : {std::pair{16, 12}, {48, 12}, {16, 36}, {48, 36}}) {
            std::uint8_t expected[4];
            clipPixel(f, x, y, 64, 48, expected);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(movie.frames[f].at(x, y)[c], expected[c], 6) << x << "," << y;
        }
    }
    // 12 frames at 30 per second = 17,640 samples; AAC pads to whole 1024-sample packets.
    EXPECT_NEAR(movie.audioFrames, 17640, 1024);
    EXPECT_EQ(movie.sampleRate, 44100);
    EXPECT_EQ(movie.channels, 1u);
}

TEST_F(MovieFileTest, QuickTimeFileTypeAndStereoAudio) {
    auto writer = AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(dir.file("a.mov")),
                                                    AVFileTypeQuickTimeMovie, nullptr);
    auto audio = AVAssetWriterInput::assetWriterInputWithMediaType(
        AVMediaTypeAudio, Dictionary{{AVFormatIDKey, kAudioFormatMPEG4AAC},
                                     {AVNumberOfChannelsKey, 2},
                                     {AVSampleRateKey, 48000.0}});
    ASSERT_TRUE(writer->canAddInput(audio));
    writer->addInput(audio);
    ASSERT_TRUE(writer->startWriting());
    writer->startSessionAtSourceTime(CMTimeMake(5, 1));
    // 44.1 kHz mono in, converted to the track's 48 kHz stereo.
    for (long first = 0; first < 44100; first += 1024) {
        auto buffer = clipAudio(first, 1024, 44100, 1);
        auto shifted = make<CMSampleBuffer>(buffer->audioSampleVector(), 1u, 44100.0,
                                            CMTimeAdd(CMTimeMake(5, 1), CMTimeMake(first, 44100)));
        ASSERT_TRUE(audio->appendSampleBuffer(shifted));
    }
    ASSERT_TRUE(writer->finishWriting());
    auto movie = readMovie(dir.file("a.mov"));
    ASSERT_TRUE(movie.ok) << movie.error;
    EXPECT_TRUE(movie.frames.empty());
    EXPECT_EQ(movie.channels, 2u);
    EXPECT_EQ(movie.sampleRate, 48000);
    EXPECT_NEAR(movie.audioFrames, 46080L * 48000 / 44100, 2048);
}

TEST_F(MovieFileTest, EmptyTruncatedAndNonMovieFilesFailWithAnError) {
    ClipSpec spec;
    ASSERT_TRUE(writeClip(dir.file("good.mp4"), spec));
    const std::string good = readBytes(dir.file("good.mp4"));
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "this is not a movie at all"},
        {"png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
        {"first 100 bytes", good.substr(0, 100)},
        {"header only", good.substr(0, 40)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".mp4");
        writeBytes(path, c.bytes);
        auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
        EXPECT_TRUE(asset->tracks().empty());
        Ref<NSError> error;
        EXPECT_EQ(asset->statusOfValueForKey("tracks", &error), AVKeyValueStatusFailed);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code(), AVErrorFileFormatNotRecognized);
        auto movie = readMovie(path);
        EXPECT_FALSE(movie.ok);
        EXPECT_FALSE(movie.error.empty());
    }
    // Missing file.
    auto movie = readMovie(dir.file("absent.mp4"));
    EXPECT_FALSE(movie.ok);
}

TEST_F(MovieFileTest, TruncatedMidwayReadsWhatIsThereOrFailsButNeverCrashes) {
    ClipSpec spec;
    spec.frames = 20;
    ASSERT_TRUE(writeClip(dir.file("good.mp4"), spec));
    const std::string good = readBytes(dir.file("good.mp4"));
    for (std::size_t cut : {good.size() / 4, good.size() / 2, good.size() - 16}) {
        const std::string path = dir.file("cut" + std::to_string(cut) + ".mp4");
        writeBytes(path, good.substr(0, cut));
        auto movie = readMovie(path);
        EXPECT_LE(movie.frames.size(), 20u);
        if (!movie.ok) {
            EXPECT_FALSE(movie.error.empty());
        }
    }
}

// A fuzzed file whose damaged audio still decodes: every sample handed out is consistent and the
// read ends cleanly. Its audio conversion once released a channel map read from an uninitialised
// local, which freed whatever the stack held when it happened to look like an owned map.
TEST_F(MovieFileTest, DamagedAudioReadsCleanlyInBothPixelFormats) {
    const std::string path = std::string(FUZZ_MOVIE_CORPUS) + "/damaged-audio-probe.mp4";
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
    Ref<NSError> error;
    const auto tracks = asset->tracks();
    ASSERT_EQ(asset->statusOfValueForKey("tracks", &error), AVKeyValueStatusLoaded);
    ASSERT_EQ(asset->tracksWithMediaType(AVMediaTypeAudio).size(), 1u);
    for (OSType format : {kCVPixelFormatType_32BGRA, kCVPixelFormatType_420YpCbCr8BiPlanarFullRange}) {
        SCOPED_TRACE(format);
        auto reader = AVAssetReader::assetReaderWithAsset(asset, nullptr);
        for (auto& track : tracks)
            reader->addOutput(make<AVAssetReaderTrackOutput>(
                track, Dictionary{{kCVPixelBufferPixelFormatTypeKey, format}}));
        ASSERT_TRUE(reader->startReading());
        long audioSamples = 0;
        // Audio first: the file's video does not decode, and that failure ends the whole reader.
        auto outputs = reader->outputs();
        std::stable_partition(outputs.begin(), outputs.end(), [](const Ref<AVAssetReaderOutput>& o) {
            return o->mediaType() == AVMediaTypeAudio;
        });
        for (auto& output : outputs) {
            for (int n = 0; n < 500; ++n) {
                auto sample = output->copyNextSampleBuffer();
                if (!sample) break;
                if (sample->isAudio()) {
                    ASSERT_GT(sample->audioChannels(), 0u);
                    EXPECT_EQ(sample->audioSampleVector().size(),
                              static_cast<std::size_t>(sample->numSamples()) * sample->audioChannels());
                    audioSamples += sample->numSamples();
                }
            }
        }
        EXPECT_GT(audioSamples, 0);
        if (reader->status() == AVAssetReaderStatusFailed) {
            ASSERT_NE(reader->error(), nullptr);
            EXPECT_FALSE(reader->error()->localizedDescription().empty());
        } else {
            EXPECT_EQ(reader->status(), AVAssetReaderStatusCompleted);
        }
    }
}

TEST_F(MovieFileTest, TracksLoadAsynchronously) {
    ASSERT_TRUE(writeClip(dir.file("clip.mp4"), ClipSpec()));
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(dir.file("clip.mp4")),
                                             Dictionary{{AVURLAssetPreferPreciseDurationAndTimingKey, true}});
    EXPECT_EQ(asset->statusOfValueForKey("tracks", nullptr), AVKeyValueStatusUnknown);
    auto done = dispatch_semaphore_create(0);
    asset->loadValuesAsynchronouslyForKeys({"tracks"}, [done] { dispatch_semaphore_signal(done); });
    ASSERT_EQ(dispatch_semaphore_wait(done, dispatch_time(DISPATCH_TIME_NOW, 10 * NSEC_PER_SEC)), 0);
    EXPECT_EQ(asset->statusOfValueForKey("tracks", nullptr), AVKeyValueStatusLoaded);
    EXPECT_EQ(asset->tracks().size(), 2u);
}

TEST_F(MovieFileTest, WriterRefusesExistingFilesBadSettingsAndOutOfOrderFrames) {
    writeBytes(dir.file("exists.mp4"), "keep me");
    Ref<NSError> error;
    auto refused = AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(dir.file("exists.mp4")),
                                                     AVFileTypeMPEG4, &error);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), AVErrorFileAlreadyExists);
    EXPECT_FALSE(refused->startWriting());
    EXPECT_EQ(readBytes(dir.file("exists.mp4")), "keep me");

    AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(dir.file("x.avi")), "public.avi", &error);
    EXPECT_NE(error, nullptr);

    auto writer =
        AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(dir.file("w.mp4")), AVFileTypeMPEG4, &error);
    ASSERT_EQ(error, nullptr);
    const Dictionary badSettings[] = {
        Dictionary{{AVVideoWidthKey, 64}, {AVVideoHeightKey, 48}},
        Dictionary{{AVVideoCodecKey, AVVideoCodecH264}, {AVVideoWidthKey, 63}, {AVVideoHeightKey, -48}},
        Dictionary{{AVVideoCodecKey, AVVideoCodecH264}, {AVVideoHeightKey, 48}},
    };
    for (const auto& settings : badSettings)
        EXPECT_FALSE(writer->canAddInput(
            AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeVideo, settings)));
    EXPECT_FALSE(writer->canAddInput(AVAssetWriterInput::assetWriterInputWithMediaType(
        AVMediaTypeAudio, Dictionary{{AVFormatIDKey, 1234u}})));

    auto video = AVAssetWriterInput::assetWriterInputWithMediaType(
        AVMediaTypeVideo,
        Dictionary{{AVVideoCodecKey, AVVideoCodecH264}, {AVVideoWidthKey, 32}, {AVVideoHeightKey, 32}});
    auto adaptor =
        AVAssetWriterInputPixelBufferAdaptor::assetWriterInputPixelBufferAdaptorWithAssetWriterInput(
            video, Dictionary{{kCVPixelBufferWidthKey, 32}, {kCVPixelBufferHeightKey, 32}});
    writer->addInput(video);
    EXPECT_EQ(adaptor->pixelBufferPool(), nullptr);  // not before writing
    EXPECT_FALSE(video->isReadyForMoreMediaData());
    ASSERT_TRUE(writer->startWriting());
    EXPECT_TRUE(video->isReadyForMoreMediaData());
    CVPixelBufferRef frame;
    ASSERT_EQ(CVPixelBufferPoolCreatePixelBuffer(adaptor->pixelBufferPool(), &frame), kCVReturnSuccess);
    EXPECT_FALSE(adaptor->appendPixelBuffer(frame, CMTimeMake(0, 30)));  // no session yet
    writer->startSessionAtSourceTime(CMTimeMake(0, 30));
    EXPECT_TRUE(adaptor->appendPixelBuffer(frame, CMTimeMake(1, 30)));
    EXPECT_FALSE(adaptor->appendPixelBuffer(frame, CMTimeMake(1, 30)));  // same time
    EXPECT_FALSE(adaptor->appendPixelBuffer(frame, CMTimeMake(0, 30)));  // earlier
    EXPECT_TRUE(adaptor->appendPixelBuffer(frame, CMTimeMake(2, 30)));
    EXPECT_EQ(writer->status(), AVAssetWriterStatusWriting);
    ASSERT_TRUE(writer->finishWriting());
    EXPECT_EQ(writer->status(), AVAssetWriterStatusCompleted);
    EXPECT_FALSE(video->isReadyForMoreMediaData());
    EXPECT_EQ(readMovie(dir.file("w.mp4")).frames.size(), 2u);
}

TEST_F(MovieFileTest, CancelledOrAbandonedWritersLeaveNoFile) {
    for (int abandon = 0; abandon < 2; ++abandon) {
        const std::string path = dir.file("c" + std::to_string(abandon) + ".mp4");
        {
            auto writer =
                AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(path), AVFileTypeMPEG4, nullptr);
            auto video = AVAssetWriterInput::assetWriterInputWithMediaType(
                AVMediaTypeVideo, Dictionary{{AVVideoCodecKey, AVVideoCodecH264},
                                             {AVVideoWidthKey, 32},
                                             {AVVideoHeightKey, 32}});
            auto adaptor =
                AVAssetWriterInputPixelBufferAdaptor::assetWriterInputPixelBufferAdaptorWithAssetWriterInput(
                    video, Dictionary());
            writer->addInput(video);
            ASSERT_TRUE(writer->startWriting());
            writer->startSessionAtSourceTime(kCMTimeZero);
            for (int f = 0; f < 5; ++f)
                ASSERT_TRUE(adaptor->appendPixelBuffer(clipFrame(f, 32, 32), CMTimeMake(f, 30)));
            EXPECT_TRUE(std::filesystem::exists(path));
            if (!abandon) {
                writer->cancelWriting();
                EXPECT_EQ(writer->status(), AVAssetWriterStatusCancelled);
                EXPECT_FALSE(writer->finishWriting());
                EXPECT_EQ(writer->status(), AVAssetWriterStatusCancelled);
            }
        }
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    // Finishing a session that never started fails and removes the file.
    auto writer = AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(dir.file("n.mp4")),
                                                    AVFileTypeMPEG4, nullptr);
    writer->addInput(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, Value()));
    ASSERT_TRUE(writer->startWriting());
    EXPECT_FALSE(writer->finishWriting());
    EXPECT_EQ(writer->status(), AVAssetWriterStatusFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("n.mp4")));
}

TEST_F(MovieFileTest, ReaderOutputsPulledFromTwoThreadsAndCancelled) {
    ClipSpec spec;
    spec.frames = 30;
    ASSERT_TRUE(writeClip(dir.file("clip.mp4"), spec));
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(dir.file("clip.mp4")));
    auto reader = AVAssetReader::assetReaderWithAsset(asset, nullptr);
    auto video = AVAssetReaderTrackOutput::assetReaderTrackOutputWithTrack(
        asset->tracksWithMediaType(AVMediaTypeVideo)[0],
        Dictionary{{kCVPixelBufferPixelFormatTypeKey, kCVPixelFormatType_420YpCbCr8BiPlanarFullRange}});
    auto audio = AVAssetReaderTrackOutput::assetReaderTrackOutputWithTrack(
        asset->tracksWithMediaType(AVMediaTypeAudio)[0], Dictionary());
    reader->addOutput(video);
    reader->addOutput(audio);
    EXPECT_FALSE(reader->canAddOutput(video));
    ASSERT_TRUE(reader->startReading());
    EXPECT_FALSE(reader->canAddOutput(make<AVAssetReaderTrackOutput>(asset->tracks()[0], Dictionary())));
    int frames = 0;
    std::thread other([&] {
        while (auto s = video->copyNextSampleBuffer()) {
            EXPECT_EQ(s->imageBuffer()->planeCount(), 2u);
            ++frames;
        }
    });
    long samples = 0;
    while (auto s = audio->copyNextSampleBuffer()) samples += s->numSamples();
    other.join();
    EXPECT_EQ(frames, 30);
    EXPECT_GT(samples, 40000);
    EXPECT_EQ(reader->status(), AVAssetReaderStatusCompleted);

    auto second = AVAssetReader::assetReaderWithAsset(asset, nullptr);
    auto out = make<AVAssetReaderTrackOutput>(asset->tracksWithMediaType(AVMediaTypeVideo)[0], Dictionary());
    second->addOutput(out);
    ASSERT_TRUE(second->startReading());
    EXPECT_NE(out->copyNextSampleBuffer(), nullptr);
    second->cancelReading();
    EXPECT_EQ(second->status(), AVAssetReaderStatusCancelled);
    EXPECT_EQ(out->copyNextSampleBuffer(), nullptr);
}

}  // namespace
