#include "app/RMPropertyType.h"

#include <cctype>
#include <unordered_map>

#include "app/RMFoundation.h"

Ref<RMPropertyType> RMPropertyType::cachedTypeWithCode(const std::string& code) {
    static auto* cache = new std::unordered_map<std::string, Ref<RMPropertyType>>();
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    auto it = cache->find(code);
    if (it != cache->end()) return it->second;
    auto type = make<RMPropertyType>();
    type->setCode(code);
    cache->emplace(code, type);
    return type;
}

void RMPropertyType::setCode(const std::string& code) {
    code_ = code;
    idType_ = numberType_ = boolType_ = fromFoundation_ = KVCDisabled_ = false;
    typeClass_ = nullptr;

    if (code == "@") {
        idType_ = true;
    } else if (code.empty()) {
        KVCDisabled_ = true;
    } else if (code.size() >= 4 && code[0] == '@' && code[1] == '"') {
        // @"Name": the class name sits between the quotes.
        code_ = code.substr(2, code.size() - 3);
        typeClass_ = RMClass::classNamed(code_);
        fromFoundation_ = RMFoundation::isClassFromFoundation(typeClass_);
        const RMClass* number = RMClass::classNamed("NSNumber");
        numberType_ = typeClass_ && typeClass_->isSubclassOfClass(number);
    } else if (code == ":" || code == "^{objc_ivar=}" || code == "^{objc_method=}") {
        KVCDisabled_ = true;
    }

    if (code_.size() == 1) {
        switch (std::tolower(static_cast<unsigned char>(code_[0]))) {
            case 'i':
            case 's':
            case 'f':
            case 'd':
            case 'q':
                numberType_ = true;
                break;
            case 'c':
            case 'b':
                numberType_ = true;
                boolType_ = true;
                break;
            default:
                break;
        }
    }
}
