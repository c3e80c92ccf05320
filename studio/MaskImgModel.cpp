#include "studio/MaskImgModel.h"

#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "images/UIImageView+WebCache.h"
#include "uikit/UINib.h"

RM_PROPERTIES(MaskImgModel, RM_PROPERTY(pic), RM_PROPERTY(type), RM_PROPERTY(wid))

void MaskImgModel::getMarkImgWithType(const Value& type, Completion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("type", type);
    QVNAPIClient::getWithURL(
        QVNConfiguration::watermarkURL(), Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, error);
                return;
            }
            completion(modelsWithReply(reply), nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

Array MaskImgModel::modelsWithReply(const Value& reply) {
    Array models = Array::mutableArray();
    const Value& data = reply["data"];
    if (!data.array()) return models;
    // A row that is not an object describes no watermark; the mapping would make an empty one.
    for (const Value& row : *data.array()) {
        if (!row.isDictionary()) continue;
        if (Ref<MaskImgModel> model = NSObject_RMKeyValue::objectWithKeyValues<MaskImgModel>(row))
            models.addObject(Value(model));
    }
    return models;
}

MaskImgCell::MaskImgCell(UITableViewCellStyle style, const std::optional<std::string>& reuseIdentifier)
    : UITableViewCell(style, reuseIdentifier) {}

Ref<MaskImgCell> MaskImgCell::cellWithTableView(const Ref<UITableView>& tableView) {
    if (tableView)
        if (auto cell = std::dynamic_pointer_cast<MaskImgCell>(
                tableView->dequeueReusableCellWithIdentifier(kIdentifier)))
            return cell;
    auto nib = UINib::nibWithNibName(kNibName, nullptr);
    if (!nib) return nullptr;
    auto objects = nib->instantiateWithOwner(nullptr);
    return objects.empty() ? nullptr : std::dynamic_pointer_cast<MaskImgCell>(objects.back());
}

void MaskImgCell::setMaskImgModel(const Ref<MaskImgModel>& model) {
    maskImgModel_ = model;
    if (!model) return;
    Ref<UIImageView> view = maskImageView.lock();
    if (!view) return;
    Ref<NSURL> url = model->pic ? NSURL::URLWithString(*model->pic) : nullptr;
    UIImageView_WebCache::wi_setImageWithURL(view, url, Ref<UIImage>());
}
