#pragma once
// Draws a bar chart from 256-bin histogram data (a histogram filter's output): each output column
// shows the red, green and blue bars of the bin under it, rising from the bottom edge, over a
// background colour (default transparent). Where bars overlap their colours add.

#include "gpu/core/GPXFilter.h"

class GPXHistogramGenerator : public GPXFilter {
  public:
    GPXHistogramGenerator();
    void didInit() override;
    void setBackgroundColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent,
                               GLfloat alphaComponent);
    std::string className() const override { return "GPXHistogramGenerator"; }

  private:
    GLint backgroundColorUniform_ = -1;
};
