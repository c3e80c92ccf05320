// The studio's saved tuning lists. A list's JSON text is stored and handed back unchanged.

#include "tools/devserver/DevServerState.h"

namespace devserver::detail {

namespace {

std::optional<long> parseId(const std::optional<std::string>& s) {
    if (!s || s->empty() || s->size() > 18 || s->find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(*s);
}

Dictionary listFields(const TuningList& list) {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("uid", list.uid);
    d.setObject("tuninglist_id", list.tuninglist_id);
    d.setObject("list_name", list.list_name);
    d.setObject("car_id", list.car_id);
    d.setObject("jsontxt", list.jsontxt);
    return d;
}

Reply invalidToken() {
    return Reply::failure(kResultInvalidToken, "登录已失效,请重新登录");
}

}  // namespace

void addTuningListRoutes(RouteRegistry& registry, State& state) {
    registry.add("", "car/gettuninglist.do", [&state](const Request& request) {
        auto token = request.param("user_token");
        std::lock_guard lock(state.mutex);
        SampleUser* user = token ? state.userForToken(*token) : nullptr;
        if (!user) return invalidToken();
        Array rows = Array::mutableArray();
        for (const auto& [id, list] : state.tuningLists)
            if (list.uid == user->user_id) rows.addObject(listFields(list));
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("data", rows);
        return Reply::success(fields);
    });

    // tuninglist_id 0 stores a new list; another id replaces that list of the same user.
    registry.add("", "car/uploadtuninglist.do", [&state](const Request& request) {
        auto token = request.param("user_token");
        std::lock_guard lock(state.mutex);
        SampleUser* user = token ? state.userForToken(*token) : nullptr;
        if (!user) return invalidToken();
        auto carId = parseId(request.param("car_id"));
        auto listId = parseId(request.param("tuninglist_id").value_or("0"));
        auto name = request.param("list_name");
        auto json = request.param("jsontxt");
        if (!carId) return Reply::failure(kResultBadRequest, "car_id 无效");
        if (!listId) return Reply::failure(kResultBadRequest, "tuninglist_id 无效");
        if (!name || name->empty()) return Reply::failure(kResultBadRequest, "缺少参数 list_name");
        if (!json) return Reply::failure(kResultBadRequest, "缺少参数 jsontxt");
        for (const auto& [id, list] : state.tuningLists)
            if (list.uid == user->user_id && list.list_name == *name && id != *listId)
                return Reply::failure(kResultTuningListNameTaken, "该名称已存在");
        long id = *listId;
        if (id == 0) {
            id = state.nextTuningListId++;
        } else {
            auto it = state.tuningLists.find(id);
            if (it == state.tuningLists.end() || it->second.uid != user->user_id)
                return Reply::failure(kResultNotFound, "改装方案不存在");
        }
        state.tuningLists[id] = TuningList{user->user_id, id, *name, *carId, *json};
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("tuninglist_id", id);
        return Reply::success(fields);
    });

    registry.add("", "car/deletetuninglist.do", [&state](const Request& request) {
        auto token = request.param("user_token");
        std::lock_guard lock(state.mutex);
        SampleUser* user = token ? state.userForToken(*token) : nullptr;
        if (!user) return invalidToken();
        auto id = parseId(request.param("tuninglist_id"));
        if (!id) return Reply::failure(kResultBadRequest, "tuninglist_id 无效");
        auto it = state.tuningLists.find(*id);
        if (it == state.tuningLists.end() || it->second.uid != user->user_id)
            return Reply::failure(kResultNotFound, "改装方案不存在");
        state.tuningLists.erase(it);
        return Reply::success();
    });

    // Shared lists are public: no token.
    registry.add("", "car/gettuninglistbyid.do", [&state](const Request& request) {
        auto id = parseId(request.param("tuninglist_id"));
        if (!id) return Reply::failure(kResultBadRequest, "tuninglist_id 无效");
        std::lock_guard lock(state.mutex);
        auto it = state.tuningLists.find(*id);
        if (it == state.tuningLists.end()) return Reply::failure(kResultNotFound, "改装方案不存在");
        return Reply::success(listFields(it->second));
    });
}

}  // namespace devserver::detail
