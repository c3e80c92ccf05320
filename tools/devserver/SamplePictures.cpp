// Sample avatars, drawn at start-up so that every picture URL in a reply resolves.

#include <png.h>

#include <cstring>
#include <vector>

#include "tools/devserver/DevServerState.h"

namespace devserver::detail {

std::string makeSamplePNG(int width, int height, unsigned rgb) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
    const unsigned char r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool frame = x == 0 || y == 0 || x == width - 1 || y == height - 1;
            unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = frame ? r / 2 : r;
            p[1] = frame ? g / 2 : g;
            p[2] = frame ? b / 2 : b;
            p[3] = 0xFF;
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) return "";
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) return "";
    out.resize(size);
    return out;
}

}  // namespace devserver::detail
