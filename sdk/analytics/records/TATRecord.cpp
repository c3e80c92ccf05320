#include "sdk/analytics/records/TATRecord.h"

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
