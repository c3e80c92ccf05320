#pragma once
// Histogram equalisation: each frame's histogram (counted on the GPU) is turned on the CPU into a
// 256-entry table that spreads the values by their cumulative share, and the same frame is mapped
// through it. The type chooses what is equalised: red, green or blue alone, the three channels
// each by its own histogram (the default), or the luminance, whose change shifts all three
// channels alike.
//
// The table is read at the centre of each entry, so a value maps to its own entry and not to a
// blend with its neighbour's. Before the first histogram the table is all zeros. A frame's table
// is built from every `downsamplingFactor`th pixel (default 16), each bin counting up to 255.

#include <array>
#include <atomic>

#include "gpu/core/GPXFilterGroup.h"
#include "gpu/core/GPXRawDataInput.h"
#include "gpu/core/GPXRawDataOutput.h"
#include "gpu/core/GPXTwoInputFilter.h"
#include "gpu/filters/GPXHistogramFilter.h"

class GPXHistogramEqualizationFilter : public GPXFilterGroup {
  public:
    GPXHistogramEqualizationFilter() : GPXHistogramEqualizationFilter(kGPXHistogramRGB) {}
    // Types outside 0-4 equalise the three channels, as type 3.
    explicit GPXHistogramEqualizationFilter(HistogramType newHistogramType);
    void didInit();

    void setDownsamplingFactor(unsigned newValue);
    unsigned downsamplingFactor() const { return downsamplingFactor_.load(); }
    std::string className() const override { return "GPXHistogramEqualizationFilter"; }

    Ref<GPXHistogramFilter> histogramFilter() const { return histogramFilter_; }
    Ref<GPXRawDataOutput> rawDataOutputFilter() const { return rawDataOutputFilter_; }
    Ref<GPXRawDataInput> rawDataInputFilter() const { return rawDataInputFilter_; }

    // The table for a histogram read back as 256 x 3 BGRA pixels, rows from the bottom (the
    // counts are on the middle row): 256 BGRA pixels, each channel mapped by its own counts.
    static std::array<GLubyte, 1024> equalizationTable(const GLubyte* histogramBytes);

  private:
    void updateTable();

    HistogramType histogramType_;
    std::atomic<unsigned> downsamplingFactor_{16};
    Ref<GPXHistogramFilter> histogramFilter_;
    Ref<GPXRawDataOutput> rawDataOutputFilter_;
    Ref<GPXRawDataInput> rawDataInputFilter_;
    Ref<GPXTwoInputFilter> equalizationFilter_;
};
