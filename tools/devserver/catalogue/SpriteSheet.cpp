#include "SpriteSheet.h"

#include <algorithm>

namespace devserver::catalogue {

namespace {

Dictionary rectDictionary(const PixelRect& r) {
    Dictionary d;
    d.setObject("x", r.x);
    d.setObject("y", r.y);
    d.setObject("w", r.w);
    d.setObject("h", r.h);
    return d;
}

Dictionary sizeDictionary(int w, int h) {
    Dictionary d;
    d.setObject("w", w);
    d.setObject("h", h);
    return d;
}

}  // namespace

SpriteSheet packSpriteSheet(const std::vector<SheetInput>& inputs, const PackingOptions& options) {
    const int padding = std::max(options.padding, 0);
    const int shelfWidth = std::max({options.shelfWidth, options.exactWidth, 1});

    struct Placed {
        Picture upright;
        PixelRect bounds;
    };
    std::vector<Placed> trimmed;
    trimmed.reserve(inputs.size());
    SpriteSheet result;
    int x = 0, y = 0, shelfHeight = 0, usedWidth = 0;
    for (const SheetInput& input : inputs) {
        PixelRect bounds = opaqueBounds(input.canvas);
        Picture upright;
        if (bounds.empty()) {
            // Nothing drawn: one transparent pixel keeps the entry well formed.
            bounds = {0, 0, 1, 1};
            upright = Picture(1, 1);
        } else {
            upright = crop(input.canvas, bounds);
        }
        SheetFrame frame;
        frame.filename = input.filename;
        frame.rotated = input.rotate;
        frame.trimmed = !(bounds.x == 0 && bounds.y == 0 && bounds.w == input.canvas.width &&
                          bounds.h == input.canvas.height);
        frame.spriteSource = bounds;
        frame.sourceWidth = input.canvas.width;
        frame.sourceHeight = input.canvas.height;
        const int sheetW = input.rotate ? bounds.h : bounds.w;
        const int sheetH = input.rotate ? bounds.w : bounds.h;
        if (x > 0 && x + sheetW > shelfWidth) {
            y += shelfHeight + padding;
            x = 0;
            shelfHeight = 0;
        }
        frame.frame = {x, y, bounds.w, bounds.h};
        usedWidth = std::max(usedWidth, x + sheetW);
        shelfHeight = std::max(shelfHeight, sheetH);
        x += sheetW + padding;
        result.frames.push_back(frame);
        trimmed.push_back({input.rotate ? rotateClockwise(upright) : std::move(upright), bounds});
    }
    const int width =
        options.exactWidth > 0 ? std::max(options.exactWidth, usedWidth) : std::max(usedWidth, 1);
    const int height = std::max(y + shelfHeight, 1);
    result.sheet = Picture(width, height);
    for (std::size_t i = 0; i < trimmed.size(); ++i)
        blit(result.sheet, trimmed[i].upright, result.frames[i].frame.x, result.frames[i].frame.y);
    return result;
}

Dictionary SpriteSheet::frameTable(const std::string& imageName) const {
    Array list = Array::mutableArray(frames.size());
    for (const SheetFrame& f : frames) {
        Dictionary entry;
        entry.setObject("filename", f.filename);
        entry.setObject("frame", rectDictionary(f.frame));
        entry.setObject("rotated", f.rotated);
        entry.setObject("trimmed", f.trimmed);
        entry.setObject("spriteSourceSize", rectDictionary(f.spriteSource));
        entry.setObject("sourceSize", sizeDictionary(f.sourceWidth, f.sourceHeight));
        list.addObject(entry);
    }
    Dictionary meta;
    meta.setObject("image", imageName);
    meta.setObject("format", "RGBA8888");
    meta.setObject("size", sizeDictionary(sheet.width, sheet.height));
    meta.setObject("scale", "1");
    Dictionary table;
    table.setObject("frames", list);
    table.setObject("meta", meta);
    return table;
}

Picture cutFrame(const Picture& sheet, const SheetFrame& frame) {
    PixelRect r = frame.sheetRect();
    if (r.x < 0 || r.y < 0 || r.w <= 0 || r.h <= 0 || r.x + r.w > sheet.width || r.y + r.h > sheet.height)
        return {};
    Picture cut = crop(sheet, r);
    return frame.rotated ? rotateCounterClockwise(cut) : cut;
}

Picture restoreCanvas(const Picture& sheet, const SheetFrame& frame) {
    Picture upright = cutFrame(sheet, frame);
    if (upright.empty() || frame.sourceWidth <= 0 || frame.sourceHeight <= 0) return {};
    Picture canvas(frame.sourceWidth, frame.sourceHeight);
    blit(canvas, upright, frame.spriteSource.x, frame.spriteSource.y);
    return canvas;
}

}  // namespace devserver::catalogue
