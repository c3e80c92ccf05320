// The Q&A list as the app shows it, after the app's own start-up: question titles that mix Chinese
// with Latin letters, digits and signs show whole in their rows, neither cut with "…" nor missing
// a line, one title to a line or wrapped over several.

#include <gtest/gtest.h>

#include "app/QVNAppStartup.h"
#include "forum/QVNRizUrCell.h"
#include "forum/RizUrListViewController.h"
#include "foundation/NSIndexPath.h"
#include "tests/forum/ForumWindowTest.h"
#include "tests/support/LabelPictures.h"
#include "uikit/UINavigationController.h"
#include "uikit/UITableView.h"

using namespace forumtest;

namespace {

class ForumListTextTest : public ForumWindowTest {};

TEST_F(ForumListTextTest, MixedChineseAndLatinTitlesShowWholeInTheirRows) {
    QVNAppStartup::prepare();
    // Newest first in the list: the last added heads it.
    const std::vector<std::string> titles = {
        "A/B 对比: 原厂 vs. 改装后的 0-100km/h 加速成绩, 差了 0.8s 到底值不值得花 2 万?",
        "ET45→ET40, 18×8.5J 轮毂会顶叶子板吗",
        "手机拍的改装照片 #2",
        "改装 GT 宽体效果",
    };
    for (const std::string& title : titles) {
        devserver::ForumQuestion question;
        question.uid = 2;
        question.cars_brand = 1;
        question.question_title = title;
        question.question_txt = "车友问答";
        question.question_content = "<p>车友问答</p>";
        question.addtime = "2026-12-01 10:00";
        forum->addQuestion(question);
    }

    auto list = scene<RizUrListViewController>("RizUrListViewController");
    navigation = make<UINavigationController>(list);
    navigation->setNavigationBarHidden(true, false);
    window->setRootViewController(navigation);
    window->makeKeyAndVisible();
    ASSERT_TRUE(waitUntil([&] { return list->questions().size() == 10; }));
    testsupport::drainMainRunLoop();

    auto table = list->tableView.lock();
    ASSERT_TRUE(table);
    for (std::size_t row = 0; row < titles.size(); ++row) {
        const std::string& title = titles[titles.size() - 1 - row];
        SCOPED_TRACE(title);
        auto cell = std::dynamic_pointer_cast<QVNRizUrCell>(
            table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(long(row), 0)));
        ASSERT_TRUE(cell);
        ASSERT_EQ(cell->titleLab->text(), std::optional<std::string>(title));
        TextLayout shown = cell->titleLab->currentLayout();
        EXPECT_FALSE(shown.truncated);
        EXPECT_TRUE(testsupport::drawsWholeText(cell->titleLab));
    }
}

}  // namespace
