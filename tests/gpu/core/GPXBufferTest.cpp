#include "gpu/core/GPXBuffer.h"

#include <gtest/gtest.h>

#include "GPUTestSupport.h"
#include "gpu/core/GPXFramebufferCache.h"

using namespace gputest;

namespace {

// Feeds the buffer a framebuffer per frame, as a producer does, and records what comes out.
class GPXBufferTest : public ::testing::Test {
  protected:
    Ref<GPXBuffer> buffer = make<GPXBuffer>();
    Ref<RecordingInput> target = make<RecordingInput>();
    std::vector<Ref<GPXFramebuffer>> inputs;

    void SetUp() override {
        inputs.reserve(64);  // checks compare against entries while feed() appends
        target->lockInputs_ = target->unlockOnFrame_ = true;
        buffer->addTarget(target);
    }

    Ref<GPXFramebuffer> feed() {
        auto framebuffer = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
            CGSizeMake(57 + static_cast<double>(inputs.size()), 21), false);
        inputs.push_back(framebuffer);
        performSyncOnSharedContextQueue([&] {
            buffer->setInputSize(CGSizeMake(8, 8), 0);
            buffer->setInputFramebuffer(framebuffer, 0);
            framebuffer->unlock();  // the producer's hold goes once the buffer has taken its own
            target->clear();
            buffer->newFrameReadyAtTime(kCMTimeIndefinite, 0);
        });
        for (auto& e : target->events()) {
            if (e.call == "framebuffer") return e.framebuffer;
        }
        return nullptr;
    }
};

TEST_F(GPXBufferTest, SizeOneDelaysByOneFrame) {
    EXPECT_EQ(buffer->bufferSize(), 1u);
    auto out1 = feed();
    EXPECT_EQ(out1, inputs[0]);  // undelayed at first
    auto out2 = feed();
    EXPECT_EQ(out2, inputs[0]);
    auto out3 = feed();
    EXPECT_EQ(out3, inputs[1]);
    EXPECT_EQ(buffer->bufferedFramebufferCount(), 1u);
    EXPECT_EQ(inputs[2]->framebufferReferenceCount(), 1u);  // held by the list only
}

TEST_F(GPXBufferTest, SizeThreeFillsThenDelaysByThree) {
    buffer->setBufferSize(3);
    EXPECT_EQ(feed(), inputs[0]);
    EXPECT_EQ(feed(), inputs[1]);
    EXPECT_EQ(feed(), inputs[2]);
    EXPECT_EQ(feed(), inputs[0]);
    EXPECT_EQ(feed(), inputs[1]);
}

TEST_F(GPXBufferTest, ShrinkingUnlocksTheNewestFrames) {
    buffer->setBufferSize(3);
    feed();
    feed();
    feed();
    EXPECT_EQ(buffer->bufferedFramebufferCount(), 3u);
    buffer->setBufferSize(1);
    EXPECT_EQ(buffer->bufferedFramebufferCount(), 1u);
    EXPECT_EQ(inputs[1]->framebufferReferenceCount(), 0u);
    EXPECT_EQ(inputs[2]->framebufferReferenceCount(), 0u);
    EXPECT_EQ(feed(), inputs[0]);  // the oldest remaining
}

TEST_F(GPXBufferTest, ShrinkingBelowWhatIsHeldRemovesOnlyWhatIsThere) {
    AssertionRecorder recorder;
    buffer->setBufferSize(5);
    feed();                    // one frame held
    buffer->setBufferSize(1);  // would remove four
    EXPECT_EQ(buffer->bufferedFramebufferCount(), 0u);
    EXPECT_EQ(buffer->bufferSize(), 1u);
    EXPECT_TRUE(recorder.messages().empty());  // no over-release
}

TEST_F(GPXBufferTest, ZeroIsIgnoredAndGrowingOnlyStores) {
    buffer->setBufferSize(0);
    EXPECT_EQ(buffer->bufferSize(), 1u);
    feed();
    buffer->setBufferSize(2);
    EXPECT_EQ(buffer->bufferedFramebufferCount(), 1u);
    EXPECT_EQ(feed(), inputs[1]);  // filling again: undelayed
    EXPECT_EQ(feed(), inputs[0]);
}

TEST_F(GPXBufferTest, PassesItsRotationToTargets) {
    buffer->setInputRotation(rotationRight, 0);
    feed();
    bool sawRotation = false;
    for (auto& e : target->events()) sawRotation |= e.call == "rotation" && e.rotation == rotationRight;
    EXPECT_TRUE(sawRotation);
}

TEST_F(GPXBufferTest, GoingAwayUnlocksWhatItHeld) {
    buffer->setBufferSize(2);
    feed();
    feed();
    buffer->removeAllTargets();
    buffer.reset();
    EXPECT_EQ(inputs[0]->framebufferReferenceCount(), 0u);
    EXPECT_EQ(inputs[1]->framebufferReferenceCount(), 0u);
}

}  // namespace
