#pragma once
// Comparing a rendered picture with a stored golden picture, within a tolerance.
//
// Each render is also written out as PNG for a person to look at: under $APP_GOLDEN_OUT when set,
// else under the test temporary folder ($APP_TEST_TMP), in a folder named after the group.
// APP_UPDATE_GOLDEN=1 replaces the stored pictures with the new renders instead of comparing.

#include <filesystem>
#include <string>

#include "foundation/NSObject.h"
#include "graphics/UIImage.h"

namespace testsupport {

// The share of pixels whose colour differs by more than `tolerance` on some channel; 1 for
// pictures of different sizes or a missing picture.
double differingShare(const Ref<UIImage>& a, const Ref<UIImage>& b, int tolerance);

// The stored golden pictures of a test folder ("controls", "uikit"...): tests/<folder>/golden in
// the source tree. Not derived from __FILE__, which a compiler cache may make relative.
std::filesystem::path goldenDirectory(const std::string& testFolder);

// Where renders of a group are written out (created on demand).
std::string goldenOutputFolder(const std::string& group);

// Writes the render out and expects it to match `goldenDirectory / name`: at most `maxShare` of
// its pixels off by more than `tolerance` on some channel.
void compareWithGolden(const Ref<UIImage>& image, const std::filesystem::path& goldenDirectory,
                       const std::string& name, const std::string& group, int tolerance = 24,
                       double maxShare = 0.005);

}  // namespace testsupport
