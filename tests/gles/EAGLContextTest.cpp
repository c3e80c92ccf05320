#include "gles/EAGLContext.h"

#include <gtest/gtest.h>

#include <EGL/egl.h>

#include <array>
#include <cstring>
#include <thread>
#include <vector>

#include "gles/CVOpenGLESTextureCache.h"
#include "gles/GLThreadQueue.h"

namespace {

using Pixel = std::array<GLubyte, 4>;

// Draws into a fresh framebuffer object of the given size by clearing it, and reads one pixel
// back. Runs on a thread where a context is current.
Pixel clearAndRead(float r, float g, float b, float a, GLsizei size = 4) {
    GLuint texture = 0, framebuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, size, size);
    glClearColor(r, g, b, a);
    glClear(GL_COLOR_BUFFER_BIT);
    Pixel pixel{};
    glReadPixels(size / 2, size / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
    return pixel;
}

TEST(EAGLContext, MakesAnOpenGLES2ContextWithoutADisplay) {
    auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->API(), kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(context->sharegroup(), nullptr);
    EXPECT_EQ(context->sharegroup()->contextCount(), 1u);
    EXPECT_EQ(EAGLContext::currentContext(), nullptr);
}

TEST(EAGLContext, RefusesOpenGLES1) {
    EXPECT_EQ(EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES1), nullptr);
}

TEST(EAGLContext, RendersIntoAFramebufferAndReadsBack) {
    auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(context, nullptr);
    std::thread([&] {
        ASSERT_TRUE(EAGLContext::setCurrentContext(context));
        EXPECT_EQ(EAGLContext::currentContext(), context);
        std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        EXPECT_NE(version.find("OpenGL ES"), std::string::npos) << version;
        auto pixel = clearAndRead(1.0f, 0.5f, 0.0f, 1.0f);
        EXPECT_EQ(pixel[0], 255);
        EXPECT_NEAR(pixel[1], 128, 1);
        EXPECT_EQ(pixel[2], 0);
        EXPECT_EQ(pixel[3], 255);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_TRUE(context->presentRenderbuffer(GL_RENDERBUFFER));
        EXPECT_TRUE(EAGLContext::setCurrentContext(nullptr));
        EXPECT_EQ(EAGLContext::currentContext(), nullptr);
    }).join();
}

TEST(EAGLContext, OffersTheExtensionsThePipelineUses) {
    auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(context, nullptr);
    std::thread([&] {
        ASSERT_TRUE(EAGLContext::setCurrentContext(context));
        std::string extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
        EXPECT_NE(extensions.find("GL_EXT_texture_format_BGRA8888"), std::string::npos);
        EXPECT_NE(extensions.find("GL_EXT_read_format_bgra"), std::string::npos);
        GLint maxTexture = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
        EXPECT_GE(maxTexture, 4096);
        EAGLContext::setCurrentContext(nullptr);
    }).join();
}

TEST(EAGLContext, IsCurrentOnOneThreadAtATime) {
    auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(context, nullptr);
    GLThreadQueue owner("owner");
    bool madeCurrent = false;
    owner.sync([&] { madeCurrent = EAGLContext::setCurrentContext(context); });
    ASSERT_TRUE(madeCurrent);
    // Another thread cannot take it while the owner holds it.
    std::thread([&] {
        EXPECT_FALSE(EAGLContext::setCurrentContext(context));
        EXPECT_EQ(detail::eglLastError(), EGL_BAD_ACCESS);
        EXPECT_EQ(EAGLContext::currentContext(), nullptr);
        EXPECT_FALSE(context->presentRenderbuffer(GL_RENDERBUFFER));
    }).join();
    // Once the owner lets go, it can.
    owner.sync([&] { EXPECT_TRUE(EAGLContext::setCurrentContext(nullptr)); });
    std::thread([&] {
        EXPECT_TRUE(EAGLContext::setCurrentContext(context));
        EAGLContext::setCurrentContext(nullptr);
    }).join();
}

TEST(EAGLContext, AThreadThatEndsLetsGoOfItsContext) {
    auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(context, nullptr);
    std::thread([&] { ASSERT_TRUE(EAGLContext::setCurrentContext(context)); }).join();
    std::thread([&] {
        EXPECT_TRUE(EAGLContext::setCurrentContext(context));
        EAGLContext::setCurrentContext(nullptr);
    }).join();
}

TEST(EAGLContext, AContextCurrentOnAQueueEndsWithTheQueue) {
    Weak<EAGLContext> weak;
    {
        GLThreadQueue queue("q");
        queue.sync([&] {
            auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
            ASSERT_TRUE(EAGLContext::setCurrentContext(context));
            weak = context;
        });
        EXPECT_FALSE(weak.expired());  // the thread holds its current context
    }
    EXPECT_TRUE(weak.expired());
}

TEST(EAGLContext, ContextsInOneSharegroupShareTextures) {
    auto first = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(first, nullptr);
    auto second = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2, first->sharegroup());
    auto stranger = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(stranger, nullptr);
    EXPECT_EQ(second->sharegroup(), first->sharegroup());
    EXPECT_EQ(first->sharegroup()->contextCount(), 2u);
    EXPECT_NE(stranger->sharegroup(), first->sharegroup());

    GLuint texture = 0;
    const std::array<GLubyte, 4> texel{10, 20, 30, 40};
    std::thread([&] {
        ASSERT_TRUE(EAGLContext::setCurrentContext(first));
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel.data());
        glFinish();
        EAGLContext::setCurrentContext(nullptr);
    }).join();
    ASSERT_NE(texture, 0u);

    std::thread([&] {
        ASSERT_TRUE(EAGLContext::setCurrentContext(second));
        EXPECT_TRUE(glIsTexture(texture));
        GLuint framebuffer = 0;
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        std::array<GLubyte, 4> read{};
        glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, read.data());
        EXPECT_EQ(read, texel);
        glDeleteFramebuffers(1, &framebuffer);
        EAGLContext::setCurrentContext(nullptr);
    }).join();

    std::thread([&] {
        ASSERT_TRUE(EAGLContext::setCurrentContext(stranger));
        EXPECT_FALSE(glIsTexture(texture));
        EAGLContext::setCurrentContext(nullptr);
    }).join();

    first.reset();
    EXPECT_EQ(second->sharegroup()->contextCount(), 1u);
    // A context made after the first is gone still joins the group's objects.
    auto third = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2, second->sharegroup());
    ASSERT_NE(third, nullptr);
    std::thread([&] {
        ASSERT_TRUE(EAGLContext::setCurrentContext(third));
        EXPECT_TRUE(glIsTexture(texture));
        EAGLContext::setCurrentContext(nullptr);
    }).join();
}

TEST(EAGLContext, SeveralContextsRenderInParallel) {
    constexpr int kContexts = 6;
    std::vector<std::thread> threads;
    std::vector<Pixel> results(kContexts);
    for (int i = 0; i < kContexts; ++i) {
        threads.emplace_back([i, &results] {
            auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
            ASSERT_NE(context, nullptr);
            ASSERT_TRUE(EAGLContext::setCurrentContext(context));
            for (int round = 0; round < 20; ++round) results[i] = clearAndRead(i / 10.0f, 0, 0, 1, 64);
            EAGLContext::setCurrentContext(nullptr);
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kContexts; ++i) EXPECT_NEAR(results[i][0], i * 255 / 10.0, 1.0) << i;
}

TEST(CVOpenGLESTextureCache, IsNotOfferedHere) {
    EXPECT_FALSE(CVOpenGLESTextureCacheIsSupported());
    auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2);
    CVOpenGLESTextureCacheRef cache = make<CVOpenGLESTextureCache>();
    EXPECT_EQ(CVOpenGLESTextureCacheCreate(context, &cache), kCVReturnUnsupported);
    EXPECT_EQ(cache, nullptr);
    EXPECT_EQ(CVOpenGLESTextureCacheCreate(nullptr, &cache), kCVReturnInvalidArgument);
    EXPECT_EQ(CVOpenGLESTextureCacheCreate(context, nullptr), kCVReturnInvalidArgument);
    CVOpenGLESTextureCacheFlush(nullptr, 0);  // harmless
}

}  // namespace
