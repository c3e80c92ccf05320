#include "tools/demo/InformationDemo.h"

#include <cstdio>

#include "app/QVNProduction.h"
#include "foundation/NSString.h"
#include "information/ActivityDetailViewController.h"
#include "information/ActivityListViewController.h"
#include "information/InformationRootViewController.h"
#include "information/NewsDetailViewController.h"
#include "information/NewsListViewController.h"
#include "information/ProductionListsViewController.h"
#include "information/QVNNewsDataProvider.h"
#include "information/QVNProductionCell.h"
#include "information/SearchViewController.h"
#include "studio/CarViewController.h"
#include "studio/TuningListSaveViewController.h"
#include "tools/demo/DemoSupport.h"
#include "tools/demo/StudioDemo.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UICollectionView.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindowRenderer.h"

namespace demo {

namespace {

void settle(const Ref<UINavigationController>& navigation) {
    waitFor([&] { return !navigation->isTransitioning(); }, "a screen change did not finish", 10);
    runFor(0.3);
}

template <typename T>
Ref<T> top(const Ref<UINavigationController>& navigation, const std::string& what) {
    settle(navigation);
    auto screen = std::dynamic_pointer_cast<T>(navigation->topViewController());
    require(screen != nullptr, what + " did not open (" + navigation->topViewController()->className() + ")");
    return screen;
}

// Every picture view under the root that is shown has its picture.
bool pictured(const Ref<UIView>& root) {
    if (auto image = std::dynamic_pointer_cast<UIImageView>(root))
        if (!image->isHidden() && !image->image()) return false;
    for (const auto& sub : root->subviews())
        if (!pictured(sub)) return false;
    return true;
}

// The rows on show have their pictures (cell picture views; other image views of the table, such
// as the pick lists' or the pull-to-refresh arrow, do not count).
bool rowsPictured(const Ref<UITableView>& table) {
    for (const auto& cell : table->visibleCells())
        if (!pictured(cell->contentView())) return false;
    return true;
}

void back(const Ref<UINavigationController>& navigation) {
    Ref<UIViewController> leaving = navigation->topViewController();
    tapBack(leaving);
    waitFor([&] { return navigation->topViewController() != leaving; }, "the back button did not go back", 5);
    settle(navigation);
}

// The news page: the list, the carousel turning on its timer, and an article with its comments.
void driveNews(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation) {
    UITestDriver::tap(home->btnNews.lock());
    waitFor(
        [&] {
            return std::dynamic_pointer_cast<InformationRootViewController>(
                       home->informationRootViewController()) != nullptr;
        },
        "the information tab did not open", 5);
    auto tab =
        std::dynamic_pointer_cast<InformationRootViewController>(home->informationRootViewController());
    waitFor([&] { return !tab->childViewControllers().empty(); }, "the news pages were not made", 5);
    auto list = std::dynamic_pointer_cast<NewsListViewController>(tab->childViewControllers().front());
    require(list != nullptr, "the first news page is not a news list");
    waitFor([&] { return list->dataProvider() && !list->dataProvider()->news().empty(); },
            "the news did not load", 15);
    waitFor([&] { return !list->advertisements().empty(); }, "the carousel did not load", 15);
    waitFor([&] { return rowsPictured(list->tableView()); }, "the news pictures did not load", 15);
    waitFor([&] { return pictured(list->scrollView.lock()); }, "the carousel pictures did not load", 15);
    runFor(0.4);
    std::printf("news: %zu articles, %zu carousel entries\n", list->dataProvider()->news().size(),
                list->advertisements().size());
    screenshot("news-list");
    // The carousel turns by itself every two seconds.
    runFor(NewsListViewController::kCarouselInterval + 0.6);
    std::printf("carousel on page %ld\n",
                list->pageControl.lock() ? list->pageControl.lock()->currentPage() : -1);
    screenshot("news-carousel-turned");

    // The brand page, then back to the car page.
    UITestDriver::tap(tab->brandInfoButton.lock());
    runFor(0.8);
    screenshot("news-brand-page");
    UITestDriver::tap(tab->carInfoButton.lock());
    runFor(0.8);

    // An article with its comments, and a reply.
    waitFor([&] { return list->dataProvider() && !list->dataProvider()->news().empty(); },
            "the news did not load again", 15);
    tapRow(list->tableView(), 0);
    auto article = top<NewsDetailViewController>(navigation, "the article");
    waitFor([&] { return !article->comments().empty(); }, "the comments did not load", 15);
    waitFor([&] { return article->news() && article->news()->news_content.has_value(); },
            "the article did not load", 15);
    waitFor([&] { return pagesFinished(article->view()); }, "the article's page did not finish", 20);
    runFor(0.6);
    std::printf("article \"%s\": %zu comments shown\n", text(article->news()->news_title).c_str(),
                article->comments().size());
    screenshot("news-article");
    const std::string reply = "轮毂选得好，求同款链接。";
    UITextEntryDriver::typeText(article->replyTextView.lock(), reply);
    runFor(0.3);
    UITestDriver::tap(article->replyButton.lock());
    waitFor(
        [&] {
            auto comments = article->comments();
            return !comments.empty() && text(comments.back()->content) == reply;
        },
        "the reply did not appear", 15);
    runFor(0.6);
    screenshot("news-article-replied");
    back(navigation);
}

// The home screen's search: news, then questions, and a question opened from the results.
void driveSearch(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation) {
    UITestDriver::tap(home->btnSearch.lock());
    auto search = top<SearchViewController>(navigation, "the search");
    UITextEntryDriver::typeText(search->searchField.lock(), "轮胎");
    UITextEntryDriver::pressReturn(search->searchField.lock());
    waitFor([&] { return search->resultList().count() > 0; }, "the news search found nothing", 15);
    waitFor([&] { return rowsPictured(search->tableView.lock()); }, "the result pictures did not load", 15);
    runFor(1.2);  // the keyboard leaves
    std::printf("news search \"轮胎\": %zu results\n", search->resultList().count());
    screenshot("search-news");

    // The type menu: questions.
    UITestDriver::tap(search->newsBtn.lock());
    runFor(0.3);
    require(search->btn2() != nullptr, "the search type menu did not open");
    screenshot("search-type-menu");
    UITestDriver::tap(search->btn2());
    runFor(0.3);
    auto field = search->searchField.lock();
    UITextEntryDriver::focus(field);
    UITextEntryDriver::selectRange(field, NSMakeRange(0, NSString::utf16(field->text()).size()));
    UITextEntryDriver::typeText(field, "轮毂");
    UITextEntryDriver::pressReturn(field);
    std::printf("search type \"%s\", field \"%s\"\n",
                text(search->newsBtn.lock()->titleForState(UIControlStateNormal)).c_str(),
                field->text().c_str());
    waitFor([&] { return search->typeIndex() == 2 && search->resultList().count() > 0; },
            "the question search found nothing", 15);
    waitFor([&] { return rowsPictured(search->tableView.lock()); }, "the askers' pictures did not load", 15);
    runFor(1.2);
    std::printf("question search \"轮毂\": %zu results\n", search->resultList().count());
    screenshot("search-questions");

    tapRow(search->tableView.lock(), 0);
    settle(navigation);
    require(navigation->topViewController() != search, "the question did not open from the results");
    waitFor([&] { return pagesFinished(navigation->topViewController()->view()); },
            "the question's page did not finish", 20);
    runFor(1.0);
    screenshot("search-question-opened");
    back(navigation);
    back(navigation);
}

// The studio the event's join button opened: the shutter, the entry named in the save box, the
// studio closing once the entry is in. Answers the entry's name.
std::string joinWithTheStudio(const Ref<ActivityDetailViewController>& page,
                              const Ref<UINavigationController>& navigation) {
    auto presented = [&]() -> Ref<CarViewController> {
        for (const Ref<UIViewController>& screen :
             {Ref<UIViewController>(page), Ref<UIViewController>(navigation)})
            if (auto studio = std::dynamic_pointer_cast<CarViewController>(screen->presentedViewController()))
                return studio;
        return nullptr;
    };
    UITestDriver::tap(page->joinButton.lock());
    waitFor([&] { return presented() != nullptr; }, "the join button did not open the studio", 15);
    Ref<CarViewController> studio = presented();
    waitForStudioReady(studio);
    screenshot("event-studio");

    // The shutter: the studio turns the car to its screenshot angle and keeps the picture.
    auto shutter = studio->screenShotButton.lock();
    require(shutter && !shutter->isHidden(), "the studio entered for the event shows no shutter");
    UITestDriver::tap(shutter);
    waitFor([&] { return UIAlertTestDriver::frontmostAlert().has_value(); }, "the screenshot was not taken",
            10);
    require(studio->screenShotImage() != nullptr, "the screenshot has no picture");
    std::printf("screenshot taken: %s\n", text(UIAlertTestDriver::frontmostAlert()->message).c_str());
    screenshot("studio-screenshot-taken");
    UIAlertTestDriver::tapAlertButton(0);
    waitFor([&] { return !UIAlertTestDriver::frontmostAlert().has_value(); }, "the alert did not close", 5);
    runFor(0.5);
    {
        std::string path = nextPicturePath("screenshot-picture");
        bool ok = UIWindowRenderer::writePNG(studio->screenShotImage(), path);
        std::printf("%s %s\n", ok ? "screen" : "FAILED", path.c_str());
    }

    // The join button of the studio: the save box stores the car's tuning list under a name and
    // enters it, with the screenshot, into the event.
    UITestDriver::tap(studio->saveTuningListButton.lock());
    waitFor([&] { return appeared(presentedOver<TuningListSaveViewController>(studio)); },
            "the studio's join button did not open the save box", 10);
    auto box = presentedOver<TuningListSaveViewController>(studio);
    runFor(0.3);
    const std::string name = "参赛蓝 demo";
    UITextEntryDriver::typeText(box->nameTextField.lock(), name);
    // A tap beside the box closes the keyboard.
    tapBareSpot(box->view());
    runFor(0.6);
    require(!box->nameTextField.lock()->isFirstResponder(), "a tap beside the box left the keyboard up");
    screenshot("event-entry-name");
    require(box->configureButton.lock()->isEnabled(), "the store button stayed disabled after typing");
    UITestDriver::tap(box->configureButton.lock());
    bool joined = runUntil([&] { return box->hud()->labelText() == std::string("参与成功"); }, 20);
    require(joined, "the tuning list did not enter the event (" + text(box->hud()->labelText()) + ")");
    screenshot("event-joined");
    waitFor([&] { return presented() == nullptr; }, "the studio did not close after the entry", 10);
    runFor(0.5);
    std::printf("tuning list \"%s\" entered into the event\n", name.c_str());
    return name;
}

// The event tab, the tuning-list event's page, the studio's entry, the gallery, a vote and the
// entry's car tried.
void driveEvents(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation) {
    UITestDriver::tap(home->btnActivity.lock());
    waitFor(
        [&] {
            return std::dynamic_pointer_cast<ActivityListViewController>(
                       home->activityListViewController()) != nullptr;
        },
        "the event tab did not open", 5);
    auto events = std::dynamic_pointer_cast<ActivityListViewController>(home->activityListViewController());
    waitFor([&] { return events->dataProvider() && !events->dataProvider()->activities().empty(); },
            "the events did not load", 15);
    waitFor([&] { return rowsPictured(events->tableView()); }, "the event pictures did not load", 15);
    runFor(0.4);
    screenshot("events");

    // The tuning-list event (a studio event: category other than 0).
    const auto& all = events->dataProvider()->activities();
    long row = -1;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (!all[i]->isPhotoEvent() && (!all[i]->available || all[i]->available->integerValue() != 0))
            row = static_cast<long>(i);
    require(row >= 0, "there is no open tuning-list event");
    Ref<QVNActivity> event = all[row];

    tapRow(events->tableView(), row);
    auto page = top<ActivityDetailViewController>(navigation, "the event's page");
    waitFor([&] { return pagesFinished(page->view()); }, "the event's page did not finish", 20);
    runFor(0.6);
    std::printf("event \"%s\"\n", text(event->event_title).c_str());
    screenshot("event-detail");
    const std::string entryName = joinWithTheStudio(page, navigation);

    UITestDriver::tap(page->showBtn.lock());
    auto gallery = top<ProductionListsViewController>(navigation, "the event's gallery");
    waitFor([&] { return !gallery->productions().empty(); }, "the entries did not load", 15);
    waitFor([&] { return pictured(gallery->collectionView.lock()); }, "the entry pictures did not load", 15);
    runFor(0.5);
    std::printf("gallery: %zu entries\n", gallery->productions().size());
    screenshot("gallery");

    // A vote for the first entry on show.
    auto grid = gallery->collectionView.lock();
    Ref<QVNProductionSecondcell> first;
    Ref<QVNProductionSecondcell> ours;
    for (const auto& cell : grid->visibleCells()) {
        auto card = std::dynamic_pointer_cast<QVNProductionSecondcell>(cell);
        if (!card || !card->production()) continue;
        if (!first) first = card;
        if (card->production()->list_id && card->production()->pic_name == entryName) ours = card;
    }
    require(first != nullptr, "the gallery shows no card");
    long before = first->production()->vote ? first->production()->vote->integerValue() : 0;
    Ref<QVNProduction> voted = first->production();
    UITestDriver::tap(first->VoteButton.lock());
    waitFor([&] { return voted->vote && voted->vote->integerValue() == before + 1; },
            "the vote was not counted", 10);
    runFor(0.4);
    std::printf("voted for \"%s\": %ld votes\n", text(voted->pic_name).c_str(), before + 1);
    screenshot("gallery-voted");

    // The studio dressed in the entry's tuning list.
    require(ours != nullptr, "the studio's entry is not on show in the gallery");
    runFor(2.2);  // the vote's message leaves
    UITestDriver::tap(ours->ExperienceButton.lock());
    waitFor(
        [&] {
            return std::dynamic_pointer_cast<CarViewController>(gallery->presentedViewController()) !=
                   nullptr;
        },
        "the studio did not open on the entry's car", 15);
    auto studio = std::dynamic_pointer_cast<CarViewController>(gallery->presentedViewController());
    waitForStudioReady(studio);
    std::printf("tried the car of \"%s\" (tuning list %ld)\n", entryName.c_str(),
                ours->production()->list_id->integerValue());
    screenshot("gallery-try-car");
    closeStudio(studio);
    back(navigation);
    back(navigation);
}

}  // namespace

void driveInformation(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation) {
    waitFor([&] { return navigation->topViewController() == home && !navigation->isTransitioning(); },
            "the home screen did not come back", 10);
    driveNews(home, navigation);
    driveSearch(home, navigation);
    driveEvents(home, navigation);
}

}  // namespace demo
