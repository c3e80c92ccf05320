// Events and their entries against the stand-in server: the event list, joining, the two entry
// pages and voting, with what each request carries.

#include <gtest/gtest.h>

#include "app/QVNProduction.h"
#include "information/QVNActivityCommunicator.h"
#include "tests/information/InformationTestSupport.h"

using namespace infotest;

namespace {

using Activities = std::optional<std::vector<Ref<QVNActivity>>>;
using Entries = std::optional<QVNProduction::List>;

class QVNProductionTest : public InformationServerTest {
  protected:
    Activities events(const std::optional<NSNumber>& cursor) {
        return await<Activities>([&](auto done) { communicator->getActivitiesWithEventId(cursor, done); });
    }
    Ref<QVNActivity> eventTitled(const std::string& title) {
        Activities all = events(std::nullopt);
        if (all)
            for (const auto& activity : *all)
                if (activity->event_title == title) return activity;
        ADD_FAILURE() << title;
        return nullptr;
    }
    Entries firstEntries(const Ref<QVNActivity>& activity) {
        return await<Entries>([&](auto done) { QVNProduction::fetchProductionsForActivity(activity, done); });
    }
    Entries nextEntries(const Ref<QVNProduction>& last) {
        return await<Entries>(
            [&](auto done) { QVNProduction::fetchMoreProductionsWithLastProduction(last, done); });
    }
    Ref<NSError> join(const Ref<QVNProduction>& production, long eventId,
                      const std::optional<NSNumber>& listId) {
        return await<Ref<NSError>>([&](auto done) {
            QVNProduction::joinEventWithProduction(production, NSNumber::numberWithLong(eventId), listId,
                                                   done);
        });
    }
    Ref<NSError> vote(const Ref<QVNProduction>& production) {
        return await<Ref<NSError>>([&](auto done) { production->voteWithCompletion(done); });
    }

    Ref<QVNActivityCommunicator> communicator = make<QVNActivityCommunicator>();
};

TEST_F(QVNProductionTest, EventListMapsEveryFieldAndEndsWithNil) {
    Activities all = events(std::nullopt);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 3u);
    auto request = lastRequestTo("event/geteventlist.do");
    EXPECT_EQ(request.queryParam("event_id"), "0");
    EXPECT_FALSE(request.queryParam("user_token"));
    Ref<QVNActivity> photo = eventTitled("晒出你的爱车");
    ASSERT_TRUE(photo);
    EXPECT_TRUE(photo->isPhotoEvent());
    EXPECT_FALSE(photo->isClosed());
    EXPECT_EQ(photo->rest->integerValue(), 14);
    EXPECT_EQ(photo->event_limit->integerValue(), 36);
    EXPECT_EQ(photo->is_join->integerValue(), 0);
    EXPECT_TRUE(photo->event_content && photo->event_pic && photo->event_summary && photo->addtime);
    EXPECT_TRUE(eventTitled("夏日自驾征集")->isClosed());
    EXPECT_FALSE(eventTitled("改装方案大赛")->isPhotoEvent());
    // Past the last event: an empty page is nil.
    EXPECT_FALSE(events(all->back()->event_id));
}

TEST_F(QVNProductionTest, EventListCarriesTheTokenWhenSignedIn) {
    std::string token = signIn(3);
    events(std::nullopt);
    EXPECT_EQ(lastRequestTo("event/geteventlist.do").queryParam("user_token"), token);
}

TEST_F(QVNProductionTest, EntryPagesGoOnFromTheLastEntryWithoutTheToken) {
    std::string token = signIn(1);
    Ref<QVNActivity> photo = eventTitled("晒出你的爱车");
    Entries first = firstEntries(photo);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 10u);
    auto request = lastRequestTo("event/getproductionlist.do");
    EXPECT_EQ(request.queryParam("production_id"), "0");
    EXPECT_EQ(request.queryParam("user_token"), token);
    Entries second = nextEntries(first->back());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->size(), 4u);
    request = lastRequestTo("event/getproductionlist.do");
    EXPECT_EQ(request.queryParam("production_id"),
              std::to_string(first->back()->production_id->integerValue()));
    EXPECT_FALSE(request.queryParam("user_token"));
    // The end: nil.
    EXPECT_FALSE(nextEntries(second->back()));
    // Signed out, the first page carries no token.
    signOut();
    firstEntries(photo);
    EXPECT_FALSE(lastRequestTo("event/getproductionlist.do").queryParam("user_token"));
}

TEST_F(QVNProductionTest, AnEmptyFirstEntryPageIsAnEmptyList) {
    devserver::EventItem event;
    event.event_title = "空活动";
    long id = information->addEvent(event);
    auto activity = make<QVNActivity>();
    activity->event_id = NSNumber::numberWithLong(id);
    Entries first = firstEntries(activity);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->empty());
}

TEST_F(QVNProductionTest, JoinSendsFiveParametersOrSixWithATuningList) {
    signIn(2);
    Ref<QVNActivity> photo = eventTitled("晒出你的爱车");
    auto production = make<QVNProduction>();
    production->pic_name = "新作品";
    production->pic_url = server.pictureURL("entry");
    EXPECT_FALSE(join(production, photo->event_id->integerValue(), std::nullopt));
    auto request = lastRequestTo("event/joinevent.do");
    EXPECT_EQ(request.query.size(), 5u);
    EXPECT_EQ(request.queryParam("pro_detail"), "");
    EXPECT_FALSE(request.queryParam("tuninglist_id"));
    EXPECT_EQ(information->entries(photo->event_id->integerValue()).front().pic_name, "新作品");
    EXPECT_EQ(eventTitled("晒出你的爱车")->is_join->integerValue(), 1);

    Ref<QVNActivity> tuning = eventTitled("改装方案大赛");
    EXPECT_FALSE(join(production, tuning->event_id->integerValue(), NSNumber::numberWithInt(77)));
    request = lastRequestTo("event/joinevent.do");
    EXPECT_EQ(request.query.size(), 6u);
    EXPECT_EQ(request.queryParam("tuninglist_id"), "77");
    EXPECT_EQ(information->entries(tuning->event_id->integerValue()).front().list_id, 77);
}

TEST_F(QVNProductionTest, JoinHandsOnTheServersCodeAndTransportFailures) {
    auto production = make<QVNProduction>();
    production->pic_name = "x";
    production->pic_url = "http://127.0.0.1/x.png";
    long photoId = eventTitled("晒出你的爱车")->event_id->integerValue();
    // Signed out: the token is missing, which the server refuses as an invalid token.
    Ref<NSError> error = join(production, photoId, std::nullopt);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 10003);
    signIn(1);
    // A closed event refuses.
    error = join(production, eventTitled("夏日自驾征集")->event_id->integerValue(), std::nullopt);
    ASSERT_TRUE(error);
    EXPECT_NE(error->code(), 0);
    devserver::RouteControl drop;
    drop.dropConnection = true;
    server.setRouteControl("event/joinevent.do", drop);
    error = join(production, photoId, std::nullopt);
    ASSERT_TRUE(error);
    EXPECT_NE(error->domain(), "QVNAPI");
}

TEST_F(QVNProductionTest, AVoteCountsOnceAndTheSecondIsRefusedWith43001) {
    signIn(3);
    Entries first = firstEntries(eventTitled("晒出你的爱车"));
    ASSERT_TRUE(first && !first->empty());
    Ref<QVNProduction> entry = first->front();
    long before = entry->vote->integerValue();
    EXPECT_FALSE(vote(entry));
    auto request = lastRequestTo("event/vote.do");
    EXPECT_EQ(request.queryParam("production_id"), std::to_string(entry->production_id->integerValue()));
    EXPECT_TRUE(request.queryParam("user_token"));
    Ref<NSError> again = vote(entry);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code(), 43001);
    Entries reread = firstEntries(eventTitled("晒出你的爱车"));
    EXPECT_EQ(reread->front()->vote->integerValue(), before + 1);
}

TEST(QVNProductionRecordTest, AddVoteCountStartsAtOneWhenMissing) {
    auto entry = make<QVNProduction>();
    entry->addVoteCount();
    EXPECT_EQ(entry->vote->integerValue(), 1);
    entry->addVoteCount();
    EXPECT_EQ(entry->vote->integerValue(), 2);
    EXPECT_FALSE(entry->hasTuningList());
    entry->list_id = NSNumber::numberWithInt(0);
    EXPECT_FALSE(entry->hasTuningList());
    entry->list_id = NSNumber::numberWithInt(5);
    EXPECT_TRUE(entry->hasTuningList());
}

}  // namespace
