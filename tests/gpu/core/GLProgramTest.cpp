#include "gpu/core/GLProgram.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>

#include "GPUTestSupport.h"
#include "foundation/NSBundle.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXShaders.h"
#include "tests/support/TestSupport.h"

using namespace gputest;

namespace {

class GLProgramTest : public ::testing::Test {
  protected:
    // Each program made here is made on the shared queue, outside the cache.
    Ref<GLProgram> makeProgram(const std::string& vertex, const std::string& fragment) {
        Ref<GLProgram> program;
        performSyncOnSharedContextQueue([&] {
            GPXContext::useImageProcessingContext();
            program = make<GLProgram>(vertex, fragment);
        });
        return program;
    }
};

TEST_F(GLProgramTest, AttributesTakeTheirRegistrationIndex) {
    auto program = makeProgram(kGPXDefaultVertexShaderString, kGPXPassthroughFragmentShaderString);
    performSyncOnSharedContextQueue([&] {
        program->addAttribute("inputTextureCoordinate");
        program->addAttribute("position");
        program->addAttribute("inputTextureCoordinate");  // again: ignored
        EXPECT_EQ(program->attributes().size(), 2u);
        ASSERT_TRUE(program->link());
        EXPECT_EQ(program->attributeIndex("inputTextureCoordinate"), 0u);
        EXPECT_EQ(program->attributeIndex("position"), 1u);
        EXPECT_EQ(program->attributeIndex("unknown"), static_cast<GLuint>(-1));
        EXPECT_EQ(glGetAttribLocation(program->program(), "position"), 1);
        EXPECT_EQ(glGetAttribLocation(program->program(), "inputTextureCoordinate"), 0);
        EXPECT_NE(static_cast<GLint>(program->uniformIndex("inputImageTexture")), -1);
        EXPECT_EQ(static_cast<GLint>(program->uniformIndex("notAUniform")), -1);
    });
}

TEST_F(GLProgramTest, ASuccessfulLinkDeletesTheShadersAndKeepsNoLogs) {
    auto program = makeProgram(kGPXDefaultVertexShaderString, kGPXPassthroughFragmentShaderString);
    EXPECT_FALSE(program->initialized());
    EXPECT_NE(program->vertShader(), 0u);
    EXPECT_NE(program->fragShader(), 0u);
    GLuint vertex = program->vertShader();
    performSyncOnSharedContextQueue([&] {
        program->addAttribute("position");
        EXPECT_TRUE(program->link());
        // Attached shaders are only marked for deletion; they go with the program.
        GLint deleting = GL_FALSE;
        glGetShaderiv(vertex, GL_DELETE_STATUS, &deleting);
        EXPECT_EQ(deleting, GL_TRUE);
        program->use();
        program->validate();
    });
    EXPECT_TRUE(program->initialized());
    EXPECT_EQ(program->vertShader(), 0u);
    EXPECT_EQ(program->fragShader(), 0u);
    EXPECT_FALSE(program->vertexShaderLog().has_value());
    EXPECT_FALSE(program->fragmentShaderLog().has_value());
}

TEST_F(GLProgramTest, ACompileFailureLeavesALogAndTheLinkFails) {
    auto program = makeProgram(kGPXDefaultVertexShaderString, "void main() { this is not GLSL; }");
    ASSERT_TRUE(program->fragmentShaderLog().has_value());
    EXPECT_FALSE(program->fragmentShaderLog()->empty());
    EXPECT_FALSE(program->vertexShaderLog().has_value());
    bool linked = true;
    performSyncOnSharedContextQueue([&] { linked = program->link(); });
    EXPECT_FALSE(linked);
    EXPECT_FALSE(program->initialized());
    EXPECT_NE(program->fragShader(), 0u);  // kept on failure
}

TEST_F(GLProgramTest, ABrokenVertexShaderIsLoggedAsSuch) {
    auto program = makeProgram("attribute vec4 position; void main() { gl_Position = nope; }",
                               kGPXPassthroughFragmentShaderString);
    ASSERT_TRUE(program->vertexShaderLog().has_value());
    EXPECT_FALSE(program->fragmentShaderLog().has_value());
}

TEST_F(GLProgramTest, AnEmptyTextFailsToCompile) {
    auto program = makeProgram("", "");
    bool linked = true;
    performSyncOnSharedContextQueue([&] { linked = program->link(); });
    EXPECT_FALSE(linked);
}

TEST_F(GLProgramTest, GoingAwayDeletesTheProgramOnItsQueue) {
    auto program = makeProgram(kGPXDefaultVertexShaderString, kGPXPassthroughFragmentShaderString);
    const GLuint name = program->program();
    program.reset();  // on this thread: the deletion hops to the queue
    GLboolean exists = GL_TRUE;
    performSyncOnSharedContextQueue([&] { exists = glIsProgram(name); });
    EXPECT_FALSE(exists);
}

TEST_F(GLProgramTest, ShadersComeFromBundleResources) {
    testsupport::TemporaryDirectory bundle;
    ASSERT_TRUE(NSData::fromString(kGPXDefaultVertexShaderString).writeToFile(bundle.file("Plain.vsh")));
    ASSERT_TRUE(
        NSData::fromString(kGPXPassthroughFragmentShaderString).writeToFile(bundle.file("Plain.fsh")));
    NSBundle::setMainBundlePath(bundle.path());
    Ref<GLProgram> both, mixed, missing;
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        both = make<GLProgram>(GLShaderFilename{"Plain"}, GLShaderFilename{"Plain"});
        mixed = make<GLProgram>(kGPXDefaultVertexShaderString, GLShaderFilename{"Plain"});
        missing = make<GLProgram>(kGPXDefaultVertexShaderString, GLShaderFilename{"Absent"});
        EXPECT_TRUE(both->link());
        EXPECT_TRUE(mixed->link());
        EXPECT_FALSE(missing->link());
    });
    AssertionRecorder recorder;
    auto fromFile = make<GPXFilter>(GLShaderFilename{"Plain"});
    EXPECT_NE(fromFile->filterProgram(), nullptr);
    auto absent = make<GPXFilter>(GLShaderFilename{"Absent"});
    EXPECT_EQ(absent->filterProgram(), nullptr);
    EXPECT_TRUE(recorder.saw("Filter shader link failed"));
    foundation_testing::resetBundles();
}

}  // namespace
