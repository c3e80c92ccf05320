#pragma once
// QVNMessageCommunicator: the inbox service. It fetches a category of the signed-in user's inbox
// page by page (the first page with cursor 0, each further page after the id of the last row
// held), clears a category, asks whether anything is unread and marks messages read. The token
// is the signed-in user's, read from the user store at the moment of each call.
//
//   first page / next page   GET  message/getmessage.do  token, category, message_id
//   clear                    GET  message/delete.do      token, category
//   unread                   POST message/checkread.do   token
//   mark read                POST message/updateread.do  token, category, sender_uid (mail only)
//
// Paging answers the rows, or nil for any failure; a next page without rows is nil too (the
// lists read it as the end). Signed out, the paging calls send nothing and answer nil at once, so
// a list's refresh ends. The unread check answers the "%@" text of the reply's "unread" value
// ("1" means something is unread). A token of nil sends the POSTs without parameters.
//
// The shared store holds no server state: each screen keeps the rows it shows. Main thread only;
// completions run on the main queue.

#include <functional>
#include <optional>
#include <string>

#include "app/QVNMessage.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class QVNMessageCommunicator : public NSObject {
  public:
    // Array of QVNMessage, or nil.
    using PageCompletion = std::function<void(const std::optional<Array>& messages)>;
    using ResultCompletion = std::function<void(const Value& result, const Ref<NSError>& error)>;
    using UnreadCompletion =
        std::function<void(const std::optional<std::string>& text, const Ref<NSError>& error)>;

    // initPrivate: made only by sharedStore.
    QVNMessageCommunicator();
    std::string className() const override { return "QVNMessageCommunicator"; }

    // The one store, made on first use.
    static Ref<QVNMessageCommunicator> sharedStore();
    static void cleanMessageForCagegory(const std::optional<NSNumber>& category, ResultCompletion completion);
    static void checkReadWithUerToken(const std::optional<std::string>& token, UnreadCompletion completion);
    static void updateReadWithUserToken(const std::optional<std::string>& token,
                                        const std::optional<NSNumber>& category,
                                        const std::optional<NSNumber>& senderUid,
                                        ResultCompletion completion);

    void fetchMessagesForCategory(const std::optional<NSNumber>& category, PageCompletion completion);
    // The rows after the given one; a nil message asks from the start.
    void fetchMoreMessagesForCategory(const std::optional<NSNumber>& category,
                                      const Ref<QVNMessage>& lastMessage, PageCompletion completion);

    // Nothing fills it: always empty, so the lists refresh at once.
    const Array& messages() const { return messages_; }
    const Array& privateMessages() const { return privateMessages_; }
    void setPrivateMessages(const Array& messages) { privateMessages_ = messages; }

  private:
    void setupPrivateItems();
    void fetch(const std::optional<NSNumber>& category, const std::optional<NSNumber>& cursor, bool nextPage,
               PageCompletion completion);

    Array messages_;
    Array privateMessages_;
};
