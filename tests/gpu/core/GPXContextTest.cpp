#include "gpu/core/GPXContext.h"
#include "gpu/core/GPUCoreTesting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "GPUTestSupport.h"
#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXShaders.h"

using namespace gputest;

namespace {

TEST(GPXContextSize, LimitsTheLongerSideKeepingTheAspectRatio) {
    auto fit = [](double w, double h) { return detail::sizeThatFitsWithinMaximum(CGSizeMake(w, h), 4096); };
    EXPECT_EQ(fit(5000, 3000), CGSizeMake(4096, 2457.6));
    EXPECT_EQ(fit(3000, 5000), CGSizeMake(2457.6, 4096));
    EXPECT_EQ(fit(100, 100), CGSizeMake(100, 100));
    // A side equal to the limit counts as too large, which leaves the size unchanged in value.
    EXPECT_EQ(fit(4096, 100), CGSizeMake(4096, 100));
    EXPECT_EQ(fit(100, 4096), CGSizeMake(100, 4096));
    // A square that is too large: the height branch.
    EXPECT_EQ(fit(8192, 8192), CGSizeMake(4096, 4096));
    EXPECT_EQ(fit(0, 0), CGSizeMake(0, 0));
}

TEST(GPXContextSize, UsesTheDeviceLimit) {
    const GLint maximum = GPXContext::maximumTextureSizeForThisDevice();
    ASSERT_GE(maximum, 4096);
    EXPECT_EQ(GPXContext::sizeThatFitsWithinATextureForSize(CGSizeMake(maximum * 2.0, maximum)),
              CGSizeMake(maximum, maximum / 2.0));
    gpu_core_testing::setMaximumTextureSizeOverride(4096);
    EXPECT_EQ(GPXContext::sizeThatFitsWithinATextureForSize(CGSizeMake(5000, 3000)),
              CGSizeMake(4096, 2457.6));
    gpu_core_testing::setMaximumTextureSizeOverride(0);
    EXPECT_EQ(GPXContext::maximumTextureSizeForThisDevice(), maximum);
}

TEST(GPXContextDevice, ReadsLimitsAndExtensionsOnce) {
    EXPECT_GE(GPXContext::maximumTextureUnitsForThisDevice(), 8);
    EXPECT_GE(GPXContext::maximumVaryingVectorsForThisDevice(), 8);
    EXPECT_TRUE(GPXContext::deviceSupportsOpenGLESExtension("GL_EXT_texture_format_BGRA8888"));
    EXPECT_TRUE(GPXContext::deviceSupportsRedTextures());
    EXPECT_TRUE(GPXContext::deviceSupportsFramebufferReads());
    EXPECT_FALSE(GPXContext::deviceSupportsOpenGLESExtension(""));
    EXPECT_FALSE(GPXContext::deviceSupportsOpenGLESExtension("GL_EXT_texture"));  // a prefix only
    EXPECT_FALSE(GPXContext::deviceSupportsOpenGLESExtension("GL_NOT_AN_EXTENSION"));
    EXPECT_FALSE(GPXContext::supportsFastTextureUpload());
}

TEST(GPXContextDevice, ExtensionListMatchesWholeNamesOnly) {
    EXPECT_TRUE(detail::extensionListContains("GL_A GL_BB GL_C", "GL_BB"));
    EXPECT_TRUE(detail::extensionListContains("GL_A GL_BB GL_C", "GL_C"));
    EXPECT_FALSE(detail::extensionListContains("GL_A GL_BB GL_C", "GL_B"));
    EXPECT_FALSE(detail::extensionListContains("GL_A GL_BB ", ""));
    EXPECT_FALSE(detail::extensionListContains("", "GL_A"));
    EXPECT_TRUE(detail::extensionListContains("GL_A  GL_B", "GL_B"));
}

TEST(GPXContextDevice, LimitsAreSafeToAskFromManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (GPXContext::maximumTextureSizeForThisDevice() < 4096) ++wrong;
            if (!GPXContext::deviceSupportsRedTextures()) ++wrong;
        });
    }
    // One from the queue itself, too: it must not wait for the others.
    performAsyncOnSharedContextQueue([&] {
        if (GPXContext::maximumTextureUnitsForThisDevice() < 8) ++wrong;
    });
    for (auto& t : threads) t.join();
    drainSharedQueue();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(GPXContextQueue, IsSharedAndLabelled) {
    auto shared = GPXContext::sharedImageProcessingContext();
    EXPECT_EQ(shared, GPXContext::sharedImageProcessingContext());
    EXPECT_EQ(&GPXContext::sharedContextQueue(), &shared->contextQueue());
    EXPECT_EQ(shared->contextQueue().label(), "com.vorlentide.GPX.openGLESContextQueue");
    EXPECT_EQ(GPXContext::sharedFramebufferCache(), shared->framebufferCache());
    EXPECT_NE(GPXContext::contextKey(), nullptr);
    EXPECT_EQ(GPXContext::contextKey(), GPXContext::contextKey());
}

TEST(GPXContextQueue, SyncRequestsOnTheQueueRunInline) {
    std::vector<int> order;
    bool onQueue = false;
    performSyncOnSharedContextQueue([&] {
        order.push_back(1);
        performSyncOnSharedContextQueue([&] {
            order.push_back(2);
            onQueue = GPXContext::sharedContextQueue().isCurrent();
        });
        order.push_back(3);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(onQueue);
}

TEST(GPXContextQueue, AsyncRequestsOnTheQueueRunBeforeTheCallerGoesOn) {
    std::vector<int> order;
    performSyncOnSharedContextQueue([&] {
        performAsyncOnSharedContextQueue([&] { order.push_back(1); });
        order.push_back(2);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(GPXContextQueue, AsyncRequestsFromElsewhereRunLaterInOrder) {
    auto gate = dispatch_semaphore_create(0);
    auto done = dispatch_semaphore_create(0);
    std::vector<int> order;
    performAsyncOnSharedContextQueue([&] { dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER); });
    for (int i = 0; i < 10; ++i) performAsyncOnSharedContextQueue([&, i] { order.push_back(i); });
    performAsyncOnSharedContextQueue([&] { dispatch_semaphore_signal(done); });
    EXPECT_TRUE(order.empty());  // the queue is held; nothing ran on the caller's thread
    dispatch_semaphore_signal(gate);
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(GPXContextQueue, GLCallsMadeThroughTheQueueSeeTheContext) {
    std::string version;
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    });
    EXPECT_NE(version.find("OpenGL ES"), std::string::npos);
    // The context object is the one current on the queue.
    auto context = GPXContext::sharedImageProcessingContext()->context();
    ASSERT_NE(context, nullptr);
    Ref<EAGLContext> current;
    performSyncOnSharedContextQueue([&] { current = EAGLContext::currentContext(); });
    EXPECT_EQ(current, context);
    EXPECT_EQ(EAGLContext::currentContext(), nullptr);  // never on the caller's thread
}

TEST(GPXContextQueue, QueueFunctionsIgnoreAMissingContext) {
    bool ran = false;
    performSyncOnContextQueue(nullptr, [&] { ran = true; });
    performAsyncOnContextQueue(nullptr, [&] { ran = true; });
    EXPECT_FALSE(ran);
}

TEST(GPXContextPrograms, SameTextsGiveTheSameProgram) {
    auto context = GPXContext::sharedImageProcessingContext();
    auto a = context->programForVertexShaderString(kGPXDefaultVertexShaderString,
                                                   kGPXPassthroughFragmentShaderString);
    auto b = context->programForVertexShaderString(kGPXDefaultVertexShaderString,
                                                   kGPXPassthroughFragmentShaderString);
    EXPECT_EQ(a, b);
    auto c = context->programForVertexShaderString(kGPXDefaultVertexShaderString,
                                                   std::string(kGPXPassthroughFragmentShaderString) + "\n");
    EXPECT_NE(a, c);
    EXPECT_FALSE(c->initialized());  // made, not linked
}

TEST(GPXContextPrograms, ConcurrentRequestsForOneKeyMakeOneProgram) {
    auto context = make<GPXContext>();
    const std::string fragment = "void main() { gl_FragColor = vec4(0.25); }";
    std::vector<Ref<GLProgram>> results(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            results[i] = context->programForVertexShaderString(kGPXDefaultVertexShaderString, fragment);
        });
    }
    for (auto& t : threads) t.join();
    for (auto& program : results) EXPECT_EQ(program, results[0]);
    EXPECT_EQ(context->programCacheCount(), 1u);
}

TEST(GPXContextPrograms, ActiveProgramIsTracked) {
    auto context = make<GPXContext>();
    auto program = context->programForVertexShaderString(kGPXDefaultVertexShaderString,
                                                         kGPXPassthroughFragmentShaderString);
    GLint inUse = -1;
    performSyncOnContextQueue(context, [&] {
        program->addAttribute("position");
        program->addAttribute("inputTextureCoordinate");
        ASSERT_TRUE(program->link());
    });
    context->setContextShaderProgram(program);
    EXPECT_EQ(context->currentShaderProgram(), program);
    performSyncOnContextQueue(context, [&] { glGetIntegerv(GL_CURRENT_PROGRAM, &inUse); });
    EXPECT_EQ(static_cast<GLuint>(inUse), program->program());
}

TEST(GPXContextSharegroups, AGroupAfterTheContextExistsIsReported) {
    AssertionRecorder recorder;
    auto context = make<GPXContext>();
    auto group = make<EAGLSharegroup>();
    context->useSharegroup(group);  // before: fine
    EXPECT_TRUE(recorder.messages().empty());
    ASSERT_NE(context->context(), nullptr);
    EXPECT_EQ(context->context()->sharegroup(), group);
    context->useSharegroup(make<EAGLSharegroup>());
    EXPECT_TRUE(
        recorder.saw("Unable to use a share group when the context has already been created. Call this "
                     "method before you use the "
                     "context for the first time."));
    EXPECT_EQ(context->context()->sharegroup(), group);  // no effect on the existing context
}

TEST(GPXContextSharegroups, ASecondContextInTheSharedGroupSeesItsTextures) {
    auto shared = GPXContext::sharedImageProcessingContext();
    auto writer = make<GPXContext>();
    writer->useSharegroup(shared->context()->sharegroup());
    GLuint texture = 0;
    const GLubyte texel[4] = {1, 2, 3, 4};
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
        glFinish();
    });
    GLboolean visible = GL_FALSE;
    performSyncOnContextQueue(writer, [&] {
        writer->useAsCurrentContext();
        visible = glIsTexture(texture);
    });
    EXPECT_TRUE(visible);
    performSyncOnSharedContextQueue([&] { glDeleteTextures(1, &texture); });
}

TEST(GPXContextLifetime, AnOwnContextEndsWithItsThreadAndObjects) {
    auto context = make<GPXContext>();
    Weak<EAGLContext> eagl = context->context();
    auto program = context->programForVertexShaderString(kGPXDefaultVertexShaderString,
                                                         kGPXPassthroughFragmentShaderString);
    EXPECT_FALSE(eagl.expired());
    program.reset();
    context.reset();
    EXPECT_TRUE(eagl.expired());
}

TEST(GPXContextLifetime, TheTextureCacheIsNotOffered) {
    EXPECT_EQ(GPXContext::sharedImageProcessingContext()->coreVideoTextureCache(), nullptr);
}

}  // namespace
