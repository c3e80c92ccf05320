#include "foundation/NSValue.h"

#include <charconv>

NSValue::NSValue(const void* bytes, std::size_t size, std::string objCType) : objCType_(std::move(objCType)) {
    if (bytes && size > 0) {
        auto p = static_cast<const std::uint8_t*>(bytes);
        bytes_.assign(p, p + size);
    }
}

bool NSValue::getValue(void* out, std::size_t size) const {
    if (!out || size != bytes_.size()) return false;
    if (size > 0) std::memcpy(out, bytes_.data(), size);
    return true;
}

const void* NSValue::pointerValue() const {
    const void* p = nullptr;
    if (objCType_ == "^v" && bytes_.size() == sizeof p) std::memcpy(&p, bytes_.data(), sizeof p);
    return p;
}

bool NSValue::isEqualToValue(const NSValue& other) const {
    return objCType_ == other.objCType_ && bytes_ == other.bytes_;
}

bool NSValue::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSValue*>(&other);
    return o && isEqualToValue(*o);
}

std::size_t NSValue::hash() const {
    std::size_t h = std::hash<std::string>()(objCType_);
    for (auto b : bytes_) h = (h ^ b) * 1099511628211ull;
    return h;
}

namespace {

// The shortest text that reads back as the same double ("1", "0.5", "1e+20").
std::string number(double v) {
    char buf[32];
    auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
}

std::string doubles(const std::vector<std::uint8_t>& bytes, std::size_t count, const char* open,
                    const char* close) {
    std::string out = open;
    for (std::size_t i = 0; i < count; ++i) {
        double v;
        std::memcpy(&v, bytes.data() + i * sizeof(double), sizeof v);
        if (i) out += ", ";
        out += number(v);
    }
    return out + close;
}

}  // namespace

std::string NSValue::description() const {
    const std::size_t d = sizeof(double);
    if (objCType_ == "{CGPoint=dd}" && bytes_.size() == 2 * d)
        return "NSPoint: " + doubles(bytes_, 2, "{", "}");
    if (objCType_ == "{CGSize=dd}" && bytes_.size() == 2 * d)
        return "NSSize: " + doubles(bytes_, 2, "{", "}");
    if (objCType_ == "{UIEdgeInsets=dddd}" && bytes_.size() == 4 * d)
        return "UIEdgeInsets: " + doubles(bytes_, 4, "{", "}");
    if (objCType_ == "{CGRect={CGPoint=dd}{CGSize=dd}}" && bytes_.size() == 4 * d) {
        std::vector<std::uint8_t> origin(bytes_.begin(), bytes_.begin() + 2 * d);
        std::vector<std::uint8_t> size(bytes_.begin() + 2 * d, bytes_.end());
        return "NSRect: {" + doubles(origin, 2, "{", "}") + ", " + doubles(size, 2, "{", "}") + "}";
    }
    static const char hex[] = "0123456789abcdef";
    std::string out = "<";
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i && i % 4 == 0) out += ' ';
        out += hex[bytes_[i] >> 4];
        out += hex[bytes_[i] & 15];
    }
    return out + ">";
}
