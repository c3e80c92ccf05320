#pragma once
// Sprite sheets: many pictures of one canvas size packed into one bitmap, with a frame table
// saying where each lies.
//
// Each input picture is trimmed to its drawn pixels (alpha not 0) and placed on shelves, left to
// right and top to bottom, in input order; a picture asked to be turned is stored a quarter turn
// clockwise, so that upright pixel (i, j) of a w x h picture placed at (x, y) sits at sheet pixel
// (x + h - 1 - j, y + i). The frame table records, per picture, its sheet position with the
// upright size, whether it is turned, where the trimmed picture sits in its canvas and the canvas
// size. Packing is a pure function of its inputs, so equal inputs give byte-equal sheets.

#include <string>
#include <vector>

#include "Picture.h"
#include "foundation/Value.h"

namespace devserver::catalogue {

struct SheetFrame {
    std::string filename;
    // x, y: top-left corner in the sheet; w, h: the upright (trimmed) picture's size.
    PixelRect frame;
    bool rotated = false;
    bool trimmed = true;
    // x, y: where the trimmed picture sits in its canvas; w, h: its size.
    PixelRect spriteSource;
    int sourceWidth = 0, sourceHeight = 0;

    // The rectangle the frame occupies in the sheet (w and h swapped when rotated).
    PixelRect sheetRect() const { return rotated ? PixelRect{frame.x, frame.y, frame.h, frame.w} : frame; }
};

struct SheetInput {
    std::string filename;
    // The untrimmed picture; every input of one sheet has the same size.
    Picture canvas;
    bool rotate = false;
};

struct PackingOptions {
    // Pictures go on one shelf until the next would pass this width.
    int shelfWidth = 1024;
    // Transparent pixels left between neighbours.
    int padding = 1;
    // When positive, the sheet is made exactly this wide (wider than the packing needs, or the
    // shelf width raised to it when the packing would need more).
    int exactWidth = 0;
};

struct SpriteSheet {
    Picture sheet;
    std::vector<SheetFrame> frames;

    // The frame table as the client reads it: {"frames": [...], "meta": {...}}. `imageName` only
    // goes into "meta".
    Dictionary frameTable(const std::string& imageName) const;
};

SpriteSheet packSpriteSheet(const std::vector<SheetInput>& inputs, const PackingOptions& options = {});

// The reverse, for tools and checks: the upright trimmed picture of a frame cut from the sheet,
// and the untrimmed canvas with it put back at its offset. Empty when the frame lies outside.
Picture cutFrame(const Picture& sheet, const SheetFrame& frame);
Picture restoreCanvas(const Picture& sheet, const SheetFrame& frame);

}  // namespace devserver::catalogue
