#include "studio/QVNCar.h"

#include "app/NSString+Extension.h"
#include "app/QVNAPIClient.h"
#include "app/QVNBrand.h"
#include "app/QVNTuningList.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"

RM_PROPERTIES(QVNCar)

// Wherever the studio is linked, the catalogue's cars are studio cars, which the car screens load
// and dress.
[[maybe_unused]] static const bool carRecordClassInstalled = [] {
    QVNBrand::setCarRecordClass(QVNCar::rmClass());
    return true;
}();

namespace {

// A car word from the catalogue names a folder of the car cache: nothing that leaves it.
bool isFolderWord(const std::optional<std::string>& word) {
    return word && !word->empty() && *word != "." && *word != ".." && word->find('/') == std::string::npos &&
           word->find('\0') == std::string::npos;
}

}  // namespace

QVNCar::~QVNCar() {
    if (asyncCount_) KVO::removeObserver(*asyncCount_, this, AsyncCount::kLoadImagesCountKey);
}

// ---- the description ------------------------------------------------------------------------------

void QVNCar::downLoadAndConfigureInformationWithCompletion(BoolCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    if (!cars_json) {
        if (completion) completion(false);
        return;
    }
    auto self = selfAs<QVNCar>();
    QVNAPIClient::getWithURL(
        *cars_json, Value(),
        [self, completion](const Value& reply, const Ref<NSError>& error) {
            if (error || !reply.isDictionary()) {
                if (completion) completion(false);
                return;
            }
            if (self->hasInformationCache()) {
                Value stored = self->cacheJson();
                const std::string* before = stored["updated"].string();
                const std::string* after = reply["updated"].string();
                if (!before || !after || *before != *after) {
                    // The previous revision's option files go before the new revision replaces it.
                    self->prepareForModify(stored);
                    self->clearOptionCacheFromDisk();
                }
            }
            self->prepareForModify(reply);
            self->saveFileWithJson(reply);
            if (completion) completion(true);
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(false);
        });
}

void QVNCar::prepareForModify(const Value& description) {
    NS_ASSERT_MAIN_THREAD();
    const Value& showcase = description["showcase"];
    showcaseSize_ = CGSizeMake(showcase["width"].doubleValue(), showcase["height"].doubleValue());
    suspension_ = showcase["suspension"].doubleValue();
    urlPrefix_ = NSString_Extension::carOptionURLPrefix() + "/" + car_en.value_or("");
    updated = description["updated"].optionalString();

    const std::string folder = cachePath();
    std::vector<Ref<QVNPart>> parts;
    if (const Array* list = description["parts"].array()) {
        for (const Value& part : *list)
            if (part.isDictionary()) parts.push_back(make<QVNPart>(part, urlPrefix_, folder));
    }
    std::vector<Ref<QVNModificator>> modificators;
    if (const Array* list = description["modificator"].array()) {
        for (const Value& preset : *list)
            if (preset.isDictionary()) modificators.push_back(make<QVNModificator>(preset));
    }
    parts_ = std::move(parts);
    modificators_ = std::move(modificators);
}

std::string QVNCar::cachePath() const {
    if (!isFolderWord(car_en)) return std::string();
    return NSString::stringByAppendingPathComponent(NSString_Extension::carCachePath(), *car_en);
}

bool QVNCar::hasInformationCache() const {
    const std::string folder = cachePath();
    return !folder.empty() && NSFileManager::defaultManager()->fileExistsAtPath(folder + "/" + *car_en);
}

void QVNCar::saveFileWithJson(const Value& json) const {
    const std::string folder = cachePath();
    if (folder.empty()) return;
    auto files = NSFileManager::defaultManager();
    if (!files->fileExistsAtPath(folder)) files->createDirectoryAtPath(folder, true);
    auto data = NSJSONSerialization::dataWithJSONObject(json, 0, nullptr);
    if (data) data->writeToFile(folder + "/" + *car_en, true);
}

Value QVNCar::cacheJson() const {
    if (!hasInformationCache()) return Value();
    auto data = NSData::dataWithContentsOfFile(cachePath() + "/" + *car_en);
    if (!data) return Value();
    auto text = NSString::initWithData(*data, NSUTF8StringEncoding);
    if (!text) return Value();
    return NSJSONSerialization::JSONObjectWithData(NSData::fromString(*text), NSJSONReadingMutableContainers,
                                                   nullptr);
}

// ---- selection ------------------------------------------------------------------------------------

Ref<QVNPart> QVNCar::selectedPartWithPartSelector(const std::string& selector) const {
    for (const auto& part : parts_)
        if (part->selector() == selector) return part;
    return nullptr;
}

void QVNCar::configureSelectedOptionsWithModificator(const Ref<QVNModificator>& modificator) {
    NS_ASSERT_MAIN_THREAD();
    if (!modificator) return;
    for (const auto& [selector, identifier] : modificator->partsAndOptions()) {
        for (const auto& part : parts_) {
            if (part->selector() != selector) continue;
            const std::string* wanted = identifier.string();
            if (!wanted || wanted->empty()) {
                part->selectedDefaultOption();
            } else if (Ref<QVNOption> option = part->optionWithIdentifier(*wanted)) {
                part->setSelectedOption(option);
            }
        }
    }
}

void QVNCar::configureSelectedOptionsWithTuningList(const Ref<QVNTuningList>& tuningList) {
    NS_ASSERT_MAIN_THREAD();
    if (!tuningList || !tuningList->optionGroup) return;
    const Dictionary group = *tuningList->optionGroup;
    for (const auto& [key, value] : group) {
        const std::string* name = value.string();
        if (!name) continue;
        for (const auto& part : parts_) {
            if (part->selector() != key) continue;
            if (Ref<QVNOption> option = part->optionWithName(*name)) part->setSelectedOption(option);
        }
    }
    for (const auto& [key, value] : group) {
        for (const auto& part : parts_) {
            if (part->selector() && key == *part->selector() + "_color")
                part->setTintColorWithDictionary(value);
        }
    }
}

void QVNCar::resetParts() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& part : parts_) part->selectedDefaultOption();
}

int QVNCar::countOfDownLoadOptionsWithModificator(const Ref<QVNModificator>& modificator) const {
    if (!modificator) return 0;
    int count = 0;
    for (const auto& [selector, identifier] : modificator->partsAndOptions()) {
        const std::string* wanted = identifier.string();
        if (!wanted) continue;
        for (const auto& part : parts_) {
            if (part->selector() != selector) continue;
            for (const auto& option : part->options()) {
                if (option->identifier() == *wanted && !option->hasCache() &&
                    (option->hasMetalFile() || option->hasAttach()))
                    ++count;
            }
        }
    }
    return count;
}

void QVNCar::tintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& part : parts_) part->setTintColor(color);
}

void QVNCar::setPartTintColor(const Ref<QVNPart>& part, const Value& dictionary) {
    NS_ASSERT_MAIN_THREAD();
    if (part) part->setTintColor(QVNPart::colorWithDictionary(dictionary));
}

// ---- the cache ------------------------------------------------------------------------------------

void QVNCar::setupOptionFromCache(const Ref<QVNOption>& option, const std::string& partSelector,
                                  BoolCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNPart> part = selectedPartWithPartSelector(partSelector);
    bool ok = true;
    if (option && option->hasCache()) {
        option->configureImageAndFramesFromCache();
        if (part) part->setSelectedOption(option);
    } else if (option && (option->hasMetalFile() || option->hasAttach())) {
        ok = false;
    } else if (part) {
        part->setSelectedOption(option);
    }
    if (completion) completion(ok);
}

void QVNCar::setupOptionsFromCacheWithCompletion(BoolCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    if (!hasSelectedOptionsCache()) {
        if (completion) completion(false);
        return;
    }
    for (const auto& part : parts_)
        if (part->selectedOption()) part->selectedOption()->configureImageAndFramesFromCache();
    if (completion) completion(true);
}

bool QVNCar::hasSelectedOptionsCache() const {
    for (const auto& part : parts_) {
        const Ref<QVNOption>& option = part->selectedOption();
        if (!option) continue;
        if (!option->hasCache() && (option->hasMetalFile() || option->hasAttach())) return false;
    }
    return true;
}

void QVNCar::clearOptionCacheFromDisk() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& part : parts_) part->clearCacheFromDisk();
}

void QVNCar::clearOptionsCacheFromMemory() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& part : parts_) part->clearCacheFromMemory();
}

void QVNCar::clearNotSelecteOptionsCacheFromMemory() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& part : parts_) {
        for (const auto& option : part->options())
            if (option != part->selectedOption()) option->clearCacheFromMemory();
    }
}

// ---- downloads ------------------------------------------------------------------------------------

const Ref<AsyncCount>& QVNCar::asyncCount() {
    if (!asyncCount_) {
        asyncCount_ = AsyncCount::asyncCount();
        KVO::addObserver(*asyncCount_, self(), AsyncCount::kLoadImagesCountKey, NSKeyValueObservingOptionNew);
    }
    return asyncCount_;
}

void QVNCar::observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                    const Dictionary&, void*) {
    if (keyPath != AsyncCount::kLoadImagesCountKey || !asyncCount_ || object.get() != asyncCount_.get())
        return;
    if (asyncCount_->loadImagesCount() != static_cast<long>(parts_.size())) return;
    if (auto delegate = delegate_.lock()) delegate->carLoadOptionsSuccess(selfAs<QVNCar>());
}

void QVNCar::downLoadAndSetupOptionsWithProgress(ProgressBlock progress, BoolCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    const Ref<AsyncCount>& count = asyncCount();
    count->resetCount();
    const std::uint64_t pass = ++pass_;
    passFailed_ = false;
    if (parts_.empty()) {
        // Nothing to load: the pass is complete as it starts.
        count->setLoadImagesCount(0);
        return;
    }
    auto self = selfAs<QVNCar>();
    // The parts of this pass, held apart from parts_, which a parse may replace meanwhile.
    const std::vector<Ref<QVNPart>> parts = parts_;
    for (const auto& part : parts) {
        if (pass != pass_ || passFailed_) break;
        Ref<QVNOption> option = part->selectedOption();
        if (!option) {
            // A part that shows nothing has nothing to wait for.
            count->setLoadImagesCount(count->loadImagesCount() + 1);
            continue;
        }
        option->downLoadImagesAndFramesWithProgress(
            progress, [self, pass, part, option, completion](const Ref<NSError>& error) {
                if (pass != self->pass_ || self->passFailed_) return;
                if (error) {
                    self->passFailed_ = true;
                    self->asyncCount_->resetCount();
                    if (completion) completion(false);
                    return;
                }
                if (part->tintColor()) option->setTintColor(part->tintColor());
                self->asyncCount_->setLoadImagesCount(self->asyncCount_->loadImagesCount() + 1);
            });
    }
}

void QVNCar::downLoadAndSetupOption(const Ref<QVNOption>& option, const std::string& partSelector,
                                    ErrorCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    if (!option) {
        if (completion) completion(nullptr);
        return;
    }
    auto self = selfAs<QVNCar>();
    option->downLoadImagesAndFramesWithProgress(
        nullptr, [self, option, partSelector, completion](const Ref<NSError>& error) {
            if (!error) {
                if (Ref<QVNPart> part = self->selectedPartWithPartSelector(partSelector))
                    part->setSelectedOption(option);
            }
            if (completion) completion(error);
        });
}
