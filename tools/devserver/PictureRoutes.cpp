// Picture upload and serving. The declared type of an upload is not trusted: what is served
// comes from the bytes' signature.

#include "tools/devserver/DevServerState.h"

namespace devserver::detail {

void addPictureRoutes(RouteRegistry& registry, State& state) {
    registry.add("", "upload/upload.do", [&state](const Request& request) {
        const MultipartPart* file = request.part("file");
        if (!file) return Reply::failure(kResultBadRequest, "缺少图片");
        if (sniffImageType(file->content).empty()) return Reply::failure(kResultBadRequest, "不是图片");
        std::lock_guard lock(state.mutex);
        std::string id = state.storePicture(file->content, "");
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("url", state.pictureURL(id));
        return Reply::success(fields);
    });

    registry.addStatic(kPicturePrefix, [&state](const std::string& id) -> std::optional<StaticFile> {
        std::lock_guard lock(state.mutex);
        auto it = state.pictures.find(id);
        if (it == state.pictures.end()) return std::nullopt;
        return StaticFile{it->second.bytes, it->second.contentType, it->second.lastModified};
    });
}

}  // namespace devserver::detail
