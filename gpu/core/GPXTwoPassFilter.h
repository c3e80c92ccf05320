#pragma once
// A filter that draws twice in sequence, the second draw reading the first's result (a separable
// blur: a vertical pass, then a horizontal one). The first pass uses the inherited program,
// uniform settings and output framebuffer; the second has a program, uniform settings and output
// framebuffer of its own, and its output is what targets receive. The input's rotation is applied
// in the first pass; the second samples the first's result unrotated.
//
// Uniform settings made with the location-based setters for the second program are replayed only
// before the second pass. Two stages with identical texts share one cached program (and so one
// set of locations); per-pass values then belong in setUniformsForProgramAtIndex().

#include "gpu/core/GPXFilter.h"

class GPXTwoPassFilter : public GPXFilter {
  public:
    GPXTwoPassFilter(std::string firstStageVertexShaderString, std::string firstStageFragmentShaderString,
                     std::string secondStageVertexShaderString, std::string secondStageFragmentShaderString);
    // The default vertex text for both stages.
    GPXTwoPassFilter(std::string firstStageFragmentShaderString, std::string secondStageFragmentShaderString);
    void didInit() override;

    virtual void initializeSecondaryAttributes();

    Ref<GPXFramebuffer> framebufferForOutput() override;
    void removeOutputFramebuffer() override;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;

    void setAndExecuteUniformStateCallbackAtIndex(GLint uniform, const Ref<GLProgram>& shaderProgram,
                                                  std::function<void()> uniformStateBlock) override;
    void setUniformsForProgramAtIndex(unsigned programIndex) override;

    // nullptr when it failed to link.
    Ref<GLProgram> secondFilterProgram() const { return secondFilterProgram_; }

    std::string className() const override { return "GPXTwoPassFilter"; }

  protected:
    // Both draws, once the input and programs are known to be there: the first into a framebuffer
    // of firstPassSize, the second into one of size. The input is given back after the first.
    void renderPasses(const GLfloat* vertices, const GLfloat* textureCoordinates, CGSize firstPassSize,
                      CGSize size);
    // Takes the program pair of a stage from the cache, links it when new, and looks up the
    // locations; false (after the usual logs and report) when it does not link. On the queue.
    bool prepareSecondProgram(const std::string& vertexShaderString, const std::string& fragmentShaderString);

    // Touched on the shared context queue only.
    Ref<GPXFramebuffer> secondOutputFramebuffer_;
    Ref<GLProgram> secondFilterProgram_;
    GLint secondFilterPositionAttribute_ = 0;
    GLint secondFilterTextureCoordinateAttribute_ = 1;
    GLint secondFilterInputTextureUniform_ = -1;
    GLint secondFilterInputTextureUniform2_ = -1;
    std::map<GLint, std::function<void()>> secondProgramUniformStateRestorationBlocks_;

  private:
    std::string secondStageVertexShaderString_;
    std::string secondStageFragmentShaderString_;
};

namespace detail {
// Links a program fresh from the cache after `registerAttributes` has named its attributes; on
// failure writes the three logs and reports "Filter shader link failed". On the queue.
bool linkFilterProgram(const Ref<GLProgram>& program, const std::function<void()>& registerAttributes);
}  // namespace detail
