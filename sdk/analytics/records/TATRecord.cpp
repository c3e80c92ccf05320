#include "sdk/analytics/records/TATRecord.h"

#include <algorithm>
#include <cstdlib>
#include <new>

TATRecordArena* TATRecordArena::open() {
    return new TATRecordArena();
}

void TATRecordArena::close() noexcept {
    std::int64_t settle = made_ - kOpenHold;
    if (live_.fetch_add(settle, std::memory_order_acq_rel) + settle == 0) delete this;
}

TATRecordArena::~TATRecordArena() {
    for (auto* block : blocks_) ::operator delete(block);
}

void* TATRecordArena::allocateInNewBlock(std::size_t bytes, std::size_t alignment) {
    // Each block twice the last, up to a bound, so that a small read takes little and a large
    // one few blocks; a record larger than a block has one of its own.
    std::size_t size = size_ ? std::min(size_ * 2, kLargestBlock) : kFirstBlock;
    size = std::max(size, bytes + alignment);
    blocks_.reserve(blocks_.size() + 1);
    auto* block = static_cast<std::uint8_t*>(::operator new(size));
    blocks_.push_back(block);
    // operator new aligns for any fundamental type; records need no more.
    block_ = block;
    size_ = size;
    used_ = 0;
    return allocate(bytes, alignment);
}

namespace detail {

void tatRaiseProtocol(std::string reason) {
    throw TAWireProtocolException::exceptionWithName(kTATProtocolExceptionName, std::move(reason));
}

std::string tatFormatDouble(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

std::string tatDescribeObjects(const std::vector<Ref<NSObject>>& objects) {
    Array items = Array::mutableArray(objects.size());
    for (auto& object : objects) items.addObject(object ? Value(object) : Value::null());
    return items.description();
}

std::string tatDescribeObjects(const std::vector<std::pair<std::string, Ref<NSObject>>>& objects) {
    Dictionary entries = Dictionary::mutableDictionary(objects.size());
    for (auto& [key, object] : objects) entries.setObject(key, object ? Value(object) : Value::null());
    return entries.description();
}

Dictionary tatReadNumberMap(TATProtocol& protocol) {
    int keyType = 0, valueType = 0, size = 0;
    protocol.readMapBegin(&keyType, &valueType, &size);
    // Built by hand so that many entries stay linear; a later equal key replaces the earlier
    // value in its place.
    std::vector<Dictionary::Entry> entries;
    std::unordered_map<std::string, std::size_t> positions;
    for (int i = 0; i < size; ++i) {
        auto key = protocol.readString();
        std::int32_t number = protocol.readI32();
        if (!key) tatRaiseProtocol("Map key is not valid UTF-8");
        auto [it, inserted] = positions.emplace(*key, entries.size());
        if (inserted) {
            entries.emplace_back(std::move(*key), Value(number));
        } else {
            entries[it->second].second = Value(number);
        }
    }
    protocol.readMapEnd();
    return Dictionary::withUniqueEntries(std::move(entries), true);
}

void tatWriteNumberMap(TATProtocol& protocol, const Dictionary& map) {
    protocol.writeMapBegin(kTATTypeString, kTATTypeI32, static_cast<int>(map.count()));
    for (auto& [key, value] : map) {
        protocol.writeString(std::string_view(key));
        // Only the low 32 bits of the number travel.
        protocol.writeI32(static_cast<std::int32_t>(static_cast<std::uint32_t>(value.longLongValue())));
    }
    protocol.writeMapEnd();
}

}  // namespace detail
