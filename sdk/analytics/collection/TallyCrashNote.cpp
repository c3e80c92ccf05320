#include "sdk/analytics/collection/TallyCrashNote.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>

#include "foundation/NSData.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallySettings.h"

namespace {

// The writer runs in a signal handler: no allocation, no locks, no formatting library; open,
// write and the back-trace functions only (primed when the handlers are installed, so they load
// nothing then).
//
// The note: a first line "tally-crash-note 1", then fields "<key>:<length>:<bytes>\n", then a
// line "stack" and one line per frame.

constexpr char kNoteMagic[] = "tally-crash-note 1\n";
constexpr std::size_t kNoteHeadBytes = 8192;
constexpr std::size_t kNotePathBytes = 1024;
constexpr std::size_t kNoteMaxBytes = 1 << 20;

struct CrashNote {
    std::mutex lock;  // between preparers; the handler never takes it
    bool armed = false;
    // Two slots: a preparer fills the one the handler is not reading, then publishes it.
    char head[2][kNoteHeadBytes];
    std::size_t headLength[2] = {0, 0};
    char path[2][kNotePathBytes];
    std::atomic<int> published{-1};  // -1: nothing is recorded
};
CrashNote gNote;

void appendField(std::string& out, const std::string& key, const std::string& value) {
    out += key + ":" + std::to_string(value.size()) + ":" + value + "\n";
}

// Async-signal-safe helpers.
void writeAll(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Digits of value into out (at least `width` wide, space padded on the right): the length.
std::size_t formatUnsigned(char* out, unsigned long long value, std::size_t width = 0) {
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    while (n < width) out[n++] = ' ';
    return n;
}

void writeNumberField(int fd, const char* key, unsigned long long value) {
    char number[24];
    std::size_t digits = formatUnsigned(number, value);
    char line[64];
    std::size_t at = 0;
    for (const char* k = key; *k; ++k) line[at++] = *k;
    line[at++] = ':';
    at += formatUnsigned(line + at, digits);
    line[at++] = ':';
    std::memcpy(line + at, number, digits);
    at += digits;
    line[at++] = '\n';
    writeAll(fd, line, at);
}

}  // namespace

namespace detail {

void tallyWriteCrashNote(int signal, void* const* frames, int count) {
    int slot = gNote.published.load(std::memory_order_acquire);
    if (slot < 0) return;
    int fd = ::open(gNote.path[slot], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    writeAll(fd, gNote.head[slot], gNote.headLength[slot]);
    writeNumberField(fd, "signal", static_cast<unsigned long long>(signal));
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    writeNumberField(fd, "time", static_cast<unsigned long long>(now.tv_sec));
    writeAll(fd, "stack\n", 6);
    for (int i = 1; i < count; ++i) {
        char index[24];
        writeAll(fd, index, formatUnsigned(index, static_cast<unsigned long long>(i - 1), 4));
        ::backtrace_symbols_fd(&frames[i], 1, fd);
    }
    ::fsync(fd);
    ::close(fd);
}

std::string tallyCrashNotePath() {
    return TallyUtility::cacheFilePath() + ".crash";
}

void tallyArmCrashNote(bool armed) {
    std::lock_guard<std::mutex> lock(gNote.lock);
    gNote.armed = armed;
    // Armed, the note waits for its head from the core; disarmed, the handler finds none.
    if (!armed) gNote.published.store(-1, std::memory_order_release);
}

bool tallyCrashNoteArmed() {
    std::lock_guard<std::mutex> lock(gNote.lock);
    return gNote.armed;
}

void tallyPrepareCrashNote(const TallyCrashNoteHead& fields) {
    std::lock_guard<std::mutex> lock(gNote.lock);
    if (!gNote.armed) {
        gNote.published.store(-1, std::memory_order_release);
        return;
    }
    std::string head = kNoteMagic;
    appendField(head, "version", TallyApp::appVersionString());
    appendField(head, "session", fields.session);
    appendField(head, "launch", NSString::stringWithFormat("%.3f", fields.launch));
    if (fields.image) {
        for (const auto& key : fields.image->allKeys()) {
            const Value& value = fields.image->objectForKey(key);
            if (value.isString()) appendField(head, "image." + key, *value.string());
        }
    }
    std::string path = tallyCrashNotePath();
    int slot = gNote.published.load(std::memory_order_relaxed) == 0 ? 1 : 0;
    if (head.size() > kNoteHeadBytes || path.size() >= kNotePathBytes) {
        // Too long to prepare: better no note than a wrong one.
        gNote.published.store(-1, std::memory_order_release);
        return;
    }
    std::memcpy(gNote.head[slot], head.data(), head.size());
    gNote.headLength[slot] = head.size();
    std::memcpy(gNote.path[slot], path.c_str(), path.size() + 1);
    gNote.published.store(slot, std::memory_order_release);
}

std::optional<TallyCrashNote> tallyTakeCrashNote() {
    std::string path = tallyCrashNotePath();
    auto data = NSData::dataWithContentsOfFile(path);
    if (!data) return std::nullopt;
    ::unlink(path.c_str());
    std::string_view text = data->view();
    auto damaged = [] {
        analyticsLog("A damaged crash note was dropped.");
        return std::nullopt;
    };
    if (text.size() > kNoteMaxBytes || text.substr(0, sizeof kNoteMagic - 1) != kNoteMagic) return damaged();
    text.remove_prefix(sizeof kNoteMagic - 1);
    TallyCrashNote note;
    Dictionary image = Dictionary::mutableDictionary();
    bool sawSignal = false;
    while (!text.starts_with("stack\n")) {
        std::size_t colon = text.find(':');
        if (colon == std::string_view::npos) return damaged();
        std::string_view key = text.substr(0, colon);
        std::size_t second = text.find(':', colon + 1);
        if (second == std::string_view::npos || second - colon - 1 > 7) return damaged();
        std::size_t length = 0;
        for (char c : text.substr(colon + 1, second - colon - 1)) {
            if (c < '0' || c > '9') return damaged();
            length = length * 10 + static_cast<std::size_t>(c - '0');
        }
        if (second - colon == 1 || text.size() - second - 1 < length + 1 || text[second + 1 + length] != '\n')
            return damaged();
        std::string value(text.substr(second + 1, length));
        text.remove_prefix(second + 2 + length);
        auto number = [&value](long long& out) {
            char* end = nullptr;
            out = std::strtoll(value.c_str(), &end, 10);
            return !value.empty() && end && *end == '\0';
        };
        long long n = 0;
        if (key == "version") {
            note.version = value;
        } else if (key == "session") {
            note.session = value;
        } else if (key == "launch") {
            note.launch = std::strtod(value.c_str(), nullptr);
        } else if (key == "signal") {
            if (!number(n) || n <= 0 || n > 64) return damaged();
            note.signal = static_cast<int>(n);
            sawSignal = true;
        } else if (key == "time") {
            if (!number(n) || n < 0) return damaged();
            note.time = static_cast<double>(n);
        } else if (key.starts_with("image.")) {
            image.setObject(std::string(key.substr(6)), Value(value));
        }
    }
    if (!sawSignal) return damaged();
    text.remove_prefix(6);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        // A last line without its end was cut by the crash; it is kept as far as it goes.
        note.stack.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    if (!image.empty()) note.image = image;
    return note;
}

}  // namespace detail
