#include "foundation/NSUUID.h"

#include <uuid/uuid.h>

#include <cstring>
#include <string_view>

NSUUID::NSUUID() {
    uuid_t raw;
    uuid_generate_random(raw);
    std::memcpy(bytes_.data(), raw, bytes_.size());
}

Ref<NSUUID> NSUUID::initWithUUIDString(const std::string& text) {
    // The library's parser accepts exactly the 36-character form; it needs a terminated string,
    // and an embedded NUL must not shorten what it sees.
    if (text.size() != 36 || text.find('\0') != std::string::npos) return nullptr;
    uuid_t raw;
    if (uuid_parse(text.c_str(), raw) != 0) return nullptr;
    Bytes bytes;
    std::memcpy(bytes.data(), raw, bytes.size());
    return make<NSUUID>(bytes);
}

std::string NSUUID::UUIDString() const {
    uuid_t raw;
    std::memcpy(raw, bytes_.data(), bytes_.size());
    char text[37];
    uuid_unparse_upper(raw, text);
    return std::string(text, 36);
}

int NSUUID::compare(const NSUUID& other) const {
    int c = std::memcmp(bytes_.data(), other.bytes_.data(), bytes_.size());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string NSUUID::description() const {
    return UUIDString();
}

bool NSUUID::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSUUID*>(&other);
    return o && o->bytes_ == bytes_;
}

std::size_t NSUUID::hash() const {
    std::size_t h = 1469598103934665603ull;
    for (auto b : bytes_) h = (h ^ b) * 1099511628211ull;
    return h;
}
