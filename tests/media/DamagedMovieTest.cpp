// Damaged movies end: a reader fails with an error when the file is not a movie, or when its
// samples stop before its index says they do; an empty movie completes at once. A player item
// over such a file fails the same way.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>

#include "media/AVPlayerItem.h"
#include "tests/media/DamagedMovies.h"
#include "tests/support/MovieClips.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

constexpr auto kTimeLimit = std::chrono::seconds(20);

// What reading every track of a movie to its end gave.
struct ReadOutcome {
    bool started = false;
    AVAssetReaderStatus status = AVAssetReaderStatusUnknown;
    Ref<NSError> error;
    int frames = 0;
    long audioSamples = 0;
};

// Pulls every output until it gives nothing more, each output on its own thread, as a movie
// source and a writer's input queues do.
ReadOutcome readEveryTrack(const std::string& path, OSType format) {
    ReadOutcome outcome;
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
    auto reader = AVAssetReader::assetReaderWithAsset(asset, nullptr);
    for (auto& track : asset->tracks())
        reader->addOutput(
            make<AVAssetReaderTrackOutput>(track, Dictionary{{kCVPixelBufferPixelFormatTypeKey, format}}));
    outcome.started = reader->startReading();
    if (outcome.started) {
        std::atomic<int> frames{0};
        std::atomic<long> samples{0};
        std::vector<std::thread> pullers;
        for (auto& output : reader->outputs()) {
            pullers.emplace_back([output, &frames, &samples] {
                while (auto sample = output->copyNextSampleBuffer()) {
                    if (sample->imageBuffer()) {
                        ++frames;
                    } else {
                        samples += sample->numSamples();
                    }
                }
            });
        }
        for (auto& t : pullers) t.join();
        outcome.frames = frames.load();
        outcome.audioSamples = samples.load();
    }
    outcome.status = reader->status();
    outcome.error = reader->error();
    return outcome;
}

// The same, on a thread of its own, failing the test when the read has not ended within the time
// limit (the thread is then left behind: a hang must fail the test, not stop the program).
std::optional<ReadOutcome> readWithinTimeLimit(const std::string& path, OSType format) {
    auto task = std::make_shared<std::packaged_task<ReadOutcome()>>(
        [path, format] { return readEveryTrack(path, format); });
    auto outcome = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (outcome.wait_for(kTimeLimit) == std::future_status::ready) return outcome.get();
    ADD_FAILURE() << "the read did not end within " << kTimeLimit.count() << " s";
    return std::nullopt;
}

using DamagedMovieTest = DamagedMovieFixture;

TEST_F(DamagedMovieTest, EveryReadEndsFailedWithAnErrorOrCompletedWhenThereIsNothingToRead) {
    struct Case {
        Damage damage;
        bool tracksLoad;
        AVAssetReaderStatus status;
    } cases[] = {
        {Damage::RandomBytes, false, AVAssetReaderStatusFailed},
        {Damage::CutIndexAtEnd, false, AVAssetReaderStatusFailed},
        {Damage::CutIndexFirst, true, AVAssetReaderStatusFailed},
        {Damage::TracksNoSamples, true, AVAssetReaderStatusCompleted},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(damageName(c.damage));
        const std::string path = damaged(c.damage, "movie" + std::to_string(n++) + ".mp4");
        auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
        Ref<NSError> tracksError;
        const auto tracks = asset->tracks();
        EXPECT_EQ(asset->statusOfValueForKey("tracks", &tracksError),
                  c.tracksLoad ? AVKeyValueStatusLoaded : AVKeyValueStatusFailed);
        EXPECT_EQ(tracks.size(), c.tracksLoad ? 2u : 0u);
        for (OSType format : {kCVPixelFormatType_32BGRA, kCVPixelFormatType_420YpCbCr8BiPlanarFullRange}) {
            SCOPED_TRACE(format);
            auto read = readWithinTimeLimit(path, format);
            if (!read) return;
            const ReadOutcome& outcome = *read;
            EXPECT_EQ(outcome.started, c.tracksLoad);
            EXPECT_EQ(outcome.status, c.status);
            if (c.status == AVAssetReaderStatusFailed) {
                ASSERT_NE(outcome.error, nullptr);
                EXPECT_FALSE(outcome.error->localizedDescription().empty());
                EXPECT_LT(outcome.frames, kDamagedClipFrames);
            } else {
                EXPECT_EQ(outcome.error, nullptr);
                EXPECT_EQ(outcome.frames, 0);
                EXPECT_EQ(outcome.audioSamples, 0);
            }
        }
    }
}

// A file cut anywhere after its index is damaged: a quarter in, half way, or inside its last
// sample (which a decoder might otherwise take for a whole one). The same file whole reads to the
// end and completes. With audio and without.
TEST_F(DamagedMovieTest, AClipWithItsIndexFirstFailsWhereverItIsCutAndCompletesWhole) {
    for (bool withAudio : {true, false}) {
        SCOPED_TRACE(withAudio ? "with audio" : "video only");
        const std::string kind = withAudio ? "av" : "v";
        ClipSpec spec;
        spec.frames = kDamagedClipFrames;
        spec.audio = withAudio;
        std::string error;
        ASSERT_TRUE(writeClip(dir.file(kind + "-source.mp4"), spec, &error)) << error;
        const std::string whole = dir.file(kind + "-whole.mp4");
        ASSERT_TRUE(remux(dir.file(kind + "-source.mp4"), whole, "faststart", true, &error)) << error;
        const auto size = std::filesystem::file_size(whole);
        struct Case {
            const char* name;
            std::uintmax_t length;
        } cases[] = {
            {"whole", size},
            {"a quarter", size / 4},
            {"a half", size / 2},
            {"all but 16 bytes", size - 16},
            {"all but its last byte", size - 1},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const std::string path = dir.file(kind + " cut to " + c.name + ".mp4");
            std::filesystem::copy_file(whole, path);
            std::filesystem::resize_file(path, c.length);
            auto read = readWithinTimeLimit(path, kCVPixelFormatType_32BGRA);
            if (!read) return;
            const ReadOutcome& outcome = *read;
            if (c.length == size) {
                EXPECT_TRUE(outcome.started);
                EXPECT_EQ(outcome.status, AVAssetReaderStatusCompleted);
                EXPECT_EQ(outcome.frames, kDamagedClipFrames);
                EXPECT_EQ(outcome.error, nullptr);
            } else {
                // A cut inside the index itself (a small clip's index is a good part of it) fails
                // at the start instead.
                EXPECT_EQ(outcome.status, AVAssetReaderStatusFailed);
                ASSERT_NE(outcome.error, nullptr);
                if (outcome.started) {
                    EXPECT_EQ(outcome.error->code(), AVErrorDecodeFailed);
                }
            }
        }
    }
    // Read on one thread, video then audio, as a plain loop does: the frames up to the cut come,
    // then the end, and the reader says the movie is damaged rather than complete.
    auto movie = readMovie(dir.file("av cut to a half.mp4"));
    EXPECT_FALSE(movie.ok);
    EXPECT_GT(movie.frames.size(), 0u);
    EXPECT_LT(movie.frames.size(), static_cast<std::size_t>(kDamagedClipFrames));
    EXPECT_NE(movie.error.find("ends early"), std::string::npos) << movie.error;
}

// A clip with audio and video cut in half: its audio meets the cut before its video does, yet the
// video still hands out every frame it holds before the cut, however the outputs are pulled
// (each on its own thread, or one after the other on one thread, in either order),
// and only then does the reader fail, with an error and nothing more from either output.
TEST_F(DamagedMovieTest, EveryTrackHandsOutItsSamplesUpToTheDamageBeforeTheReaderFails) {
    const std::string path = damaged(Damage::CutIndexFirst);
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
    auto videoTracks = asset->tracksWithMediaType(AVMediaTypeVideo);
    auto audioTracks = asset->tracksWithMediaType(AVMediaTypeAudio);
    ASSERT_EQ(videoTracks.size(), 1u);
    ASSERT_EQ(audioTracks.size(), 1u);

    // What each track holds before the cut: its output read alone, by a reader of its own.
    auto readAlone = [&](const Ref<AVAssetTrack>& track) {
        auto reader = AVAssetReader::assetReaderWithAsset(asset, nullptr);
        auto output = make<AVAssetReaderTrackOutput>(track, Dictionary());
        reader->addOutput(output);
        EXPECT_TRUE(reader->startReading());
        long count = 0;
        while (auto sample = output->copyNextSampleBuffer())
            count += sample->imageBuffer() ? 1 : sample->numSamples();
        EXPECT_EQ(reader->status(), AVAssetReaderStatusFailed);
        return count;
    };
    const long intactFrames = readAlone(videoTracks[0]);
    const long intactAudio = readAlone(audioTracks[0]);
    ASSERT_GT(intactFrames, 0);
    ASSERT_LT(intactFrames, kDamagedClipFrames);
    ASSERT_GT(intactAudio, 0);

    enum class Order { Threads, AudioThenVideo, VideoThenAudio };
    struct Case {
        const char* name;
        Order order;
        int runs;
    } cases[] = {
        {"each on its own thread", Order::Threads, 20},
        {"audio, then video", Order::AudioThenVideo, 2},
        {"video, then audio", Order::VideoThenAudio, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int run = 0; run < c.runs; ++run) {
            SCOPED_TRACE(run);
            auto reader = AVAssetReader::assetReaderWithAsset(asset, nullptr);
            auto video = make<AVAssetReaderTrackOutput>(videoTracks[0], Dictionary());
            auto audio = make<AVAssetReaderTrackOutput>(audioTracks[0], Dictionary());
            reader->addOutput(video);
            reader->addOutput(audio);
            ASSERT_TRUE(reader->startReading());
            std::atomic<long> frames{0}, audioSamples{0};
            auto pull = [&](const Ref<AVAssetReaderOutput>& output) {
                auto sample = output->copyNextSampleBuffer();
                if (sample && sample->imageBuffer()) ++frames;
                if (sample && !sample->imageBuffer()) audioSamples += sample->numSamples();
                return sample != nullptr;
            };
            switch (c.order) {
                case Order::Threads: {
                    std::thread audioPuller([&] {
                        while (pull(audio)) {
                        }
                    });
                    while (pull(video)) {
                    }
                    audioPuller.join();
                    break;
                }
                case Order::AudioThenVideo:
                    while (pull(audio)) {
                    }
                    // The audio's damage is held while the video still has frames to give.
                    EXPECT_EQ(reader->status(), AVAssetReaderStatusReading);
                    EXPECT_EQ(reader->error(), nullptr);
                    while (pull(video)) {
                    }
                    break;
                case Order::VideoThenAudio:
                    while (pull(video)) {
                    }
                    EXPECT_EQ(reader->status(), AVAssetReaderStatusReading);
                    while (pull(audio)) {
                    }
                    break;
            }
            EXPECT_EQ(frames.load(), intactFrames);
            EXPECT_EQ(audioSamples.load(), intactAudio);
            EXPECT_EQ(reader->status(), AVAssetReaderStatusFailed);
            ASSERT_NE(reader->error(), nullptr);
            EXPECT_EQ(reader->error()->code(), AVErrorDecodeFailed);
            EXPECT_EQ(video->copyNextSampleBuffer(), nullptr);
            EXPECT_EQ(audio->copyNextSampleBuffer(), nullptr);
            EXPECT_EQ(reader->status(), AVAssetReaderStatusFailed);
        }
    }
}

// A fuzzed file with audio samples the decoder refuses: the ones that decode are handed out, and
// the read then ends failed with the decoder's reason rather than completed.
TEST_F(DamagedMovieTest, SamplesThatDoNotDecodeAreSkippedAndTheReadEndsFailed) {
    const std::string path = std::string(FUZZ_MOVIE_CORPUS) + "/damaged-audio-probe.mp4";
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    auto asset = AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path));
    auto audioTracks = asset->tracksWithMediaType(AVMediaTypeAudio);
    ASSERT_EQ(audioTracks.size(), 1u);
    auto reader = AVAssetReader::assetReaderWithAsset(asset, nullptr);
    auto audio = make<AVAssetReaderTrackOutput>(audioTracks[0], Dictionary());
    reader->addOutput(audio);
    ASSERT_TRUE(reader->startReading());
    long samples = 0;
    for (int n = 0; n < 100; ++n) {
        auto sample = audio->copyNextSampleBuffer();
        if (!sample) break;
        samples += sample->numSamples();
    }
    EXPECT_GT(samples, 0);
    EXPECT_EQ(reader->status(), AVAssetReaderStatusFailed);
    ASSERT_NE(reader->error(), nullptr);
    EXPECT_EQ(reader->error()->code(), AVErrorDecodeFailed);
    EXPECT_NE(reader->error()->localizedDescription().find("cannot decode"), std::string::npos)
        << reader->error()->localizedDescription();
}

// A player item's output gives the frames up to the damage, then nothing, and the item fails.
TEST_F(DamagedMovieTest, APlayerItemOverADamagedMovieFails) {
    struct Case {
        Damage damage;
        bool someFrames;
        AVPlayerItemStatus status;
    } cases[] = {
        {Damage::RandomBytes, false, AVPlayerItemStatusFailed},
        {Damage::CutIndexAtEnd, false, AVPlayerItemStatusFailed},
        {Damage::CutIndexFirst, true, AVPlayerItemStatusFailed},
        {Damage::TracksNoSamples, false, AVPlayerItemStatusReadyToPlay},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(damageName(c.damage));
        const std::string path = damaged(c.damage, "item" + std::to_string(n++) + ".mp4");
        auto item = AVPlayerItem::playerItemWithURL(NSURL::fileURLWithPath(path));
        auto output = make<AVPlayerItemVideoOutput>(Dictionary());
        item->addOutput(output);
        EXPECT_EQ(item->status(), AVPlayerItemStatusUnknown);
        int frames = 0;
        // Asked every 10 ms of item time, the output hands out each frame of the 30 a second as it
        // falls due.
        for (double seconds = 0; seconds <= 1.5; seconds += 0.01) {
            const CMTime time = CMTimeMakeWithSeconds(seconds, 600);
            if (output->hasNewPixelBufferForItemTime(time) &&
                output->copyPixelBufferForItemTime(time, nullptr))
                ++frames;
        }
        EXPECT_EQ(frames > 0, c.someFrames);
        EXPECT_LT(frames, kDamagedClipFrames);
        EXPECT_EQ(item->status(), c.status);
        if (c.status == AVPlayerItemStatusFailed) {
            ASSERT_NE(item->error(), nullptr);
            EXPECT_FALSE(item->error()->localizedDescription().empty());
        } else {
            EXPECT_EQ(item->error(), nullptr);
        }
    }
}

}  // namespace
