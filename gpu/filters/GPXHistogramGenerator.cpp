#include "gpu/filters/GPXHistogramGenerator.h"

#include "gpu/filters/GPXFilterSupport.h"

GPXHistogramGenerator::GPXHistogramGenerator()
    : GPXFilter(R"(attribute vec4 position;
attribute vec4 inputTextureCoordinate;
varying vec2 textureCoordinate;
varying float height;
void main()
{
    gl_Position = position;
    // Every column reads the middle row of the data at its own position.
    textureCoordinate = vec2(inputTextureCoordinate.x, 0.5);
    height = 1.0 - inputTextureCoordinate.y;
}
)",
                R"(varying highp vec2 textureCoordinate;
varying highp float height;
uniform sampler2D inputImageTexture;
uniform lowp vec4 backgroundColor;
void main()
{
    lowp vec3 colorChannels = texture2D(inputImageTexture, textureCoordinate).rgb;
    lowp vec4 heightTest = vec4(step(height, colorChannels), 1.0);
    gl_FragColor = mix(backgroundColor, heightTest, heightTest.r + heightTest.g + heightTest.b);
}
)") {}

void GPXHistogramGenerator::didInit() {
    GPXFilter::didInit();
    backgroundColorUniform_ = detail::uniformLocation(*this, "backgroundColor");
    setBackgroundColorRed(0.0f, 0.0f, 0.0f, 0.0f);
}

void GPXHistogramGenerator::setBackgroundColorRed(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
    setVec4({red, green, blue, alpha}, backgroundColorUniform_, filterProgram_);
}
