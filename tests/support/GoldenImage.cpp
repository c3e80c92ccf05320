#include "tests/support/GoldenImage.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "graphics/CGImage.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

std::filesystem::path goldenDirectory(const std::string& testFolder) {
    return std::filesystem::path(APP_SOURCE_DIR) / "tests" / testFolder / "golden";
}

double differingShare(const Ref<UIImage>& a, const Ref<UIImage>& b, int tolerance) {
    if (!a || !b || !a->CGImage() || !b->CGImage()) return 1;
    const auto w = a->CGImage()->width(), h = a->CGImage()->height();
    if (w != b->CGImage()->width() || h != b->CGImage()->height()) return 1;
    if (w * h == 0) return 0;
    NSData pa = detail::pixelsAsPremultipliedBGRA(*a->CGImage());
    NSData pb = detail::pixelsAsPremultipliedBGRA(*b->CGImage());
    long differing = 0;
    for (std::size_t i = 0; i < w * h; ++i) {
        for (int c = 0; c < 4; ++c) {
            if (std::abs(int(pa.bytes()[i * 4 + c]) - int(pb.bytes()[i * 4 + c])) > tolerance) {
                ++differing;
                break;
            }
        }
    }
    return double(differing) / double(w * h);
}

std::string goldenOutputFolder(const std::string& group) {
    std::filesystem::path folder;
    if (const char* out = std::getenv("APP_GOLDEN_OUT"); out && *out) {
        folder = out;
    } else if (const char* tmp = std::getenv("APP_TEST_TMP"); tmp && *tmp) {
        folder = std::filesystem::path(tmp) / group;
    } else {
        folder = std::filesystem::temp_directory_path() / group;
    }
    std::filesystem::create_directories(folder);
    return folder.string();
}

static bool writePNG(const Ref<UIImage>& image, const std::string& path) {
    auto png = UIImagePNGRepresentation(image);
    return png && png->writeToFile(path);
}

void compareWithGolden(const Ref<UIImage>& image, const std::filesystem::path& goldenDirectory,
                       const std::string& name, const std::string& group, int tolerance, double maxShare) {
    ASSERT_TRUE(image);
    EXPECT_TRUE(writePNG(image, goldenOutputFolder(group) + "/" + name));
    const auto golden = goldenDirectory / name;
    if (const char* update = std::getenv("APP_UPDATE_GOLDEN"); update && std::string(update) == "1") {
        std::filesystem::create_directories(golden.parent_path());
        EXPECT_TRUE(writePNG(image, golden.string()));
        return;
    }
    auto stored = UIImage::imageWithContentsOfFile(golden.string());
    ASSERT_TRUE(stored) << "no golden picture " << golden;
    EXPECT_LE(differingShare(image, stored, tolerance), maxShare) << name << " differs from " << golden;
}

}  // namespace testsupport
