#include "foundation/NSUserDefaults.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/FileWriting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSSandbox.h"

#if __has_include("foundation/NSPropertyListSerialization.h")
#include "foundation/NSPropertyListSerialization.h"
#define APP_HAVE_PROPERTY_LISTS 1
#else
#define APP_HAVE_PROPERTY_LISTS 0
#endif

namespace {

constexpr int kMaxDepth = 512;  // deeper than any settings tree; guards the recursion

bool isPlist(const Value& value, int depth) {
    if (depth > kMaxDepth) return false;
    switch (value.kind()) {
        case Value::Kind::Number:
        case Value::Kind::String:
        case Value::Kind::Data:
        case Value::Kind::Date:
            return true;
        case Value::Kind::Array:
            for (const auto& item : *value.array()) {
                if (!isPlist(item, depth + 1)) return false;
            }
            return true;
        case Value::Kind::Dictionary:
            for (const auto& [key, item] : *value.dictionary()) {
                if (!isPlist(item, depth + 1)) return false;
            }
            return true;
        default:
            return false;
    }
}

std::string preferencesFile(const std::optional<std::string>& suiteName) {
    std::string name;
    if (suiteName && !suiteName->empty()) {
        name = *suiteName;
    } else {
        name = NSBundle::mainBundle()->bundleIdentifier().value_or("");
    }
    // A name is one file name: no folders, never empty.
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    if (name.empty() || name == "." || name == "..") name = "defaults";
    return NSSandbox::preferencesPath() + "/" + name + ".plist";
}

// The NSString reading of a Boolean: skips blanks, then Y/y/T/t, or an optionally signed number
// whose digits are not all zero.
bool textAsBool(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i >= s.size()) return false;
    char c = s[i];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
    if (c == '+' || c == '-') ++i;
    while (i < s.size() && s[i] == '0') ++i;
    return i < s.size() && s[i] >= '1' && s[i] <= '9';
}

struct Standard {
    std::mutex mutex;
    Ref<NSUserDefaults> defaults;
    std::uint64_t generation = 0;
    std::string root;
};

Standard& standard() {
    static auto* s = new Standard();
    return *s;
}

// Every defaults object alive, so that termination and exit can write what each still holds.
// Never destroyed: the exit hook runs among the static destructors.
struct LiveDefaults {
    std::mutex mutex;
    std::vector<NSUserDefaults*> objects;
};

LiveDefaults& live() {
    static auto* l = new LiveDefaults();
    return *l;
}

std::atomic<std::uint64_t> gWrites{0};

struct WriteHook {
    std::mutex mutex;
    std::function<void(const std::string&)> hook;
};

WriteHook& writeHook() {
    static auto* h = new WriteHook();
    return *h;
}

WriteHook& temporaryFileHook() {
    static auto* h = new WriteHook();
    return *h;
}

std::function<void(const std::string&)> hookOf(WriteHook& h) {
    std::lock_guard<std::mutex> guard(h.mutex);
    return h.hook;
}

// --- Temporary files ---------------------------------------------------------------------------
// A write goes to "<file>.tmp-<16 hex digits>" beside its file and is renamed over it. The writer
// holds an exclusive advisory lock (flock) on the temporary file from just after making it until
// it has been renamed or removed. The lock goes with the writer's open file, so the kernel drops
// it when the writer dies, whatever killed it: a temporary file that can be locked is one nobody
// is writing, and may go. flock (unlike record locks) also keeps two threads of one process apart.
constexpr char kTemporaryMarker[] = ".plist.tmp-";
constexpr std::size_t kTemporaryDigits = 16;

bool isTemporaryName(const char* name) {
    const std::size_t length = std::strlen(name);
    const std::size_t marker = sizeof kTemporaryMarker - 1;
    if (length <= marker + kTemporaryDigits) return false;
    const char* tail = name + length - kTemporaryDigits - marker;
    if (std::strncmp(tail, kTemporaryMarker, marker) != 0) return false;
    for (const char* c = tail + marker; *c; ++c) {
        if (!std::isxdigit(static_cast<unsigned char>(*c))) return false;
    }
    return true;
}

// Whether `path` still names the file open as `fd`.
bool namesOpenFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

// Removes the temporary files in `folder` that no live writer holds: what writers killed mid-write
// left behind. Anything else there is left alone.
void removeAbandonedTemporaryFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name)) continue;
        const std::string path = folder + "/" + entry->d_name;
        // Never follows a link, nor waits on a pipe someone put there under such a name.
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // A writer that has just made its file but not yet locked it may lose it here; it finds
        // that out once it holds its lock, and starts over with a new file.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            namesOpenFile(fd, path))
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

// A new temporary file for `target`, open for writing and locked; -1 when none can be made.
int openLockedTemporaryFile(const std::string& target, std::string* temporary) {
    thread_local std::mt19937_64 rng{std::random_device{}()};
    for (int attempt = 0; attempt < 8; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(rng()));
        *temporary = target + suffix;
        int fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        // On a file system without locks no cleaner can lock the file either: it is written
        // unlocked, and stays until renamed.
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (namesOpenFile(fd, *temporary)) return fd;
        // Removed by a cleaner in the moment before the lock: start over with a new file.
        ::close(fd);
    }
    return -1;
}

// One serial queue for the delayed writes, off the main thread; never destroyed, as a write may
// be due while the process ends.
const dispatch_queue_t& saveQueue() {
    static auto* queue = new dispatch_queue_t(dispatch_queue_create("NSUserDefaults.save"));
    return *queue;
}

// The application's termination notification, by name: the application layer sits above this one.
constexpr char kWillTerminateNotification[] = "UIApplicationWillTerminateNotification";

void synchronizeAtExit() {
    detail::synchronizeAllUserDefaults();
}

// Installed with the first defaults object, so that whatever the exit hook needs was made before
// it and is destroyed after it has run.
void installTerminationHooks() {
    static std::once_flag once;
    std::call_once(once, [] {
        NSNotificationCenter::defaultCenter()->addObserverForName(
            std::string(kWillTerminateNotification), nullptr, nullptr,
            [](const Ref<NSNotification>&) { detail::synchronizeAllUserDefaults(); });
        saveQueue();
        std::atexit(synchronizeAtExit);
    });
}

}  // namespace

bool detail::isPropertyListValue(const Value& value) {
    return isPlist(value, 0);
}

std::uint64_t detail::userDefaultsWriteCount() {
    return gWrites.load();
}

void detail::setUserDefaultsWillWriteHook(std::function<void(const std::string& path)> hook) {
    auto& h = writeHook();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.hook = std::move(hook);
}

void detail::setUserDefaultsTemporaryFileHook(std::function<void(const std::string& temporaryPath)> hook) {
    auto& h = temporaryFileHook();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.hook = std::move(hook);
}

void detail::synchronizeAllUserDefaults() {
    // The list stays locked while each writes, so none of them is destroyed meanwhile (a destructor
    // first takes itself off the list).
    auto& l = live();
    std::lock_guard<std::mutex> guard(l.mutex);
    for (NSUserDefaults* defaults : l.objects) defaults->synchronize();
}

// ---------------------------------------------------------------------------------------------
NSUserDefaults::NSUserDefaults(std::optional<std::string> suiteName)
    : filePath_(preferencesFile(suiteName)),
      values_(Dictionary::mutableDictionary()),
      registered_(Dictionary::mutableDictionary()) {
    removeAbandonedTemporaryFiles(std::filesystem::path(filePath_).parent_path().string());
    load();
    installTerminationHooks();
    auto& l = live();
    std::lock_guard<std::mutex> guard(l.mutex);
    l.objects.push_back(this);
}

NSUserDefaults::~NSUserDefaults() {
    {
        auto& l = live();
        std::lock_guard<std::mutex> guard(l.mutex);
        l.objects.erase(std::remove(l.objects.begin(), l.objects.end(), this), l.objects.end());
    }
    // Unsaved changes are not lost when the object goes.
    synchronize();
}

void NSUserDefaults::load() {
    auto data = NSData::dataWithContentsOfFile(filePath_);
    if (!data || data->empty()) return;
#if APP_HAVE_PROPERTY_LISTS
    Ref<NSError> error;
    Value plist = NSPropertyListSerialization::propertyListWithData(
        *data, NSPropertyListMutableContainersAndLeaves, nullptr, &error);
    if (!plist.isDictionary()) {
        NSLogLine("NSUserDefaults: ignoring unreadable " + filePath_ +
                  (error ? " (" + error->localizedDescription() + ")" : std::string()));
        return;
    }
    for (const auto& [key, value] : *plist.dictionary()) {
        if (isPlist(value, 0)) values_.setObject(key, value.deepCopy(false));
    }
#endif
}

Ref<NSUserDefaults> NSUserDefaults::standardUserDefaults() {
    auto& s = standard();
    Ref<NSUserDefaults> previous;  // released after the lock: its destructor may write
    std::lock_guard<std::mutex> guard(s.mutex);
    std::uint64_t generation = NSSandbox::generation();
    std::string root = NSSandbox::root();
    if (!s.defaults || s.generation != generation || s.root != root) {
        previous = std::move(s.defaults);
        s.defaults = make<NSUserDefaults>();
        s.generation = generation;
        s.root = root;
    }
    return s.defaults;
}

void NSUserDefaults::resetStandardUserDefaults() {
    Ref<NSUserDefaults> previous;
    {
        auto& s = standard();
        std::lock_guard<std::mutex> guard(s.mutex);
        previous = std::move(s.defaults);
    }
    if (previous) previous->synchronize();
}

// ---------------------------------------------------------------------------------------------
Value NSUserDefaults::lookup(const std::string& key) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (const Value* v = values_.find(key)) return *v;
    if (const Value* v = registered_.find(key)) return *v;
    return Value();
}

Value NSUserDefaults::objectForKey(const std::string& key) const {
    return lookup(key);
}

std::optional<std::string> NSUserDefaults::stringForKey(const std::string& key) const {
    Value v = lookup(key);
    if (v.isString()) return *v.string();
    if (v.isNumber()) return v.number()->stringValue();
    return std::nullopt;
}

std::optional<NSData> NSUserDefaults::dataForKey(const std::string& key) const {
    Value v = lookup(key);
    if (v.isData()) return *v.data();
    return std::nullopt;
}

std::optional<Dictionary> NSUserDefaults::dictionaryForKey(const std::string& key) const {
    Value v = lookup(key);
    if (v.isDictionary()) return *v.dictionary();
    return std::nullopt;
}

std::optional<Array> NSUserDefaults::arrayForKey(const std::string& key) const {
    Value v = lookup(key);
    if (v.isArray()) return *v.array();
    return std::nullopt;
}

std::optional<std::vector<std::string>> NSUserDefaults::stringArrayForKey(const std::string& key) const {
    Value v = lookup(key);
    if (!v.isArray()) return std::nullopt;
    std::vector<std::string> strings;
    for (const auto& item : *v.array()) {
        if (!item.isString()) return std::nullopt;
        strings.push_back(*item.string());
    }
    return strings;
}

long NSUserDefaults::integerForKey(const std::string& key) const {
    Value v = lookup(key);
    return v.isNumber() || v.isString() ? v.integerValue() : 0;
}

float NSUserDefaults::floatForKey(const std::string& key) const {
    return static_cast<float>(doubleForKey(key));
}

double NSUserDefaults::doubleForKey(const std::string& key) const {
    Value v = lookup(key);
    return v.isNumber() || v.isString() ? v.doubleValue() : 0.0;
}

bool NSUserDefaults::boolForKey(const std::string& key) const {
    Value v = lookup(key);
    if (v.isNumber()) return v.number()->boolValue();
    if (v.isString()) return textAsBool(*v.string());
    return false;
}

// ---------------------------------------------------------------------------------------------
void NSUserDefaults::setObject(const std::string& key, const Value& value) {
    if (!value.isNil() && !isPlist(value, 0)) {
        NSLogLine("NSUserDefaults: attempt to set a non-property-list object " + value.description() +
                  " as a value for key " + key);
        return;
    }
    Value stored = value.deepCopy(false);
    Value released;  // the replaced value goes after the lock
    bool schedule = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (const Value* old = values_.find(key)) released = *old;
        values_.setObject(key, std::move(stored));
        dirty_ = true;
        schedule = !saveScheduled_;
        saveScheduled_ = true;
    }
    if (schedule) scheduleSave();
}

void NSUserDefaults::scheduleSave() {
    Weak<NSObject> weak = weakSelf();
    if (weak.expired()) {
        // Not held by a Ref (never the case for objects made by make<>): nothing to come back to.
        std::lock_guard<std::mutex> guard(lock_);
        saveScheduled_ = false;
        return;
    }
    auto delay = static_cast<std::int64_t>(kSaveDelay * static_cast<double>(NSEC_PER_SEC));
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), saveQueue(), [weak] {
        auto self = std::static_pointer_cast<NSUserDefaults>(weak.lock());
        if (!self) return;
        {
            // From here on a change schedules another write: this one may already have taken
            // its snapshot.
            std::lock_guard<std::mutex> guard(self->lock_);
            self->saveScheduled_ = false;
        }
        self->synchronize();
    });
}

void NSUserDefaults::registerDefaults(const Dictionary& defaults) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [key, value] : defaults) {
        if (isPlist(value, 0)) registered_.setObject(key, value.deepCopy(false));
    }
}

Dictionary NSUserDefaults::dictionaryRepresentation() const {
    std::lock_guard<std::mutex> guard(lock_);
    Dictionary all = registered_.mutableCopy();
    all.addEntriesFromDictionary(values_);
    return all.copy();
}

bool NSUserDefaults::synchronize() {
    std::lock_guard<std::mutex> writing(writeLock_);
    Dictionary snapshot;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!dirty_) return true;
        snapshot = values_.copy();
        dirty_ = false;
    }
    bool ok = write(snapshot);
    if (!ok) {
        NSLogLine("NSUserDefaults: cannot write " + filePath_);
        std::lock_guard<std::mutex> guard(lock_);
        dirty_ = true;  // try again at the next synchronize
    }
    return ok;
}

bool NSUserDefaults::write(const Dictionary& snapshot) {
#if APP_HAVE_PROPERTY_LISTS
    Ref<NSError> error;
    auto data = NSPropertyListSerialization::dataWithPropertyList(Value(snapshot),
                                                                  NSPropertyListXMLFormat_v1_0, 0, &error);
    if (!data) return false;
    if (auto hook = hookOf(writeHook())) hook(filePath_);
    // Plain file-system calls: this also runs at exit, after other statics may have gone.
    const std::string folder = std::filesystem::path(filePath_).parent_path().string();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // A process that runs for long still clears what writers killed since it started left.
    removeAbandonedTemporaryFiles(folder);
    // A new file renamed over the old one: a crash mid-write leaves the previous file whole.
    std::string temporary;
    int fd = openLockedTemporaryFile(filePath_, &temporary);
    if (fd < 0) return false;
    bool ok = detail::writeAll(fd, data->bytes(), data->length()) && ::fsync(fd) == 0;
    if (ok) {
        if (auto hook = hookOf(temporaryFileHook())) hook(temporary);
        ok = ::rename(temporary.c_str(), filePath_.c_str()) == 0;
    }
    if (!ok) ::unlink(temporary.c_str());
    // The lock goes only now, with the file in place or removed.
    ok = ::close(fd) == 0 && ok;
    if (!ok) return false;
    ++gWrites;
    return true;
#else
    // Without the property-list writer the values live in memory only.
    (void)snapshot;
    return true;
#endif
}
