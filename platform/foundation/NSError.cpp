#include "foundation/NSError.h"

NSError::NSError(std::string domain, long code, Dictionary userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

std::string NSError::localizedDescription() const {
    if (auto s = userInfo_[NSLocalizedDescriptionKey].string()) return *s;
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::optional<std::string> NSError::localizedFailureReason() const {
    return userInfo_[NSLocalizedFailureReasonErrorKey].optionalString();
}

std::optional<std::string> NSError::localizedRecoverySuggestion() const {
    return userInfo_[NSLocalizedRecoverySuggestionErrorKey].optionalString();
}

std::string NSError::description() const {
    std::string out = "Error Domain=" + domain_ + " Code=" + std::to_string(code_);
    if (auto s = userInfo_[NSLocalizedDescriptionKey].string()) out += " \"" + *s + "\"";
    if (!userInfo_.empty()) out += " UserInfo=" + userInfo_.description();
    return out;
}

bool NSError::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSError*>(&other);
    return o && o->domain_ == domain_ && o->code_ == code_ && o->userInfo_ == userInfo_;
}

std::size_t NSError::hash() const {
    return std::hash<std::string>()(domain_) ^ static_cast<std::size_t>(code_);
}
