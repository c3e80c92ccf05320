#include "gpu/core/GPXMonochromeFilter.h"

#include "gpu/core/GPXContext.h"

GPXMonochromeFilter::GPXMonochromeFilter() : GPXFilter(kGPXMonochromeFragmentShaderString) {}

void GPXMonochromeFilter::didInit() {
    GPXFilter::didInit();
    if (filterProgram_) {
        performSyncOnSharedContextQueue([this] {
            intensityUniform_ = static_cast<GLint>(filterProgram_->uniformIndex("intensity"));
            filterColorUniform_ = static_cast<GLint>(filterProgram_->uniformIndex("filterColor"));
        });
    }
    setIntensity(1.0);
    setColor(GPUVector4{0.6f, 0.45f, 0.3f, 1.0f});
}

void GPXMonochromeFilter::setColor(GPUVector4 color) {
    {
        std::lock_guard lock(valuesMutex_);
        color_ = color;
    }
    setColorRed(color.one, color.two, color.three);
}

GPUVector4 GPXMonochromeFilter::color() const {
    std::lock_guard lock(valuesMutex_);
    return color_;
}

void GPXMonochromeFilter::setColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent) {
    setVec3(GPUVector3{redComponent, greenComponent, blueComponent}, filterColorUniform_, filterProgram_);
}

void GPXMonochromeFilter::setIntensity(double intensity) {
    {
        std::lock_guard lock(valuesMutex_);
        intensity_ = intensity;
    }
    setFloat(static_cast<GLfloat>(intensity), intensityUniform_, filterProgram_);
}

double GPXMonochromeFilter::intensity() const {
    std::lock_guard lock(valuesMutex_);
    return intensity_;
}
