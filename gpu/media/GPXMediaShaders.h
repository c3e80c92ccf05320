#pragma once
// What the pipeline's media sources and sinks share: the YUV-to-RGB conversion (shaders and
// matrices), the display's texture coordinates, and program linking with the pipeline's logs.

#include <string>
#include <vector>

#include "gles/OpenGLES.h"
#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXInput.h"
#include "media/CVPixelBuffer.h"

// 3x3 matrices given column by column, as glUniformMatrix3fv takes them untransposed.
extern const GLfloat conversionMatrixBT601Video[9];
extern const GLfloat conversionMatrixBT709Video[9];
extern const GLfloat conversionMatrixBT601Full[9];

extern const char* const kGPXYUVVideoRangeConversionForLAFragmentShaderString;
extern const char* const kGPXYUVFullRangeConversionForLAFragmentShaderString;

namespace detail {
// The cached program for the two texts, linked with the attributes "position" and
// "inputTextureCoordinate" when new. On failure logs the three logs, reports "Filter shader link
// failed" and answers nullptr. On the shared context queue (or the context's own).
Ref<GLProgram> linkedProgram(const Ref<GLProgram>& program);
// The matrix a frame's YCbCr attachment calls for.
const GLfloat* conversionMatrixForBuffer(const CVPixelBufferRef& buffer, bool fullRange);

// The YUV-to-RGB program of a source that takes frames as luminance and chrominance planes, with
// its locations. On the shared context queue, in its context.
struct YUVConversion {
    Ref<GLProgram> program;
    GLint positionAttribute = 0, textureCoordinateAttribute = 0;
    GLint luminanceTextureUniform = 0, chrominanceTextureUniform = 0, matrixUniform = 0;

    // The default vertex text with the fragment text: linked, its locations looked up and its
    // attributes enabled. Leaves program nullptr when it does not link.
    void prepare(const char* fragmentShaderString);
    // Draws the planes at units 4 and 5 through the matrix into the active framebuffer, cleared to
    // black first; the program must be the active one.
    void draw(const GLfloat* conversionMatrix, const GLfloat* vertices,
              const GLfloat* textureCoordinates) const;
};
}  // namespace detail
