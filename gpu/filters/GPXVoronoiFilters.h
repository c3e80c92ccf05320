#pragma once
// Cells: the jump-flooding filter spreads seed positions over a square power-of-two texture so
// that every texel names its nearest seed; the consumer colours a picture by those cells; the
// mosaic replaces each display tile of a picture by a tile of a tile-set picture picked by the
// tile's darkness.
//
// A texel names a position through its channels (as the shader sees them, 0-1): z = blue x 256,
// x = red x 256 + (z mod 8) x 256, y = green x 256 + floor(z / 8) x 256, divided by the texture
// size; alpha 1 carries a position, alpha 0 means no seed yet.

#include <atomic>
#include <mutex>

#include "gpu/core/GPXPicture.h"
#include "gpu/core/GPXTwoInputFilter.h"

namespace detail {
// Whether a point texture of this size is usable (square, a power of two); logs why not with the
// given power-of-two message text.
bool validVoronoiSize(CGSize size, const char* powerOfTwoMessage);
}  // namespace detail

class GPXJFAVoronoiFilter : public GPXFilter {
  public:
    GPXJFAVoronoiFilter();
    ~GPXJFAVoronoiFilter() override;
    void didInit() override;

    void setSizeInPixels(CGSize newValue);
    CGSize sizeInPixels();
    static unsigned nextPowerOfTwo(CGPoint input);
    // The flooding steps after the first pass: log2 of the power-of-two point-texture size.
    unsigned numPasses();

    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    std::string className() const override { return "GPXJFAVoronoiFilter"; }

  private:
    GLint sampleStepUniform_ = -1, sizeUniform_ = -1;
    // On the shared context queue only.
    CGSize sizeInPixels_ = CGSizeZero;
    unsigned numPasses_ = 0;
    int currentPass_ = 0;
};

// First input: the picture to colour; second: the Voronoi map. Each texel takes the picture's
// colour at the position its map texel names.
class GPXVoronoiConsumerFilter : public GPXTwoInputFilter {
  public:
    GPXVoronoiConsumerFilter();
    void didInit() override;
    void setSizeInPixels(CGSize newValue);
    CGSize sizeInPixels() const;
    std::string className() const override { return "GPXVoronoiConsumerFilter"; }

  private:
    GLint sizeUniform_ = -1;
    mutable std::mutex mutex_;
    CGSize sizeInPixels_ = CGSizeZero;
};

// First input: the tile set (set with setTileSet from an image of the application bundle);
// second: the picture to render as a mosaic.
class GPXMosaicFilter : public GPXTwoInputFilter {
  public:
    GPXMosaicFilter();
    void didInit() override;
    // Each component clamped to 0-1.
    void setInputTileSize(CGSize newValue);
    CGSize inputTileSize() const;
    void setDisplayTileSize(CGSize newValue);
    CGSize displayTileSize() const;
    void setNumTiles(double newValue);
    double numTiles() const { return numTiles_.load(); }
    void setColorOn(bool newValue);
    bool colorOn() const { return colorOn_.load(); }
    // Loads the named bundle image as the tile set and processes it once; nothing happens (with a
    // log) when no such image exists.
    void setTileSet(const std::string& newValue);
    std::string tileSet() const;
    std::string className() const override { return "GPXMosaicFilter"; }

  private:
    GLint inputTileSizeUniform_ = -1, displayTileSizeUniform_ = -1, numTilesUniform_ = -1,
          colorOnUniform_ = -1;
    mutable std::mutex mutex_;
    CGSize inputTileSize_ = CGSizeMake(0.125, 0.125), displayTileSize_ = CGSizeMake(0.025, 0.025);
    std::atomic<double> numTiles_{64.0};
    std::atomic<bool> colorOn_{true};
    std::string tileSet_;
    Ref<GPXPicture> pic_;
};
