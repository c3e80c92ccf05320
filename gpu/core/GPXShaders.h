#pragma once
// The shader texts every filter starts from. A filter made with a fragment text alone pairs it
// with the default vertex text; every filter fragment text reads its input as the sampler
// "inputImageTexture" at the varying "textureCoordinate".

inline constexpr const char* kGPXDefaultVertexShaderString =
    "attribute vec4 position;\n"
    "attribute vec4 inputTextureCoordinate;\n"
    "varying vec2 textureCoordinate;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = position;\n"
    "    textureCoordinate = inputTextureCoordinate.xy;\n"
    "}\n";

inline constexpr const char* kGPXPassthroughFragmentShaderString =
    "varying highp vec2 textureCoordinate;\n"
    "uniform sampler2D inputImageTexture;\n"
    "void main()\n"
    "{\n"
    "    gl_FragColor = texture2D(inputImageTexture, textureCoordinate);\n"
    "}\n";
