#pragma once
// Colour filters whose mapping is a table: the tone curve (natural cubic splines through control
// points, baked into a 256 x 1 texture), levels (input and output ranges with a gamma per
// channel), the lookup filter (a 512 x 512 colour cube picture as its second input) and three
// preset looks built on lookup pictures from the application bundle.
//
// Control points with equal x cannot define a spline (the slope between them divides by zero):
// only the first of such points is kept. A curve value that is not a number counts as 0 when the
// table is baked.

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "foundation/NSURL.h"
#include "gpu/core/GPXFilterGroup.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/core/GPXTwoInputFilter.h"
#include "gpu/filters/GPXACVFile.h"

class GPXToneCurveFilter : public GPXFilter {
  public:
    using Points = std::vector<CGPoint>;
    using Curve = std::optional<std::vector<float>>;

    GPXToneCurveFilter();
    // The four point sets of a curves file; a file without usable curves leaves the identity
    // texture in place.
    explicit GPXToneCurveFilter(const NSData& curveFileData);
    explicit GPXToneCurveFilter(const Ref<NSURL>& curveFileURL);
    // A curves file of the main bundle, "<name>.acv".
    explicit GPXToneCurveFilter(const std::string& curveFileName);
    ~GPXToneCurveFilter() override;
    void didInit() override;

    void setPointsWithACV(const std::string& curveFileName);
    void setPointsWithACVURL(const Ref<NSURL>& curveFileURL);
    void setPointsWithACVData(const NSData& curveFileData);

    // Red, green and blue at once, with one texture update.
    void setRGBControlPoints(const Points& points);
    void setRgbCompositeControlPoints(const Points& points);
    void setRedControlPoints(const Points& points);
    void setGreenControlPoints(const Points& points);
    void setBlueControlPoints(const Points& points);
    Points rgbCompositeControlPoints() const;
    Points redControlPoints() const;
    Points greenControlPoints() const;
    Points blueControlPoints() const;

    // For table index x (0-255), curve(x) - x; nullopt for no points or a single one.
    static Curve getPreparedSplineCurve(const Points& points);
    // The spline through points in 0-255 space (sorted by x), at every integer x; nullopt for
    // fewer than two points.
    static std::optional<std::vector<CGPoint>> splineCurve(const std::vector<CGPoint>& points);
    static std::optional<std::vector<double>> secondDerivative(const std::vector<CGPoint>& points);

    void updateToneCurveTexture();
    // The table as baked, 256 pixels of (blue, green, red, 255); empty before the first bake.
    std::vector<std::uint8_t> toneCurveBytes();

    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    std::string className() const override { return "GPXToneCurveFilter"; }

  private:
    void setPointsFromFile(const Ref<GPXACVFile>& file);

    GLint toneCurveTextureUniform_ = -1;
    mutable std::mutex pointsMutex_;  // guards the points and curves
    Points rgbCompositeControlPoints_, redControlPoints_, greenControlPoints_, blueControlPoints_;
    Curve rgbCompositeCurve_, redCurve_, greenCurve_, blueCurve_;
    // On the queue.
    GLuint toneCurveTexture_ = 0;
    std::vector<std::uint8_t> toneCurveByteArray_;
    Ref<GPXACVFile> initialFile_;
};

// out = mix(minOut, maxOut, pow(min(max(rgb - min, 0) / (max - min), 1), 1 / gamma)) per channel.
class GPXLevelsFilter : public GPXFilter {
  public:
    GPXLevelsFilter();
    void didInit() override;
    void setMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut);
    void setMin(GLfloat min, GLfloat mid, GLfloat max);
    void setRedMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut);
    void setRedMin(GLfloat min, GLfloat mid, GLfloat max);
    void setGreenMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut);
    void setGreenMin(GLfloat min, GLfloat mid, GLfloat max);
    void setBlueMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut);
    void setBlueMin(GLfloat min, GLfloat mid, GLfloat max);
    void updateUniforms();
    std::string className() const override { return "GPXLevelsFilter"; }

  private:
    void setChannel(int channel, GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut);

    GLint minUniform_ = -1, midUniform_ = -1, maxUniform_ = -1, minOutputUniform_ = -1,
          maxOutputUniform_ = -1;
    std::mutex vectorsMutex_;
    GPUVector3 minVector_, midVector_, maxVector_, minOutputVector_, maxOutputVector_;
};

// Maps colours through a 512 x 512 colour cube picture given as the second input: an 8 x 8 grid
// of 64 x 64 tiles, blue choosing the tile, red the column and green the row inside it.
class GPXLookupFilter : public GPXTwoInputFilter {
  public:
    GPXLookupFilter();
    void didInit() override;
    void setIntensity(double newValue);
    double intensity() const;
    std::string className() const override { return "GPXLookupFilter"; }

  private:
    GLint intensityUniform_ = -1;
    std::atomic<double> intensity_{1.0};
};

// A lookup filter fed by one picture of the application bundle.
class GPXVelmarisFilter : public GPXFilterGroup {
  public:
    void didInit();
    std::string className() const override { return "GPXVelmarisFilter"; }

  private:
    Ref<GPXPicture> lookupImageSource_;
};

class GPXTolvennaFilter : public GPXFilterGroup {
  public:
    void didInit();
    std::string className() const override { return "GPXTolvennaFilter"; }

  private:
    Ref<GPXPicture> lookupImageSource_;
};

// A lookup, a soft glow (a blur of it mixed back in), then a second lookup.
class GPXSoftEleganceFilter : public GPXFilterGroup {
  public:
    void didInit();
    std::string className() const override { return "GPXSoftEleganceFilter"; }

  private:
    Ref<GPXPicture> lookupImageSource1_, lookupImageSource2_;
};
