#include "app/QVNTuningList.h"

#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "foundation/NSJSONSerialization.h"

namespace {

constexpr char kListPath[] = "car/gettuninglist.do";
constexpr char kStorePath[] = "car/uploadtuninglist.do";
constexpr char kDeletePath[] = "car/deletetuninglist.do";
constexpr char kByIdPath[] = "car/gettuninglistbyid.do";

std::optional<NSNumber> numberValue(const Value& value) {
    if (const NSNumber* number = value.number()) return *number;
    if (const std::string* text = value.string()) {
        if (!text->empty() && text->size() <= 18 &&
            text->find_first_not_of("0123456789") == std::string::npos)
            return NSNumber::numberWithLongLong(std::stoll(*text));
    }
    return std::nullopt;
}

void setToken(Dictionary& params) {
    if (auto token = QVNUserManager::shareObject()->currentUserToken())
        params.setObject(QVNUserTokenParameterName, *token);
}

void setIfPresent(Dictionary& params, const char* key, const std::optional<NSNumber>& number) {
    if (number) params.setObject(key, *number);
}

// What the store call sends for a list: a new one is stored under the id 0.
Dictionary storeParams(const QVNTuningList& list, bool asNew) {
    Dictionary params = Dictionary::mutableDictionary();
    setIfPresent(params, "car_id", list.car_id);
    if (asNew)
        params.setObject("tuninglist_id", 0);
    else
        setIfPresent(params, "tuninglist_id", list.tuninglist_id);
    setToken(params);
    if (list.list_name) params.setObject("list_name", *list.list_name);
    if (list.jsontxt) params.setObject("jsontxt", *list.jsontxt);
    return params;
}

}  // namespace

QVNTuningList::QVNTuningList(const Value& dict) {
    uid = numberValue(dict["uid"]);
    tuninglist_id = numberValue(dict["tuninglist_id"]);
    list_name = dict["list_name"].optionalString();
    car_id = numberValue(dict["car_id"]);
    jsontxt = dict["jsontxt"].optionalString();
    optionGroup = optionGroupWithText(jsontxt);
}

std::optional<Dictionary> QVNTuningList::optionGroupWithText(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    Value group = NSJSONSerialization::JSONObjectWithData(NSData::fromString(*text),
                                                          NSJSONReadingMutableContainers, nullptr);
    if (const Dictionary* dictionary = group.dictionary()) return *dictionary;
    return std::nullopt;
}

void QVNTuningList::getTuninglistWithCompletion(ListCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    setToken(params);
    QVNAPIClient::getWithURL(
        kListPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, error);
                return;
            }
            Array lists = Array::mutableArray();
            if (const Array* rows = reply["data"].array()) {
                for (const Value& row : *rows)
                    if (row.isDictionary()) lists.addObject(Value(make<QVNTuningList>(row)));
            }
            completion(lists, nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

void QVNTuningList::upLoadTuningList(const Ref<QVNTuningList>& list, StoreCompletion completion) {
    if (!list) {
        if (completion) completion(std::nullopt, nullptr);
        return;
    }
    if (list->optionGroup) {
        if (auto data = NSJSONSerialization::dataWithJSONObject(Value(*list->optionGroup), 0, nullptr))
            list->jsontxt = data->toString();
    }
    QVNAPIClient::getWithURL(
        kStorePath, Value(storeParams(*list, true)),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, error);
            } else {
                completion(numberValue(reply["tuninglist_id"]), nullptr);
            }
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

void QVNTuningList::updateTuningList(const Ref<QVNTuningList>& list, UpdateCompletion completion) {
    if (!list) {
        if (completion) completion(false, std::nullopt);
        return;
    }
    QVNAPIClient::getWithURL(
        kStorePath, Value(storeParams(*list, false)),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(false, std::nullopt);
            } else {
                completion(true, numberValue(reply["tuninglist_id"]));
            }
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(false, std::nullopt);
        });
}

void QVNTuningList::deleteTuningList(const Ref<QVNTuningList>& list, ErrorCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (list) setIfPresent(params, "tuninglist_id", list->tuninglist_id);
    setToken(params);
    QVNAPIClient::getWithURL(
        kDeletePath, Value(params),
        [completion](const Value&, const Ref<NSError>& error) {
            if (completion) completion(error);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(error);
        });
}

void QVNTuningList::getTuninglistByTuningListId(const std::optional<NSNumber>& listId,
                                                RecordCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    setIfPresent(params, "tuninglist_id", listId);
    QVNAPIClient::getWithURL(
        kByIdPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            completion(error || !reply.isDictionary() ? nullptr : make<QVNTuningList>(reply));
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(nullptr);
        });
}
