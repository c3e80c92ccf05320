#include "gpu/filters/GPXHistogramEqualizationFilter.h"

#include <cstdint>
#include <string>

namespace {

// The table is 256 texels wide: value v is read at the centre of texel v. The value is rounded
// to its byte first, so that a sample read at low precision still finds its own entry.
constexpr const char* kEqualizationHead = R"(varying highp vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
highp vec2 tableCoordinate(highp float value)
{
    return vec2((floor(value * 255.0 + 0.5) + 0.5) / 256.0, 0.5);
}
)";

std::string equalizationShader(HistogramType type) {
    std::string body;
    switch (type) {
        case kGPXHistogramRed:
            body = R"(void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    lowp float redCurveValue = texture2D(inputImageTexture2, tableCoordinate(textureColor.r)).r;
    gl_FragColor = vec4(redCurveValue, textureColor.g, textureColor.b, textureColor.a);
}
)";
            break;
        case kGPXHistogramGreen:
            body = R"(void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    lowp float greenCurveValue = texture2D(inputImageTexture2, tableCoordinate(textureColor.g)).g;
    gl_FragColor = vec4(textureColor.r, greenCurveValue, textureColor.b, textureColor.a);
}
)";
            break;
        case kGPXHistogramBlue:
            body = R"(void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    lowp float blueCurveValue = texture2D(inputImageTexture2, tableCoordinate(textureColor.b)).b;
    gl_FragColor = vec4(textureColor.r, textureColor.g, blueCurveValue, textureColor.a);
}
)";
            break;
        case kGPXHistogramLuminance:
            body = R"(const lowp vec3 W = vec3(0.2125, 0.7154, 0.0721);
void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    lowp float luminance = dot(textureColor.rgb, W);
    lowp float newLuminance = texture2D(inputImageTexture2, tableCoordinate(luminance)).r;
    lowp float deltaLuminance = newLuminance - luminance;
    gl_FragColor = vec4(clamp(textureColor.rgb + deltaLuminance, 0.0, 1.0), textureColor.a);
}
)";
            break;
        default:
            body = R"(void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    lowp float redCurveValue = texture2D(inputImageTexture2, tableCoordinate(textureColor.r)).r;
    lowp float greenCurveValue = texture2D(inputImageTexture2, tableCoordinate(textureColor.g)).g;
    lowp float blueCurveValue = texture2D(inputImageTexture2, tableCoordinate(textureColor.b)).b;
    gl_FragColor = vec4(redCurveValue, greenCurveValue, blueCurveValue, textureColor.a);
}
)";
            break;
    }
    return std::string(kEqualizationHead) + body;
}

bool validType(HistogramType type) {
    return type >= kGPXHistogramRed && type <= kGPXHistogramLuminance;
}

}  // namespace

GPXHistogramEqualizationFilter::GPXHistogramEqualizationFilter(HistogramType newHistogramType)
    : histogramType_(validType(newHistogramType) ? newHistogramType : kGPXHistogramRGB) {}

void GPXHistogramEqualizationFilter::didInit() {
    histogramFilter_ = make<GPXHistogramFilter>(histogramType_);
    addFilter(histogramFilter_);

    rawDataOutputFilter_ = make<GPXRawDataOutput>(CGSizeMake(256, 3), true);
    histogramFilter_->addTarget(rawDataOutputFilter_);

    const std::array<GLubyte, 1024> placeholder{};
    rawDataInputFilter_ =
        make<GPXRawDataInput>(placeholder.data(), CGSizeMake(256, 1), GL_BGRA, GL_UNSIGNED_BYTE);

    equalizationFilter_ = make<GPXTwoInputFilter>(equalizationShader(histogramType_));
    addFilter(equalizationFilter_);
    rawDataInputFilter_->addTargetAtTextureLocation(equalizationFilter_, 1);

    // The output holds the callback and the group holds the output: only a weak way back.
    Weak<GPXHistogramEqualizationFilter> weakSelf = selfAs<GPXHistogramEqualizationFilter>();
    rawDataOutputFilter_->setNewFrameAvailableBlock([weakSelf] {
        if (auto filter = weakSelf.lock()) filter->updateTable();
    });

    // The histogram first: the table of a frame is uploaded before that frame reaches the map.
    setInitialFilters({histogramFilter_, equalizationFilter_});
    setTerminalFilter(equalizationFilter_);
    setDownsamplingFactor(16);
}

void GPXHistogramEqualizationFilter::setDownsamplingFactor(unsigned newValue) {
    downsamplingFactor_.store(newValue);
    if (histogramFilter_) histogramFilter_->setDownsamplingFactor(newValue);
}

std::array<GLubyte, 1024> GPXHistogramEqualizationFilter::equalizationTable(const GLubyte* histogramBytes) {
    // The counts are on the middle row: skip the bottom one.
    const GLubyte* counts = histogramBytes + 256 * 4;
    std::array<std::array<std::uint32_t, 256>, 3> cumulative{};
    for (int c = 0; c < 3; ++c) {
        std::uint32_t sum = 0;
        for (int x = 0; x < 256; ++x) {
            sum += counts[x * 4 + c];
            cumulative[c][x] = sum;
        }
    }
    std::array<GLubyte, 1024> table{};
    for (int x = 0; x < 256; ++x) {
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t total = cumulative[c][255];
            table[x * 4 + c] =
                total == 0 ? 0 : static_cast<GLubyte>((cumulative[c][x] - cumulative[c][0]) * 255 / total);
        }
        table[x * 4 + 3] = 255;
    }
    return table;
}

void GPXHistogramEqualizationFilter::updateTable() {
    const GLubyte* histogram = rawDataOutputFilter_->rawBytesForImage();
    if (!histogram) return;
    const auto table = equalizationTable(histogram);
    rawDataInputFilter_->updateDataFromBytes(table.data(), CGSizeMake(256, 1));
    rawDataInputFilter_->processData();
}
