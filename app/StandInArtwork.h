#pragma once
// Drawn stand-ins for the pictures the screens name. The pictures are resources beside the code: a
// picture present in the bundle wins; for a missing one a plain drawn picture of the size the
// screens place it at takes its place, so the screens always have something to show. Each area
// keeps its own table (names overlap between areas with different pictures) and its own look.

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "graphics/CGContext.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIImage.h"

namespace StandInArtwork {

struct Colour {
    CGFloat red, green, blue, alpha = 1;
};

// 0xRRGGBB, each byte over 255.
constexpr Colour hex(unsigned rgb, CGFloat alpha = 1) {
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha};
}

enum class Shape {
    Rect,
    Round,
    Frame,       // filled, then outlined in the style's grey
    Avatar,      // round, with a head and shoulders in white
    MiddleMark,  // only the middle eighth of the width is painted (a tab strip's mark)
};

struct Picture {
    CGSize size;
    Colour fill;
    Shape shape;
    std::string caption = {};  // written across the middle when not empty
    // The image's scale: 2 for the pictures placed at half their pixel size; 0 for the pictures
    // placed at their size and drawn at the screen's scale, to stay sharp on it.
    CGFloat scale = 1;
};

// What differs between the areas' pictures.
struct Style {
    CGFloat largestFont;    // the caption's bold font: the smaller of this
    CGFloat fontPerHeight;  // and this share of the picture's height
    CGFloat frameGrey = 0.7;
    CGFloat frameWidth = 1;
    bool darkCaptionOnLight = false;  // dark grey, not white, on a nearly white fill
};

// `paint` into a fresh transparent image context of `size` at `contextScale` (0: the screen's).
Ref<UIImage> drawImage(CGSize size, CGFloat contextScale, const std::function<void(CGContextRef)>& paint);

// Writes `caption` in the current context, bold at `fontSize` in `colour`, centred in `box`.
void drawCaption(const std::string& caption, CGRect box, CGFloat fontSize, const Ref<UIColor>& colour);
// The same in any font.
void drawText(const std::string& text, CGRect box, const Ref<UIFont>& font, const Ref<UIColor>& colour);

// The caption's font size for a picture of `size` in `style`.
CGFloat captionFontSize(CGSize size, const Style& style);

// A plain picture in the area's style.
Ref<UIImage> draw(const Picture& picture, const Style& style);

// An area's stand-ins by name: UIImage::imageNamed first, else the drawn stand-in, drawn once and
// kept. Thread-safe.
class Library {
  public:
    Library(std::map<std::string, Picture> pictures, Style style);
    // Any artwork type with its own drawing.
    template <class Artwork, class Draw>
    Library(std::map<std::string, Artwork> table, Draw draw)
        : draw_([table = std::move(table), draw = std::move(draw)](const std::string& name) -> Ref<UIImage> {
              auto it = table.find(name);
              if (it == table.end()) return nullptr;
              return draw(it->second);
          }) {}

    // nullptr for a missing name the table does not hold.
    Ref<UIImage> imageNamed(const std::string& name);

  private:
    std::function<Ref<UIImage>(const std::string&)> draw_;
    std::mutex mutex_;
    std::map<std::string, Ref<UIImage>> drawn_;
};

}  // namespace StandInArtwork
