#pragma once
// A web page laid out and drawn: HTML and CSS by the layout engine (litehtml), text by pango in
// the platform's real font, pictures, backgrounds and borders on cairo.
//
// Main thread (or any one thread at a time). No network: everything the page needs from outside
// comes through Resources, synchronously, from what the caller already has.

#include <cairo.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graphics/CGGeometry.h"
#include "graphics/CGImage.h"
#include "graphics/UIColor.h"

namespace detail {
class WebContainer;
}

class WebDocument {
  public:
    struct Resources {
        // The text of a stylesheet by absolute URL, or nullopt when it is not (yet) in or failed.
        std::function<std::optional<std::string>(const std::string& url)> stylesheet;
        // A decoded picture by absolute URL, or null when it is not (yet) in, not decoded or
        // failed. Asked once per layout, and again each time the picture is drawn: what it
        // answers then is drawn, so a picture that comes or is decoded after the layout shows in
        // the next draw (a caller may decode it as it is asked while drawing).
        std::function<Ref<CGImage>(const std::string& url)> image;
        // The natural size of a picture that is in, decoded or not (it may be decoded smaller
        // than it is shown, or later); when not given (or nullopt), the decoded picture's own
        // size. Asked once per layout.
        std::function<std::optional<CGSize>(const std::string& url)> imageSize;
    };

    // The box a picture (<img>) is laid out in, the largest over the elements showing it, in
    // CSS px: a side is 0 where no element gives it a size (attribute or style), and `ownSize`
    // tells that some element shows the picture at its own size. `sizedByPicture`: some element
    // leaves one side or both to the picture, so that its natural size changes the layout.
    struct PictureBox {
        CGFloat width = 0, height = 0;
        bool ownSize = false;
        bool sizedByPicture = false;
    };

    // Parses the page (UTF-8). Never throws; malformed HTML is read as a browser reads it;
    // nesting, size and work are bounded (see WebPageSource.h: the page past a bound is dropped).
    // baseURL may be empty (then relative URLs stay unresolved and are not asked for).
    static std::unique_ptr<WebDocument> create(const std::string& html, const std::string& baseURL,
                                               Resources resources);
    // The stylesheets a page links (<link rel=stylesheet href>, and @import in its <style>
    // elements), absolute, as create() would resolve them (against the page's <base href>), in
    // the page's order and without duplicates, found by a scan of its tags: neither parsed nor
    // styled. At most `most` of them. A page's own text may hide or add a sheet the scan does not
    // see as the parser would (a link inside a comment-like construct): create() lists the sheets
    // it really asks for.
    static std::vector<std::string> linkedStylesheetURLs(const std::string& html, const std::string& baseURL,
                                                         std::size_t most);
    ~WebDocument();
    WebDocument(const WebDocument&) = delete;
    WebDocument& operator=(const WebDocument&) = delete;

    // Absolute URLs of every stylesheet (<link rel="stylesheet">, @import) and every picture
    // (<img src>, CSS background images) the page asked for so far, in first-asked order,
    // without duplicates. A picture's data: URL is listed (and handed to Resources) whole, as the
    // page wrote it, never resolved against the base. A caller fetches those it lacks, then calls create()
    // again (for stylesheets: new @imports may appear) or layout() again (for pictures).
    const std::vector<std::string>& stylesheetURLs() const;
    const std::vector<std::string>& imageURLs() const;

    // Lays the page out at a width in points (CSS px == points) and returns the content size:
    // width at least `width`, height of the laid-out document (at least 1). Pictures that were
    // missing are asked for again.
    CGSize layout(CGFloat width);
    // The boxes of the pictures of <img> elements by absolute URL, as last laid out; a picture
    // shown otherwise (a CSS background, a list marker) has none.
    const std::map<std::string, PictureBox>& pictureBoxes() const;
    // The picture at `url` (as handed to Resources) came, was decoded again or was let go: what
    // the document keeps of its pixels to draw it is let go, and it is asked for afresh.
    void pictureChanged(const std::string& url);
    // Draws the document area `rect` (document coordinates) into `cr`, whose user space is the
    // document's (the caller translates for the scroll offset and scales for the screen).
    // Paints the page's own canvas (see canvasColor) when it has one, never a default one.
    void draw(cairo_t* cr, CGRect rect);
    // The page's own canvas colour (the root element's background, else body's, as CSS
    // propagates it), or null when the page sets none.
    Ref<UIColor> canvasColor() const;
    // The absolute URL of the link (<a href>) under a point in document coordinates, if any.
    std::optional<std::string> linkAt(CGPoint point) const;

  private:
    WebDocument();
    std::unique_ptr<detail::WebContainer> container_;
};
