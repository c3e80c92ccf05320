#include "information/QVNVideo.h"

#include "app/QVNAPIClient.h"

namespace {

std::optional<NSNumber> numberOf(const Value& value) {
    if (const NSNumber* number = value.number()) return *number;
    return std::nullopt;
}

std::optional<std::string> textOf(const Value& value) {
    if (const std::string* text = value.string()) return *text;
    return std::nullopt;
}

}  // namespace

QVNVideo::QVNVideo(const Value& attributes)
    : identifier_(numberOf(attributes["video_id"])),
      video_title_(textOf(attributes["video_title"])),
      video_category_(numberOf(attributes["video_category"])),
      video_time_(textOf(attributes["video_time"])),
      video_pic_(textOf(attributes["video_pic"])),
      video_status_(numberOf(attributes["video_status"])),
      video_view_(numberOf(attributes["video_view"])) {}

void QVNVideo::fetchVideoListIndex(const NSNumber& index, Block block) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("video_id", index);
    params.setObject("video_category", NSNumber::numberWithInt(0));
    QVNAPIClient::sharedClient()->GET(
        "video/getvideolist.do", Value(params),
        [block](const Ref<HKHTTPRequestOperation>&, const Value& reply) {
            if (!block) return;
            const Value& code = reply["resultCode"];
            if (code.number() && !code.isString() && code.number()->longLongValue() == 0) {
                List videos;
                if (const Array* rows = reply["data"].array()) {
                    for (const Value& row : *rows)
                        if (row.dictionary()) videos.push_back(make<QVNVideo>(row));
                }
                return block(nullptr, videos);
            }
            Dictionary info = Dictionary::mutableDictionary();
            if (const std::string* message = reply["errmsg"].string())
                info.setObject(QVNAPIErrorMessageKey, *message);
            block(NSError::errorWithDomain(QVNAPIErrorDomain, QVNResultCodeTransportFailure, info),
                  std::nullopt);
        },
        [block](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>& error) {
            if (block) block(error, std::nullopt);
        });
}
