#include "gpu/media/GPXMediaShaders.h"

#include "foundation/NSLog.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXShaders.h"

const GLfloat conversionMatrixBT601Video[9] = {1.164f, 1.164f, 1.164f,  0.0f, -0.392f,
                                               2.017f, 1.596f, -0.813f, 0.0f};
const GLfloat conversionMatrixBT709Video[9] = {1.164f, 1.164f, 1.164f,  0.0f, -0.213f,
                                               2.112f, 1.793f, -0.533f, 0.0f};
const GLfloat conversionMatrixBT601Full[9] = {1.0f, 1.0f, 1.0f, 0.0f, -0.343f, 1.765f, 1.4f, -0.711f, 0.0f};

const char* const kGPXYUVVideoRangeConversionForLAFragmentShaderString =
    "varying highp vec2 textureCoordinate;\n"
    "uniform sampler2D luminanceTexture;\n"
    "uniform sampler2D chrominanceTexture;\n"
    "uniform mediump mat3 colorConversionMatrix;\n"
    "void main()\n"
    "{\n"
    "    mediump vec3 yuv;\n"
    "    yuv.x = texture2D(luminanceTexture, textureCoordinate).r - (16.0/255.0);\n"
    "    yuv.yz = texture2D(chrominanceTexture, textureCoordinate).ra - vec2(0.5, 0.5);\n"
    "    lowp vec3 rgb = colorConversionMatrix * yuv;\n"
    "    gl_FragColor = vec4(rgb, 1);\n"
    "}\n";

const char* const kGPXYUVFullRangeConversionForLAFragmentShaderString =
    "varying highp vec2 textureCoordinate;\n"
    "uniform sampler2D luminanceTexture;\n"
    "uniform sampler2D chrominanceTexture;\n"
    "uniform mediump mat3 colorConversionMatrix;\n"
    "void main()\n"
    "{\n"
    "    mediump vec3 yuv;\n"
    "    yuv.x = texture2D(luminanceTexture, textureCoordinate).r;\n"
    "    yuv.yz = texture2D(chrominanceTexture, textureCoordinate).ra - vec2(0.5, 0.5);\n"
    "    lowp vec3 rgb = colorConversionMatrix * yuv;\n"
    "    gl_FragColor = vec4(rgb, 1);\n"
    "}\n";

namespace detail {

Ref<GLProgram> linkedProgram(const Ref<GLProgram>& program) {
    if (!program) return nullptr;
    if (program->initialized()) return program;
    program->addAttribute("position");
    program->addAttribute("inputTextureCoordinate");
    if (!program->link()) {
        NSLogLine("Program link log: " + program->programLog().value_or("(null)"));
        NSLogLine("Fragment shader compile log: " + program->fragmentShaderLog().value_or("(null)"));
        NSLogLine("Vertex shader compile log: " + program->vertexShaderLog().value_or("(null)"));
        gpxAssertionFailure("Filter shader link failed");
        return nullptr;
    }
    return program;
}

const GLfloat* conversionMatrixForBuffer(const CVPixelBufferRef& buffer, bool fullRange) {
    const Value matrix = CVBufferGetAttachment(buffer, kCVImageBufferYCbCrMatrixKey);
    if (matrix.isString() && *matrix.string() != kCVImageBufferYCbCrMatrix_ITU_R_601_4)
        return conversionMatrixBT709Video;
    return fullRange ? conversionMatrixBT601Full : conversionMatrixBT601Video;
}

void YUVConversion::prepare(const char* fragmentShaderString) {
    program = linkedProgram(GPXContext::sharedImageProcessingContext()->programForVertexShaderString(
        kGPXDefaultVertexShaderString, fragmentShaderString));
    if (!program) return;
    positionAttribute = static_cast<GLint>(program->attributeIndex("position"));
    textureCoordinateAttribute = static_cast<GLint>(program->attributeIndex("inputTextureCoordinate"));
    luminanceTextureUniform = static_cast<GLint>(program->uniformIndex("luminanceTexture"));
    chrominanceTextureUniform = static_cast<GLint>(program->uniformIndex("chrominanceTexture"));
    matrixUniform = static_cast<GLint>(program->uniformIndex("colorConversionMatrix"));
    GPXContext::setActiveShaderProgram(program);
    glEnableVertexAttribArray(static_cast<GLuint>(positionAttribute));
    glEnableVertexAttribArray(static_cast<GLuint>(textureCoordinateAttribute));
}

void YUVConversion::draw(const GLfloat* conversionMatrix, const GLfloat* vertices,
                         const GLfloat* textureCoordinates) const {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUniform1i(luminanceTextureUniform, 4);
    glUniform1i(chrominanceTextureUniform, 5);
    glUniformMatrix3fv(matrixUniform, 1, GL_FALSE, conversionMatrix);
    glVertexAttribPointer(static_cast<GLuint>(positionAttribute), 2, GL_FLOAT, GL_FALSE, 0, vertices);
    glVertexAttribPointer(static_cast<GLuint>(textureCoordinateAttribute), 2, GL_FLOAT, GL_FALSE, 0,
                          textureCoordinates);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

}  // namespace detail
