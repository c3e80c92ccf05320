#pragma once
// Whether a label shows its whole text, judged from pictures as a person would: a label with the
// same text, style and size draws the same pixels as one with room to spare on both sides, and
// that roomier one draws nothing past the first one's edges. A label cut short ("…", a line
// wrapped away or dropped, a glyph clipped) draws differently. Header only: the programs that
// include it link the UI layer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/CGImage.h"
#include "graphics/NSParagraphStyle.h"
#include "graphics/UIImage.h"
#include "uikit/UILabel.h"
#include "uikit/UIWindowRenderer.h"

namespace testsupport {

namespace detail_label_pictures {

// The label's text and style in a clear label of the given size.
inline Ref<UILabel> copyOfLabel(const Ref<UILabel>& label, CGSize size) {
    auto copy = make<UILabel>(CGRect{{0, 0}, size});
    copy->setAttributedText(label->attributedText());
    copy->setNumberOfLines(label->numberOfLines());
    copy->setAdjustsFontSizeToFitWidth(label->adjustsFontSizeToFitWidth());
    copy->setMinimumScaleFactor(label->minimumScaleFactor());
    return copy;
}

// Alpha of the picture's pixels, row by row.
inline std::vector<int> alphaOf(const Ref<UIImage>& image, int& width, int& height) {
    CGImageRef cg = image->CGImage();
    width = int(cg->width());
    height = int(cg->height());
    NSData bytes = detail::pixelsAsPremultipliedBGRA(*cg);
    std::vector<int> alpha(std::size_t(width) * std::size_t(height));
    for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = bytes.bytes()[i * 4 + 3];
    return alpha;
}

}  // namespace detail_label_pictures

// One-line labels get the spare room beside the text, wrapping ones above and below it (more
// width would wrap them differently): the first catches an ellipsis or a clipped glyph, the
// second a line dropped for want of height.
inline ::testing::AssertionResult drawsWholeText(const Ref<UILabel>& label) {
    using namespace detail_label_pictures;
    constexpr CGFloat kScale = 2, kSpare = 100;
    if (!label || !label->text() || label->text()->empty())
        return ::testing::AssertionFailure() << "the label has no text";
    const CGSize size = label->bounds().size;
    if (size.width <= 0 || size.height <= 0)
        return ::testing::AssertionFailure() << "the label has no room at all";
    const bool oneLine = label->numberOfLines() == 1;
    auto same = copyOfLabel(label, size);
    auto roomy = copyOfLabel(label, oneLine ? CGSizeMake(size.width + 2 * kSpare, size.height)
                                            : CGSizeMake(size.width, size.height + 2 * kSpare));
    int w = 0, h = 0, rw = 0, rh = 0;
    std::vector<int> shown = alphaOf(UIWindowRenderer::imageOfView(same, kScale), w, h);
    std::vector<int> wide = alphaOf(UIWindowRenderer::imageOfView(roomy, kScale), rw, rh);
    // Where the roomy label puts the text: below the spare room above it (the text is centred
    // vertically), and beside it as the alignment spreads the room.
    int dx = 0, dy = 0;
    if (oneLine) {
        auto style = label->attributedText()
                         ->attributeAtIndex(NSParagraphStyleAttributeName, 0)
                         .objectAs<NSParagraphStyle>();
        NSTextAlignment alignment = style ? style->alignment() : NSTextAlignmentNatural;
        if (alignment == NSTextAlignmentCenter) dx = int(kSpare * kScale);
        if (alignment == NSTextAlignmentRight) dx = int(2 * kSpare * kScale);
    } else {
        dy = int(kSpare * kScale);
    }
    const std::string where =
        " in a label of " + NSStringFromCGRect(label->frame()) + " showing \"" + *label->text() + "\"";
    int ink = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int a = shown[std::size_t(y) * w + x];
            int b = wide[std::size_t(y + dy) * rw + x + dx];
            if (a > 0) ++ink;
            if (std::abs(a - b) > 8)
                return ::testing::AssertionFailure() << "the text is drawn differently with more room, at ("
                                                     << x << ", " << y << ")" << where;
        }
    }
    // A glyph's own overhang aside, the roomy label draws nothing where the first has no room.
    for (int y = 0; y < rh; ++y) {
        for (int x = 0; x < rw; ++x) {
            bool inside = x >= dx - 4 && x < dx + w + 4 && y >= dy - 4 && y < dy + h + 4;
            if (!inside && wide[std::size_t(y) * rw + x] > 0)
                return ::testing::AssertionFailure() << "the text reaches past the label's edge, at ("
                                                     << x - dx << ", " << y - dy << ")" << where;
        }
    }
    if (ink < 20) return ::testing::AssertionFailure() << "almost nothing is drawn" << where;
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport
