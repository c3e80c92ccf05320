#include "tools/demo/ForumDemo.h"

#include <cstdio>

#include "app/StandInArtwork.h"
#include "forum/ForumSupport.h"
#include "forum/PKAssetPickerController.h"
#include "forum/PublishQuestionViewController.h"
#include "forum/QuestionDetailController.h"
#include "forum/RizUrListViewController.h"
#include "graphics/CGContext.h"
#include "graphics/UIColor.h"
#include "graphics/UIGraphics.h"
#include "system/SystemTesting.h"
#include "tools/demo/DemoSupport.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIBars.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"

namespace demo {

namespace {

// A photo for the library: a two-colour gradient with a caption.
Ref<UIImage> generatedPhoto(int index, const std::string& caption) {
    static const CGFloat colours[][3] = {{0.85, 0.25, 0.2}, {0.2, 0.45, 0.85}, {0.15, 0.65, 0.45},
                                         {0.9, 0.65, 0.15}, {0.45, 0.3, 0.75}, {0.2, 0.6, 0.65}};
    const CGFloat* c = colours[index % 6];
    const CGSize size = index % 2 ? CGSizeMake(480, 640) : CGSizeMake(640, 480);
    UIGraphicsBeginImageContextWithOptions(size, true, 1);
    CGContextRef context = UIGraphicsGetCurrentContext();
    for (int y = 0; y < size.height; y += 8) {
        double t = y / size.height;
        CGContextSetRGBFillColor(context, c[0] * (1 - 0.5 * t), c[1] * (1 - 0.5 * t), c[2] * (1 - 0.5 * t),
                                 1);
        CGContextFillRect(context, CGRectMake(0, y, size.width, 8));
    }
    StandInArtwork::drawCaption(caption, CGRectMake(0, 0, size.width, size.height), 64,
                                UIColor::whiteColor());
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

void fillPhotoLibrary() {
    std::string work = system_testing::addPhotoGroup("改装作品", ALAssetsGroupAlbum);
    for (int i = 0; i < 6; ++i)
        system_testing::addPhoto(work, generatedPhoto(i, "作品 " + std::to_string(i + 1)));
    std::string track = system_testing::addPhotoGroup("赛道日", ALAssetsGroupAlbum);
    for (int i = 0; i < 4; ++i)
        system_testing::addPhoto(track, generatedPhoto(i + 3, "赛道 " + std::to_string(i + 1)));
}

void settle(const Ref<UINavigationController>& navigation) {
    waitFor([&] { return !navigation->isTransitioning(); }, "a screen change did not finish", 10);
    runFor(0.3);
}

// Every picture the visible rows show has arrived (thumbnails and answer pictures).
bool rowsPictured(const Ref<UITableView>& table) {
    for (const auto& cell : table->visibleCells()) {
        if (auto row = std::dynamic_pointer_cast<QVNRizUrCell>(cell)) {
            for (const auto& view : {row->leftImageView, row->centerImageView, row->rightImageView})
                if (!view->isHidden() && !view->image()) return false;
        }
        if (auto row = std::dynamic_pointer_cast<QVNRizUrDetailCell>(cell)) {
            for (const auto& view : row->imageArray)
                if (!view->isHidden() && !view->image()) return false;
        }
    }
    return true;
}

// From the strip's add button through the action sheet and the picker's album list into the
// album's grid, where the first `count` photos are ticked; then "下一步".
void pickPhotos(const Ref<MessagePhotoView>& strip, const Ref<UIViewController>& owner, long album,
                std::size_t count, const std::string& name) {
    require(strip && strip->addButton(), "the photo strip has no add button");
    UITestDriver::tap(strip->addButton());
    waitFor([] { return UIAlertTestDriver::frontmostAlert().has_value(); }, "the add menu did not open", 5);
    UIAlertTestDriver::tapAlertButton(std::string("从相册中选择"));
    waitFor(
        [&] {
            return std::dynamic_pointer_cast<PKAssetPickerController>(owner->presentedViewController()) !=
                   nullptr;
        },
        "the photo picker did not open", 5);
    auto picker = std::dynamic_pointer_cast<PKAssetPickerController>(owner->presentedViewController());
    auto groups = std::dynamic_pointer_cast<PKAssetGroupViewController>(picker->viewControllers().front());
    waitFor([&] { return groups && static_cast<long>(groups->groups.size()) > album; },
            "the albums did not load", 10);
    runFor(0.4);
    screenshot(name + "-albums");
    tapRow(groups->tableView(), album);
    waitFor(
        [&] {
            return std::dynamic_pointer_cast<PKAssetViewController>(picker->topViewController()) != nullptr &&
                   !picker->isTransitioning();
        },
        "the album did not open", 10);
    auto grid = std::dynamic_pointer_cast<PKAssetViewController>(picker->topViewController());
    runFor(0.4);
    std::vector<Ref<PKAssetView>> views;
    for (long row = 0; views.size() < count && row < grid->tableView()->numberOfRowsInSection(0) - 1; ++row) {
        auto cell = std::dynamic_pointer_cast<PKAssetViewCell>(
            grid->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)));
        if (!cell) continue;
        for (const auto& view : cell->assetViews())
            if (views.size() < count) views.push_back(view);
    }
    require(views.size() == count, "the album grid shows too few photos");
    for (const auto& view : views) UITestDriver::tap(view->tapAssetView);
    require(grid->indexPathsForSelectedItems.size() == count, "the photos were not ticked");
    runFor(0.2);
    screenshot(name + "-picked");
    Ref<UIView> next = picker->navigationBar()->viewForItem(grid->navigationItem()->rightBarButtonItem());
    require(next != nullptr, "the album grid has no \"下一步\" button");
    UITestDriver::tap(next);
    waitFor([&] { return owner->presentedViewController() == nullptr; }, "the picker did not close", 10);
    runFor(0.3);
}

}  // namespace

void driveForum(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation) {
    waitFor([&] { return navigation->topViewController() == home && !navigation->isTransitioning(); },
            "the home screen did not come back", 10);
    fillPhotoLibrary();

    // The Q&A page.
    UITestDriver::tap(home->btnRizur.lock());
    waitFor(
        [&] {
            return std::dynamic_pointer_cast<RizUrListViewController>(home->rizUrListViewController()) !=
                   nullptr;
        },
        "the Q&A page did not open", 5);
    auto list = std::dynamic_pointer_cast<RizUrListViewController>(home->rizUrListViewController());
    waitFor([&] { return list->questions().size() >= 10; }, "the questions did not load", 15);
    waitFor([&] { return rowsPictured(list->tableView.lock()); }, "the question thumbnails did not load", 15);
    runFor(0.4);
    std::printf("questions: %zu, the first \"%s\"\n", list->questions().size(),
                text(list->questions().front()->question_title).c_str());
    screenshot("questions");

    // A question with its answers.
    tapRow(list->tableView.lock(), 0);
    settle(navigation);
    auto detail = std::dynamic_pointer_cast<QuestionDetailController>(navigation->topViewController());
    require(detail != nullptr, "the question did not open");
    waitFor([&] { return detail->detailQuestion() && !detail->comments().empty(); },
            "the answers did not load", 15);
    waitFor([&] { return rowsPictured(detail->tableView.lock()); }, "the answer pictures did not load", 15);
    waitFor([&] { return pagesFinished(detail->view()); }, "the question's page did not finish", 20);
    runFor(0.6);
    std::printf("question %ld: %zu answers shown\n", detail->questionId()->integerValue(),
                detail->comments().size());
    screenshot("question-detail");

    // An answer with a photo.
    UITestDriver::tap(detail->takePhotoPicture.lock());
    runFor(0.4);
    pickPhotos(detail->messagePhotoView(), detail, 1, 1, "answer-photo");
    require(detail->imageArray().size() == 1, "the answer has no photo");
    screenshot("answer-photo-strip");
    const std::string answer = "我也是这套，配黑色轮毂很好看。";
    UITextEntryDriver::typeText(detail->replyTextView.lock(), answer);
    runFor(0.4);
    std::size_t before = detail->comments().size();
    UITestDriver::tap(detail->replyBtn.lock());
    waitFor(
        [&] { return !detail->comments().empty() && text(detail->comments().front()->re_content) == answer; },
        "the answer did not arrive", 20);
    waitFor([&] { return rowsPictured(detail->tableView.lock()); }, "the answer's photo did not load", 15);
    waitFor([&] { return pagesFinished(detail->view()); }, "the question's page did not finish", 20);
    runFor(0.5);
    std::printf("answered with a photo (answers on the first page: %zu, before: %zu)\n",
                detail->comments().size(), before);
    screenshot("question-answered");

    // Back to the list, and a new question with three photos.
    waitFor([&] { return detail->hub()->isHidden() || detail->hub()->alpha() == 0; },
            "the reply's message stayed", 5);
    tapBack(detail);
    settle(navigation);
    tapControlWithAction(list->view(), list, "submitQuestion:");
    settle(navigation);
    auto publish = std::dynamic_pointer_cast<PublishQuestionViewController>(navigation->topViewController());
    require(publish != nullptr,
            "the publishing screen did not open (" + navigation->topViewController()->className() + ")");
    waitFor([&] { return publish->brandArray().size() >= 2; }, "the brands did not load", 10);
    const std::string title = "新车改装求建议：轮毂配什么颜色";
    UITextEntryDriver::typeText(publish->questionTextFiled.lock(), title);
    UITextEntryDriver::typeText(publish->textView.lock(), "白色车身，前杠和侧裙已经装好，想听听大家的意见。");
    // A tap on the photo strip's empty band closes the keyboard (once the screen has finished
    // moving up with it: a moving view takes no touches).
    runFor(0.6);
    UITestDriver::tapAt(publish->messagePhotoView(), CGPointMake(10, 10));
    waitFor([&] { return !publish->textView.lock()->isFirstResponder(); }, "the keyboard did not close", 5);
    UITestDriver::tap(publish->brandButton.lock());
    // A slow machine may still be settling the keyboard's leave when the first tap comes.
    if (!runUntil([&] { return publish->brandTableView() != nullptr; }, 3)) {
        UITestDriver::tap(publish->brandButton.lock());
    }
    waitFor([&] { return publish->brandTableView() != nullptr; }, "the brand list did not open", 10);
    runFor(0.2);
    screenshot("publish-brands");
    tapRow(publish->brandTableView(), 0);
    waitFor([&] { return publish->brand_id().has_value(); }, "no brand was chosen", 5);
    runFor(0.2);
    pickPhotos(publish->messagePhotoView(), publish, 2, 3, "publish-photos");
    require(publish->imageArray().size() == 3, "the question does not have three photos");
    screenshot("publish-filled");
    UITestDriver::tap(publish->messagePhotoView()->pushBtn);
    waitFor(
        [] {
            auto alert = UIAlertTestDriver::frontmostAlert();
            return alert && alert->message == std::optional<std::string>("上传成功！");
        },
        "the question was not published", 30);
    runFor(0.6);
    screenshot("publish-done");
    UIAlertTestDriver::tapAlertButton(std::string("返回"));
    settle(navigation);

    // The list loads its first page again on showing: the new question is on top.
    waitFor(
        [&] {
            return !list->questions().empty() && text(list->questions().front()->question_title) == title;
        },
        "the new question is not at the top of the list", 15);
    waitFor([&] { return rowsPictured(list->tableView.lock()); },
            "the new question's thumbnails did not load", 15);
    runFor(0.5);
    std::printf("published \"%s\" with %zu photos; it heads the list\n", title.c_str(),
                ::detail::forum::splitPictures(list->questions().front()->question_pic).size());
    screenshot("questions-new-on-top");
}

}  // namespace demo
