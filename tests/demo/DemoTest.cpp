// The demo program, run as a person would run it: it must finish with exit status 0, print where
// each picture went, leave a decodable PNG of every screen of the road through the app, and
// report no label whose text is cut.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DemoTest, RunsTheWholeRoadAndWritesAPictureOfEveryScreen) {
    testsupport::TemporaryDirectory folder;
    const std::string output = folder.file("pictures");
    const std::string log = folder.file("log.txt");
    const std::string command = "APP_RESOURCES_DIR='" + folder.file("resources") + "' '" DEMO_PROGRAM "' '" +
                                output + "' > '" + log + "' 2>&1";
    int status = std::system(command.c_str());
    const std::string printed = readFile(log);
    ASSERT_EQ(status, 0) << printed;
    EXPECT_EQ(printed.find("demo stopped"), std::string::npos) << printed;
    EXPECT_NE(printed.find("pictures in " + output), std::string::npos) << printed;
    // Measured with the font that draws it, no label on any screen loses part of its text.
    EXPECT_EQ(printed.find("text cut in"), std::string::npos) << printed;

    const std::vector<std::string> expected = {
        "01-home.png",
        "04-login.png",
        "05-sign-up.png",
        "06-home-signed-in.png",
        "07-my-page.png",
        "08-message-centre.png",
        "09-mail-thread.png",
        "10-friend-list.png",
        "11-studio.png",
        "12-studio-parts.png",
        "13-studio-front-bumper.png",
        "14-studio-option-fitted.png",
        "15-studio-preset.png",
        "16-studio-hood-tinted.png",
        "17-studio-car-tinted.png",
        "18-studio-turned.png",
        "19-tuning-list-detail.png",
        "20-tuning-list-name.png",
        "21-tuning-list-saved.png",
        "22-tuning-lists.png",
        "23-camera.png",
        "24-camera-watermarks.png",
        "25-camera-sticker-editing.png",
        "26-camera-composed-photo.png",
        "27-camera-share-sheet.png",
        "28-camera-shared-to-wechat.png",
        "29-camera-shared.png",
        "42-news-list.png",
        "43-news-carousel-turned.png",
        "44-news-brand-page.png",
        "45-news-article.png",
        "46-news-article-replied.png",
        "47-search-news.png",
        "48-search-type-menu.png",
        "49-search-questions.png",
        "50-search-question-opened.png",
        "51-events.png",
        "52-event-detail.png",
        "53-event-studio.png",
        "54-studio-screenshot-taken.png",
        "55-screenshot-picture.png",
        "56-event-entry-name.png",
        "57-event-joined.png",
        "58-gallery.png",
        "59-gallery-voted.png",
        "60-gallery-try-car.png",
    };
    for (const std::string& name : expected) {
        const std::string path = output + "/" + name;
        SCOPED_TRACE(name);
        ASSERT_TRUE(std::filesystem::exists(path));
        EXPECT_NE(printed.find("screen " + path), std::string::npos) << printed;
        auto image = UIImage::imageWithContentsOfFile(path);
        ASSERT_NE(image, nullptr);
        EXPECT_GT(image->size().width, 100);
        EXPECT_GT(image->size().height, 100);
    }
    // The carousel turned on its own between the first two pictures of the news list.
    EXPECT_NE(readFile(output + "/42-news-list.png"), readFile(output + "/43-news-carousel-turned.png"));
    EXPECT_NE(printed.find("carousel on page 1"), std::string::npos) << printed;
    // The event was joined through its screens: the shutter of the studio entered for it, then the
    // save box.
    EXPECT_NE(printed.find("screenshot taken: 截图成功,你可以进行参与活动"), std::string::npos) << printed;
    EXPECT_NE(printed.find("entered into the event"), std::string::npos) << printed;
    // Each step changed what the screen shows: no two studio pictures are the same file.
    for (std::size_t i = 9; i + 1 < 16; ++i) {
        EXPECT_NE(readFile(output + "/" + expected[i]), readFile(output + "/" + expected[i + 1]))
            << expected[i] << " and " << expected[i + 1];
    }
}

}  // namespace
