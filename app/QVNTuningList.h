#pragma once
// QVNTuningList: a named, saved dressing of one car, and its four server calls.
//
// The dressing ("option group") is a JSON object: part selector -> the chosen option's name, and
// part selector + "_color" -> {"r","g","b" (0-255), "isColor" (0 or 1)}. The server keeps it as
// text (jsontxt) and hands it back unchanged.
//
// Calls (all through the API client's GET wrapper, parameters in the query string; a non-zero
// "resultCode" arrives as a "QVNAPI" error whose code is the result code, e.g. 10003 for an
// expired sign-in and 50002 for a name already taken):
//   list mine   car/gettuninglist.do     user_token
//   store       car/uploadtuninglist.do  car_id, tuninglist_id = 0, user_token, list_name, jsontxt
//   update      car/uploadtuninglist.do  the same with the list's own id and its stored jsontxt
//   delete      car/deletetuninglist.do  tuninglist_id, user_token
//   one by id   car/gettuninglistbyid.do tuninglist_id (no token)
// The token is the signed-in user's; signed out, the parameter is left out.
//
// Completions run on the main thread.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class QVNTuningList : public NSObject {
  public:
    // Array of QVNTuningList (nil on error) and the error.
    using ListCompletion = std::function<void(const std::optional<Array>& lists, const Ref<NSError>& error)>;
    using StoreCompletion =
        std::function<void(const std::optional<NSNumber>& listId, const Ref<NSError>& error)>;
    using ErrorCompletion = std::function<void(const Ref<NSError>& error)>;
    using RecordCompletion = std::function<void(const Ref<QVNTuningList>& list)>;
    using UpdateCompletion = std::function<void(bool success, const std::optional<NSNumber>& listId)>;

    QVNTuningList() = default;
    // initWithDict: the five wire keys; optionGroup parsed from jsontxt (nil when it is not a
    // JSON object). Ids given as decimal text are read as numbers.
    explicit QVNTuningList(const Value& dict);
    std::string className() const override { return "QVNTuningList"; }

    std::optional<NSNumber> tuninglist_id;
    std::optional<std::string> list_name;
    std::optional<NSNumber> car_id;
    std::optional<NSNumber> uid;
    std::optional<Dictionary> optionGroup;
    std::optional<std::string> jsontxt;
    // The list screen's local mark; never sent.
    bool selected = false;

    static void getTuninglistWithCompletion(ListCompletion completion);
    // Serialises optionGroup into jsontxt first (jsontxt stays when there is no group).
    static void upLoadTuningList(const Ref<QVNTuningList>& list, StoreCompletion completion);
    static void deleteTuningList(const Ref<QVNTuningList>& list, ErrorCompletion completion);
    static void getTuninglistByTuningListId(const std::optional<NSNumber>& listId,
                                            RecordCompletion completion);
    static void updateTuningList(const Ref<QVNTuningList>& list, UpdateCompletion completion);

    // The option group of a JSON text, nil when it is not a JSON object.
    static std::optional<Dictionary> optionGroupWithText(const std::optional<std::string>& text);
};
