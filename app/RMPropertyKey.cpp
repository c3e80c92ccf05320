#include "app/RMPropertyKey.h"

#include <unordered_map>

#include "app/RMClass.h"
#include "foundation/NSString.h"

long RMPropertyKey::index() const {
    return NSString::integerValue(name_);
}

Value RMPropertyKey::valueInObject(const Value& object) const {
    if (type_ == RMPropertyKeyTypeDictionary) {
        if (const Dictionary* dictionary = object.dictionary()) return dictionary->objectForKey(name_);
        return Value();
    }
    if (const Array* array = object.array()) {
        if (array->empty()) return Value();
        long i = index();
        if (i < 0 || static_cast<std::size_t>(i) >= array->count()) return Value();
        return (*array)[static_cast<std::size_t>(i)];
    }
    return Value();
}

std::string RMPropertyKey::description() const {
    return (type_ == RMPropertyKeyTypeArray ? "[" + name_ + "]" : name_);
}

namespace detail {

namespace {
std::vector<Ref<RMPropertyKey>> parseKeyPath(const std::string& key) {
    std::vector<Ref<RMPropertyKey>> steps;
    for (const std::string& segment : NSString::componentsSeparatedByString(key, ".")) {
        std::size_t bracket = segment.find('[');
        if (bracket == std::string::npos) {
            steps.push_back(make<RMPropertyKey>(segment, RMPropertyKeyTypeDictionary));
            continue;
        }
        std::string rest = segment;
        std::string prefix = segment.substr(0, bracket);
        if (!prefix.empty()) {
            steps.push_back(make<RMPropertyKey>(prefix, RMPropertyKeyTypeDictionary));
            rest = NSString::stringByReplacingOccurrencesOfString(rest, prefix, "");
        }
        rest = NSString::stringByReplacingOccurrencesOfString(rest, "[", "");
        std::vector<std::string> pieces = NSString::componentsSeparatedByString(rest, "]");
        for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
            steps.push_back(make<RMPropertyKey>(pieces[i], RMPropertyKeyTypeArray));
        }
    }
    return steps;
}
}  // namespace

RMPropertyKeyPath rmParsedKeyPath(const std::string& key) {
    if (key.empty()) return nullptr;
    static auto* cache = new std::unordered_map<std::string, RMPropertyKeyPath>();
    std::lock_guard<std::recursive_mutex> guard(rmLock());
    auto it = cache->find(key);
    if (it != cache->end()) return it->second;
    auto path = std::make_shared<const std::vector<Ref<RMPropertyKey>>>(parseKeyPath(key));
    cache->emplace(key, path);
    return path;
}

}  // namespace detail
