// The user search's rows against the stand-in server: the add button shows for strangers only,
// and follows each record when rows are reused by a later search.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "account/AddFriendViewController.h"
#include "account/QVNAddFriendCell.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;

namespace {

class AddFriendScreenTest : public ScreenTest {
  protected:
    // Searches for every other user by pressing return on an empty field, and waits for the rows.
    void searchEveryone(const Ref<AddFriendViewController>& search) {
        std::size_t before = requestsTo("user/searchuser.do");
        // Each answer brings new records: the search is in once the first one is another object.
        Ref<QVNFriend> previous =
            search->friendsArr().empty() ? nullptr : search->friendsArr()[0].objectAs<QVNFriend>();
        auto field = search->seachfiled.lock();
        ASSERT_TRUE(field);
        UITestDriver::tap(field);
        UITextEntryDriver::pressReturn(field);
        ASSERT_TRUE(waitAdvancing([&] { return requestsTo("user/searchuser.do") == before + 1; }));
        ASSERT_TRUE(waitAdvancing([&] {
            return search->friendsArr().count() == 2 &&
                   search->friendsArr()[0].objectAs<QVNFriend>() != previous;
        }));
        settle();
    }

    // The shown rows as nickname -> whether the add button is visible.
    static std::map<std::string, bool> addButtons(const Ref<AddFriendViewController>& search) {
        std::map<std::string, bool> shown;
        auto table = search->addFriendTableView.lock();
        table->layoutIfNeeded();
        for (long row = 0; row < table->numberOfRowsInSection(0); ++row) {
            auto cell = std::dynamic_pointer_cast<QVNAddFriendCell>(
                table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)));
            if (!cell) continue;
            auto button = cell->addFriendBtn.lock();
            const std::string name = cell->userName.lock()->text().value_or("");
            EXPECT_EQ(button->isHidden(), cell->friends()->isFriend) << name;
            shown[name] = !button->isHidden();
        }
        return shown;
    }
};

}  // namespace

TEST_F(AddFriendScreenTest, TheAddButtonIsHiddenExactlyForFriends) {
    signIn();  // a friend of "赛道老王" and a stranger to "小雨"
    auto search = push<AddFriendViewController>("AddFriendViewcontroller");
    ASSERT_TRUE(search);
    searchEveryone(search);
    EXPECT_EQ(addButtons(search), (std::map<std::string, bool>{{"赛道老王", false}, {"小雨", true}}));

    // The friendships turn round; the next search reuses the rows, which must not keep the old state.
    server.setFriends(1, 2, false);
    server.setFriends(1, 3, true);
    searchEveryone(search);
    EXPECT_EQ(addButtons(search), (std::map<std::string, bool>{{"赛道老王", true}, {"小雨", false}}));
}
