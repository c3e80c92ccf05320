#pragma once
// What the filter families share: uniform lookups on the context queue and the boilerplate of a
// scalar parameter (a stored value plus a uniform, sent on every change).

#include <atomic>
#include <string>

#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFilter.h"

namespace detail {

// The location of a uniform in a program, looked up on the shared context queue; -1 when the
// program is missing or has no such active uniform.
inline GLint uniformLocation(const Ref<GLProgram>& program, const std::string& name) {
    GLint location = -1;
    if (!program) return location;
    performSyncOnSharedContextQueue([&] { location = static_cast<GLint>(program->uniformIndex(name)); });
    return location;
}

inline GLint uniformLocation(const GPXFilter& filter, const std::string& name) {
    return uniformLocation(filter.filterProgram(), name);
}

// The shaders' common head: the input sampler at the pixel's texture coordinate.
inline constexpr const char* kFilterShaderHead = "varying highp vec2 textureCoordinate;\n"
                                                 "uniform sampler2D inputImageTexture;\n";

// The vertex stage of the one-direction nine-tap samplers: blurCoordinates[0] to [8] step by the
// texel offsets from four behind the pixel to four ahead, blurCoordinates[4] being the pixel.
inline constexpr const char* kNineTapVertexShader = R"(attribute vec4 position;
attribute vec4 inputTextureCoordinate;
uniform float texelWidthOffset;
uniform float texelHeightOffset;
varying vec2 textureCoordinate;
varying vec2 blurCoordinates[9];
void main()
{
    gl_Position = position;
    textureCoordinate = inputTextureCoordinate.xy;
    vec2 singleStepOffset = vec2(texelWidthOffset, texelHeightOffset);
    for (int i = 0; i < 9; i++) {
        blurCoordinates[i] = inputTextureCoordinate.xy + float(i - 4) * singleStepOffset;
    }
}
)";

// A shader text from its parts (appended, not added, which keeps one compiler's bounds warnings
// away).
inline std::string shaderText(std::initializer_list<const char*> parts) {
    std::string text;
    for (const char* part : parts) text.append(part);
    return text;
}

}  // namespace detail

// Defines the getter and setter of a scalar parameter whose value lives in `field` (an atomic
// double) and goes to the uniform at `location` as a float.
#define GPX_DEFINE_FLOAT_PARAMETER(Class, getter, setter, field, location)                                   \
    void Class::setter(double newValue) {                                                                    \
        field.store(newValue);                                                                               \
        setFloat(static_cast<GLfloat>(newValue), location, filterProgram_);                                  \
    }                                                                                                        \
    double Class::getter() const {                                                                           \
        return field.load();                                                                                 \
    }
