// A damaged movie ends whichever way it is read: its reader fails with an error, its delegate and
// its targets (a synchronised writer's completion block among them) hear the end once, and only
// frames before the damage reach the pipeline. An empty movie ends at once, completed.

#include <gtest/gtest.h>

#include "gpu/media/GPXMovie.h"
#include "gpu/media/GPXMovieWriter.h"
#include "tests/gpu/core/GPUTestSupport.h"
#include "tests/gpu/media/MovieTestSupport.h"
#include "tests/media/DamagedMovies.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

using namespace gputest;
using namespace testsupport;

namespace {

enum class Mode { Asset, URL, SynchronizedWithWriter };

const char* modeName(Mode mode) {
    switch (mode) {
        case Mode::Asset:
            return "asset";
        case Mode::URL:
            return "URL";
        case Mode::SynchronizedWithWriter:
            return "synchronised with a writer";
    }
    return "?";
}

using GPXMovieDamageTest = DamagedMovieFixture;

TEST_F(GPXMovieDamageTest, ReadingEndsWithTheReaderFailedOrAnEmptyMovieCompleted) {
    struct Case {
        Damage damage;
        AVAssetReaderStatus status;
    } cases[] = {
        {Damage::RandomBytes, AVAssetReaderStatusFailed},
        {Damage::CutIndexAtEnd, AVAssetReaderStatusFailed},
        {Damage::CutIndexFirst, AVAssetReaderStatusFailed},
        {Damage::TracksNoSamples, AVAssetReaderStatusCompleted},
    };
    for (const auto& c : cases) {
        for (Mode mode : {Mode::Asset, Mode::URL, Mode::SynchronizedWithWriter}) {
            SCOPED_TRACE(std::string(damageName(c.damage)) + ", " + modeName(mode));
            const std::string path = damaged(c.damage);
            Ref<GPXMovie> movie =
                mode == Mode::Asset
                    ? make<GPXMovie>(Ref<AVAsset>(AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(path))))
                    : make<GPXMovie>(NSURL::fileURLWithPath(path));
            auto [target, delegate] = listenTo(movie);

            Ref<GPXMovieWriter> writer;
            auto writerCompleted = dispatch_semaphore_create(0);
            auto writerCompletions = std::make_shared<std::atomic<int>>(0);
            if (mode == Mode::SynchronizedWithWriter) {
                writer = make<GPXMovieWriter>(NSURL::fileURLWithPath(path + ".out.mp4"), CGSizeMake(64, 48),
                                              AVFileTypeMPEG4, Value());
                movie->addTarget(writer);
                movie->setAudioEncodingTarget(writer);
                movie->enableSynchronizedEncodingUsingMovieWriter(writer);
                writer->setCompletionBlock([writerCompletions, writerCompleted] {
                    ++*writerCompletions;
                    dispatch_semaphore_signal(writerCompleted);
                });
                writer->startRecording();
            }
            // Started off the test's thread, so that a read that never ends fails the wait below
            // rather than hanging the test.
            dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                           [movie] { movie->startProcessing(); });
            ASSERT_TRUE(waitFor(delegate->done)) << "the movie never ended";
            if (writer) {
                ASSERT_TRUE(waitFor(writerCompleted)) << "the writer never heard the end";
                writer->cancelRecording();
                EXPECT_EQ(writerCompletions->load(), 1);
            }
            drainSharedQueue();
            EXPECT_EQ(delegate->completions.load(), 1);
            EXPECT_EQ(target->count("end"), 1);
            EXPECT_LT(target->count("newFrame"), kDamagedClipFrames);
            auto reader = movie->assetReader();
            ASSERT_NE(reader, nullptr);
            EXPECT_EQ(reader->status(), c.status);
            if (c.status == AVAssetReaderStatusFailed) {
                ASSERT_NE(reader->error(), nullptr);
                EXPECT_FALSE(reader->error()->localizedDescription().empty());
                EXPECT_NE(movie->progress(), 1.0f);
            } else {
                EXPECT_EQ(reader->error(), nullptr);
                EXPECT_EQ(target->count("newFrame"), 0);
                EXPECT_EQ(movie->progress(), 1.0f);
            }
        }
    }
}

// A movie cut after its index plays up to the cut; the failure then ends it, even when it is set
// to repeat (starting again would only read up to the same damage, for ever).
TEST_F(GPXMovieDamageTest, ACutMovieShowsTheFramesBeforeTheCutThenEndsEvenWhenRepeating) {
    const std::string path = damaged(Damage::CutIndexFirst);
    auto movie = make<GPXMovie>(NSURL::fileURLWithPath(path));
    auto [target, delegate] = listenTo(movie);
    movie->setShouldRepeat(true);
    movie->startProcessing();
    ASSERT_TRUE(waitFor(delegate->done)) << "the movie never ended";
    pumpMainRunLoop(0.2);  // a restart would be queued on the main queue
    drainSharedQueue();
    const int frames = target->count("newFrame");
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, kDamagedClipFrames);
    EXPECT_EQ(movie->assetReader()->status(), AVAssetReaderStatusFailed);
    pumpMainRunLoop(0.2);
    EXPECT_EQ(target->count("newFrame"), frames);
}

// Playing a damaged item: the display link hands on the frames before the damage, then the item
// fails and the movie ends.
TEST_F(GPXMovieDamageTest, APlayerItemOverADamagedMovieEnds) {
    struct Case {
        Damage damage;
        bool someFrames;
    } cases[] = {
        {Damage::RandomBytes, false},
        {Damage::CutIndexAtEnd, false},
        {Damage::CutIndexFirst, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(damageName(c.damage));
        auto item = AVPlayerItem::playerItemWithURL(NSURL::fileURLWithPath(damaged(c.damage)));
        ManualClock clock;
        auto movie = make<GPXMovie>(item);
        auto [target, delegate] = listenTo(movie);
        movie->startProcessing();
        auto link = movie->displayLink();
        ASSERT_NE(link, nullptr);
        auto player = AVPlayer::playerWithPlayerItem(item);
        player->play();
        ASSERT_TRUE(pumpMainRunLoopUntil([&] { return !link->isPaused(); }));
        clock.advance(1.5);
        EXPECT_EQ(delegate->completions.load(), 1);
        EXPECT_EQ(item->status(), AVPlayerItemStatusFailed);
        EXPECT_NE(item->error(), nullptr);
        EXPECT_FALSE(link->isValid());
        EXPECT_EQ(target->count("newFrame") > 0, c.someFrames);
        EXPECT_LT(target->count("newFrame"), kDamagedClipFrames);
    }
}

}  // namespace
