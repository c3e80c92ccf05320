#pragma once
// QVNFriend: a user as the friend list and the user search show it, with every friend call. The
// token is the signed-in user's (under "token", except the user search, which sends it as
// "user_token"); signed out it is left out and the server refuses the call.
//
//   list      POST friend/getfriendlist.do   token                        rows of QVNFriend
//   add       GET  friend/add.do             token, friend_uid
//   delete    GET  friend/delete.do          token, friend_uid
//   search    GET  user/searchuser.do        user_token, keyword          rows of QVNFriend
//   paged     GET  search/search.do          token, keyword, page, friend_uid (offered, unused)
//
// A non-zero result code arrives as an error with that code. Completions run on the main queue.

#include <functional>
#include <optional>
#include <string>

#include "app/RMRecord.h"
#include "foundation/NSError.h"

class QVNFriend : public NSObject {
    RM_RECORD(QVNFriend, NSObject)

    std::optional<std::string> user_nickname;
    std::optional<NSNumber> user_id;
    std::optional<std::string> user_logo;  // avatar URL
    bool isFriend = false;                 // already a friend of the signed-in user

    using ListCompletion =
        std::function<void(const std::optional<Array>& friends, const Ref<NSError>& error)>;
    using ResultCompletion = std::function<void(const Value& result, const Ref<NSError>& error)>;
    using PageCompletion = std::function<void(const std::optional<Array>& users)>;

    static void getFriends(ListCompletion completion);
    static void addFriendWithId(const std::optional<NSNumber>& userId, ResultCompletion completion);
    static void deleteFriendWithId(const std::optional<NSNumber>& userId, ResultCompletion completion);
    static void seachFriendsWithKeyWord(const std::string& keyword, ListCompletion completion);
    // Any failure answers nil.
    static void seachFriendWithKeyword(const std::string& keyword, long page,
                                       const std::optional<NSNumber>& friendId, PageCompletion completion);
};
