#include "gpu/filters/GPXMorphologyFilters.h"

namespace {

const char* const kStepNames[] = {"one", "two", "three", "four"};

std::string coordinateName(unsigned step, bool positive) {
    return std::string(kStepNames[step - 1]) + (step == 1 ? "Step" : "Steps") +
           (positive ? "Positive" : "Negative") + "TextureCoordinate";
}

}  // namespace

namespace detail {

unsigned morphologyShaderRadius(unsigned radius) {
    if (radius <= 1) return 1;
    if (radius == 2 || radius == 3) return radius;
    return 4;
}

std::string morphologyVertexShader(unsigned radius) {
    std::string text = "attribute vec4 position;\n"
                       "attribute vec2 inputTextureCoordinate;\n"
                       "uniform float texelWidthOffset;\n"
                       "uniform float texelHeightOffset;\n"
                       "varying vec2 centerTextureCoordinate;\n";
    for (unsigned k = 1; k <= radius; ++k)
        text +=
            "varying vec2 " + coordinateName(k, true) + ";\nvarying vec2 " + coordinateName(k, false) + ";\n";
    text += "void main()\n{\n"
            "    gl_Position = position;\n"
            "    vec2 offset = vec2(texelWidthOffset, texelHeightOffset);\n"
            "    centerTextureCoordinate = inputTextureCoordinate;\n";
    for (unsigned k = 1; k <= radius; ++k) {
        const std::string factor = std::to_string(k) + ".0";
        text += "    " + coordinateName(k, false) + " = inputTextureCoordinate - offset * " + factor + ";\n";
        text += "    " + coordinateName(k, true) + " = inputTextureCoordinate + offset * " + factor + ";\n";
    }
    return text + "}\n";
}

std::string morphologyFragmentShader(unsigned radius, MorphologyFold fold) {
    const bool rgb = fold == MorphologyFold::rgbDilation || fold == MorphologyFold::rgbErosion;
    const bool dilate = fold == MorphologyFold::dilation || fold == MorphologyFold::rgbDilation;
    const std::string type = rgb ? "lowp vec4" : "lowp float";
    const std::string read = rgb ? ")" : ").r";
    const std::string fold_ = dilate ? "max" : "min";
    std::string text = rgb ? "precision highp float;\n" : "precision lowp float;\n";
    text += "varying vec2 centerTextureCoordinate;\n";
    for (unsigned k = 1; k <= radius; ++k)
        text +=
            "varying vec2 " + coordinateName(k, true) + ";\nvarying vec2 " + coordinateName(k, false) + ";\n";
    text += "uniform sampler2D inputImageTexture;\nvoid main()\n{\n";
    text += "    " + type + " result = texture2D(inputImageTexture, centerTextureCoordinate" + read + ";\n";
    for (unsigned k = 1; k <= radius; ++k) {
        for (bool positive : {true, false})
            text += "    result = " + fold_ + "(result, texture2D(inputImageTexture, " +
                    coordinateName(k, positive) + read + ");\n";
    }
    text += rgb ? "    gl_FragColor = result;\n" : "    gl_FragColor = vec4(vec3(result), 1.0);\n";
    return text + "}\n";
}

}  // namespace detail

GPXMorphologyFilterBase::GPXMorphologyFilterBase(unsigned radius, detail::MorphologyFold fold)
    : GPXTwoPassTextureSamplingFilter(
          detail::morphologyVertexShader(detail::morphologyShaderRadius(radius)),
          detail::morphologyFragmentShader(detail::morphologyShaderRadius(radius), fold),
          detail::morphologyVertexShader(detail::morphologyShaderRadius(radius)),
          detail::morphologyFragmentShader(detail::morphologyShaderRadius(radius), fold)),
      radius_(detail::morphologyShaderRadius(radius)) {}
