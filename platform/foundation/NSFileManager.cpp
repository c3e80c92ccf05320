#include "foundation/NSFileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// ---------------------------------------------------------------------------------------------
// One stat of an item, birth time included where the file system keeps it.
struct ItemInfo {
    mode_t mode = 0;
    unsigned long long size = 0;
    unsigned long long blocks = 0;
    unsigned long long inode = 0;
    unsigned long long device = 0;
    unsigned long links = 0;
    unsigned uid = 0;
    unsigned gid = 0;
    NSDate modified;
    NSDate created;

    bool isDirectory() const { return S_ISDIR(mode); }
    bool isRegular() const { return S_ISREG(mode); }
    bool isLink() const { return S_ISLNK(mode); }
};

NSDate dateOf(const struct statx_timestamp& t) {
    return NSDate::dateWithTimeIntervalSince1970(static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9);
}

// Answers 0 or the errno.
int statItem(const std::string& path, bool follow, ItemInfo& info) {
    if (path.empty()) return ENOENT;
    struct statx stx {};
    int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) return errno;
    info.mode = stx.stx_mode;
    info.size = stx.stx_size;
    info.blocks = stx.stx_blocks;
    info.inode = stx.stx_ino;
    info.device = (static_cast<unsigned long long>(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    info.links = stx.stx_nlink;
    info.uid = stx.stx_uid;
    info.gid = stx.stx_gid;
    info.modified = dateOf(stx.stx_mtime);
    info.created = (stx.stx_mask & STATX_BTIME) ? dateOf(stx.stx_btime) : info.modified;
    return 0;
}

const char* fileTypeName(mode_t mode) {
    if (S_ISDIR(mode)) return NSFileTypeDirectory;
    if (S_ISREG(mode)) return NSFileTypeRegular;
    if (S_ISLNK(mode)) return NSFileTypeSymbolicLink;
    if (S_ISSOCK(mode)) return NSFileTypeSocket;
    if (S_ISCHR(mode)) return NSFileTypeCharacterSpecial;
    if (S_ISBLK(mode)) return NSFileTypeBlockSpecial;
    return NSFileTypeUnknown;
}

Dictionary attributesOf(const ItemInfo& info) {
    Dictionary d = Dictionary::mutableDictionary(10);
    d.setObject(NSFileType, std::string(fileTypeName(info.mode)));
    d.setObject(NSFileSize, NSNumber::numberWithUnsignedLongLong(info.size));
    d.setObject(NSFileModificationDate, info.modified);
    d.setObject(NSFileCreationDate, info.created);
    d.setObject(NSFilePosixPermissions,
                NSNumber::numberWithUnsignedShort(static_cast<unsigned short>(info.mode & 07777)));
    d.setObject(NSFileReferenceCount, NSNumber::numberWithUnsignedLong(info.links));
    d.setObject(NSFileSystemNumber, NSNumber::numberWithUnsignedLongLong(info.device));
    d.setObject(NSFileSystemFileNumber, NSNumber::numberWithUnsignedLongLong(info.inode));
    d.setObject(NSFileOwnerAccountID, NSNumber::numberWithUnsignedLong(info.uid));
    d.setObject(NSFileGroupOwnerAccountID, NSNumber::numberWithUnsignedLong(info.gid));
    return d.copy();
}

std::string lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string parentOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

// Reads a folder's entry names (without "." and ".."), sorted. Answers 0 or the errno.
int readFolder(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(path.empty() ? "" : path.c_str());
    if (!dir) return errno;
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
        names.emplace_back(n);
    }
    int err = errno;
    ::closedir(dir);
    if (err != 0) return err;
    std::sort(names.begin(), names.end());
    return 0;
}

std::string describe(long code, const std::string& name) {
    std::string quoted = "\u201c" + name + "\u201d";
    switch (code) {
        case NSFileNoSuchFileError:
            return "The file " + quoted + " couldn\u2019t be found.";
        case NSFileReadNoSuchFileError:
            return "The file " + quoted + " couldn\u2019t be opened because there is no such file.";
        case NSFileReadNoPermissionError:
            return "The file " + quoted +
                   " couldn\u2019t be opened because you don\u2019t have permission to view it.";
        case NSFileWriteNoPermissionError:
            return "You don\u2019t have permission to save the file " + quoted + ".";
        case NSFileWriteFileExistsError:
            return "The file " + quoted +
                   " couldn\u2019t be saved because a file with the same name already exists.";
        case NSFileWriteOutOfSpaceError:
            return "The file " + quoted + " couldn\u2019t be saved because there isn\u2019t enough space.";
        case NSFileWriteVolumeReadOnlyError:
            return "The file " + quoted + " couldn\u2019t be saved because the volume is read only.";
        case NSFileReadInvalidFileNameError:
        case NSFileWriteInvalidFileNameError:
            return "The file name " + quoted + " is invalid.";
        case NSFileReadTooLargeError:
            return "The file " + quoted + " is too large.";
        case NSFileReadUnknownError:
            return "The file " + quoted + " couldn\u2019t be opened.";
        default:
            return "The file " + quoted + " couldn\u2019t be saved.";
    }
}

long cocoaCode(int err, bool writing) {
    if (writing) {
        switch (err) {
            case ENOENT:
            case ENOTDIR:
                return NSFileNoSuchFileError;
            case EEXIST:
            case ENOTEMPTY:
                return NSFileWriteFileExistsError;
            case EACCES:
            case EPERM:
                return NSFileWriteNoPermissionError;
            case ENOSPC:
            case EDQUOT:
                return NSFileWriteOutOfSpaceError;
            case EROFS:
                return NSFileWriteVolumeReadOnlyError;
            case ENAMETOOLONG:
                return NSFileWriteInvalidFileNameError;
            default:
                return NSFileWriteUnknownError;
        }
    }
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return NSFileReadNoSuchFileError;
        case EACCES:
        case EPERM:
            return NSFileReadNoPermissionError;
        case ENAMETOOLONG:
            return NSFileReadInvalidFileNameError;
        case EFBIG:
            return NSFileReadTooLargeError;
        default:
            return NSFileReadUnknownError;
    }
}

Ref<NSError> posixError(int err) {
    Dictionary info{{NSLocalizedDescriptionKey, std::string(std::strerror(err))}};
    return NSError::errorWithDomain(NSPOSIXErrorDomain, err, info);
}

Ref<NSError> makeError(long code, int err, const std::string& path, const std::string& source = std::string(),
                       const std::string& destination = std::string()) {
    Dictionary info = Dictionary::mutableDictionary(5);
    info.setObject(NSLocalizedDescriptionKey, describe(code, lastComponent(path)));
    info.setObject(NSFilePathErrorKey, path);
    if (!source.empty()) info.setObject(NSSourceFilePathErrorKey, source);
    if (!destination.empty()) info.setObject(NSDestinationFilePathErrorKey, destination);
    if (err != 0) info.setObject(NSUnderlyingErrorKey, posixError(err));
    return NSError::errorWithDomain(NSCocoaErrorDomain, code, info.copy());
}

int setModificationDate(const std::string& path, const NSDate& date, bool follow) {
    double seconds = date.timeIntervalSince1970();
    if (!std::isfinite(seconds)) return EINVAL;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    double whole = std::floor(seconds);
    times[1].tv_sec = static_cast<time_t>(whole);
    times[1].tv_nsec = static_cast<long>(std::llround((seconds - whole) * 1e9));
    if (times[1].tv_nsec >= 1000000000L) {
        times[1].tv_sec += 1;
        times[1].tv_nsec -= 1000000000L;
    }
    if (::utimensat(AT_FDCWD, path.c_str(), times, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return errno;
    return 0;
}

// Applies the attributes this system can change; answers 0 or the errno.
int applyAttributes(const std::string& path, const Dictionary& attributes) {
    if (const Value* perms = attributes.find(NSFilePosixPermissions); perms && perms->isNumber()) {
        if (::chmod(path.c_str(), static_cast<mode_t>(perms->unsignedLongLongValue() & 07777)) != 0)
            return errno;
    }
    if (const Value* date = attributes.find(NSFileModificationDate); date && date->isDate()) {
        if (int err = setModificationDate(path, *date->date(), true)) return err;
    }
    return 0;
}

int copyFileContents(const std::string& from, const std::string& to, mode_t mode) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    char buffer[65536];
    while (true) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        if (n == 0) break;
        const char* p = buffer;
        while (n > 0) {
            ssize_t w = ::write(out, p, static_cast<std::size_t>(n));
            if (w < 0) {
                if (errno == EINTR) continue;
                err = errno;
                break;
            }
            p += w;
            n -= w;
        }
        if (err) break;
    }
    ::close(in);
    if (::close(out) != 0 && !err) err = errno;
    if (err) ::unlink(to.c_str());
    return err;
}

// Copies an item tree without following links, keeping permissions and modification dates.
// Answers 0 or the errno; failedPath receives the item that failed.
int copyTree(const std::string& from, const std::string& to, std::string& failedPath) {
    ItemInfo info;
    if (int err = statItem(from, false, info)) {
        failedPath = from;
        return err;
    }
    if (info.isLink()) {
        std::vector<char> target(PATH_MAX + 1);
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size() - 1);
        if (n < 0) {
            failedPath = from;
            return errno;
        }
        target[static_cast<std::size_t>(n)] = 0;
        if (::symlink(target.data(), to.c_str()) != 0) {
            failedPath = to;
            return errno;
        }
        setModificationDate(to, info.modified, false);
        return 0;
    }
    if (info.isDirectory()) {
        if (::mkdir(to.c_str(), 0700) != 0) {
            failedPath = to;
            return errno;
        }
        std::vector<std::string> names;
        if (int err = readFolder(from, names)) {
            failedPath = from;
            return err;
        }
        for (const auto& name : names) {
            if (int err = copyTree(join(from, name), join(to, name), failedPath)) return err;
        }
        ::chmod(to.c_str(), info.mode & 07777);
        setModificationDate(to, info.modified, true);
        return 0;
    }
    if (info.isRegular()) {
        if (int err = copyFileContents(from, to, info.mode)) {
            failedPath = to;
            return err;
        }
        ::chmod(to.c_str(), info.mode & 07777);
        setModificationDate(to, info.modified, true);
        return 0;
    }
    // Sockets, devices and pipes are not copied.
    failedPath = from;
    return ENOTSUP;
}

// Removes an item tree without following links; answers 0 or the errno.
int removeTree(const std::string& path, std::string& failedPath) {
    ItemInfo info;
    if (int err = statItem(path, false, info)) {
        failedPath = path;
        return err;
    }
    if (info.isDirectory()) {
        std::vector<std::string> names;
        if (int err = readFolder(path, names)) {
            failedPath = path;
            return err;
        }
        for (const auto& name : names) {
            int err = removeTree(join(path, name), failedPath);
            if (err && err != ENOENT) return err;
        }
        if (::rmdir(path.c_str()) != 0 && errno != ENOENT) {
            failedPath = path;
            return errno;
        }
        return 0;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        failedPath = path;
        return errno;
    }
    return 0;
}

bool entryFor(const std::string& root, const std::string& relative, NSDirectoryEntry& entry) {
    entry.relativePath = relative;
    entry.path = join(root, relative);
    entry.name = lastComponent(relative);
    ItemInfo info;
    if (statItem(entry.path, false, info) != 0) return false;
    entry.isDirectory = info.isDirectory();
    entry.isRegularFile = info.isRegular();
    entry.isSymbolicLink = info.isLink();
    entry.isHidden = !entry.name.empty() && entry.name[0] == '.';
    entry.contentModificationDate = info.modified;
    entry.creationDate = info.created;
    entry.fileSize = info.size;
    entry.totalFileAllocatedSize = info.blocks * 512ULL;
    return true;
}

bool isPackageName(const std::string& name) {
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == "app" || ext == "bundle" || ext == "framework";
}

// What a move and a copy check first: the source exists and nothing stands at the destination.
// A move reports a missing source with the write codes, a copy with the read ones.
bool transferPreflight(const std::string& source, const std::string& destination, bool moving,
                       Ref<NSError>* error) {
    ItemInfo info;
    if (int err = statItem(source, false, info)) {
        setError(error, makeError(cocoaCode(err, moving), err, source, source, destination));
        return false;
    }
    if (statItem(destination, false, info) == 0) {
        setError(error, makeError(NSFileWriteFileExistsError, EEXIST, destination, source, destination));
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
Ref<NSError> detail::fileError(int posixErrorCode, const std::string& path, bool writing) {
    return makeError(cocoaCode(posixErrorCode, writing), posixErrorCode, path);
}

// ---------------------------------------------------------------------------------------------
struct NSDirectoryEnumerator::Walk {
    struct Frame {
        std::string relativeDir;
        std::vector<std::string> names;
        std::size_t next = 0;
    };

    std::string root;
    bool urlStyle = false;
    NSDirectoryEnumerationOptions options{};
    NSDirectoryEnumerationErrorHandler errorHandler;

    bool started = false;
    bool finished = false;
    bool descendPending = false;
    std::vector<Frame> stack;
    std::optional<NSDirectoryEntry> last;
    std::size_t lastLevel = 0;

    // Pushes a frame for a folder; answers false when the walk must stop.
    bool enter(const std::string& relativeDir) {
        Frame frame;
        frame.relativeDir = relativeDir;
        std::string full = relativeDir.empty() ? root : join(root, relativeDir);
        if (int err = readFolder(full, frame.names)) {
            if (urlStyle && errorHandler) {
                if (!errorHandler(full, detail::fileError(err, full, false))) return false;
            }
            return true;
        }
        stack.push_back(std::move(frame));
        return true;
    }

    std::optional<NSDirectoryEntry> next() {
        if (finished) return std::nullopt;
        if (!started) {
            started = true;
            ItemInfo info;
            // A path walk over a file or a missing folder yields nothing; a URL walk says why.
            int err = statItem(root, true, info);
            if (err == 0 && !info.isDirectory()) err = ENOTDIR;
            if (err != 0) {
                if (urlStyle && errorHandler) errorHandler(root, detail::fileError(err, root, false));
                finished = true;
                return std::nullopt;
            }
            if (!enter("")) {
                finished = true;
                return std::nullopt;
            }
        }
        if (descendPending) {
            descendPending = false;
            if (last && !enter(last->relativePath)) {
                finished = true;
                return std::nullopt;
            }
        }
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next >= frame.names.size()) {
                stack.pop_back();
                continue;
            }
            const std::string& name = frame.names[frame.next++];
            if ((options & NSDirectoryEnumerationSkipsHiddenFiles) && name[0] == '.') continue;
            std::string relative = frame.relativeDir.empty() ? name : frame.relativeDir + "/" + name;
            NSDirectoryEntry entry;
            if (!entryFor(root, relative, entry)) continue;  // gone since the folder was read
            lastLevel = stack.size();
            bool descend =
                entry.isDirectory && !(options & NSDirectoryEnumerationSkipsSubdirectoryDescendants) &&
                !((options & NSDirectoryEnumerationSkipsPackageDescendants) && isPackageName(name));
            descendPending = descend;
            last = entry;
            return entry;
        }
        finished = true;
        last.reset();
        return std::nullopt;
    }
};

NSDirectoryEnumerator::NSDirectoryEnumerator(std::string root, bool urlStyle,
                                             NSDirectoryEnumerationOptions options,
                                             NSDirectoryEnumerationErrorHandler errorHandler)
    : walk_(std::make_unique<Walk>()) {
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    walk_->root = std::move(root);
    walk_->urlStyle = urlStyle;
    walk_->options = options;
    walk_->errorHandler = std::move(errorHandler);
}

NSDirectoryEnumerator::~NSDirectoryEnumerator() = default;

std::optional<NSDirectoryEntry> NSDirectoryEnumerator::nextEntry() {
    return walk_->next();
}

std::optional<std::string> NSDirectoryEnumerator::nextObject() {
    auto entry = walk_->next();
    if (!entry) return std::nullopt;
    return walk_->urlStyle ? entry->path : entry->relativePath;
}

std::vector<std::string> NSDirectoryEnumerator::allObjects() {
    std::vector<std::string> all;
    while (auto item = nextObject()) all.push_back(std::move(*item));
    return all;
}

void NSDirectoryEnumerator::skipDescendants() {
    walk_->descendPending = false;
}

std::size_t NSDirectoryEnumerator::level() const {
    return walk_->last ? walk_->lastLevel : 0;
}

Dictionary NSDirectoryEnumerator::fileAttributes() const {
    if (!walk_->last) return Dictionary();
    ItemInfo info;
    if (statItem(walk_->last->path, false, info) != 0) return Dictionary();
    return attributesOf(info);
}

Dictionary NSDirectoryEnumerator::directoryAttributes() const {
    ItemInfo info;
    if (statItem(walk_->root, true, info) != 0) return Dictionary();
    return attributesOf(info);
}

// ---------------------------------------------------------------------------------------------
Ref<NSFileManager> NSFileManager::defaultManager() {
    static const Ref<NSFileManager> shared = make<NSFileManager>();
    return shared;
}

bool NSFileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
    ItemInfo info;
    bool exists = statItem(path, true, info) == 0;
    if (isDirectory) *isDirectory = exists && info.isDirectory();
    return exists;
}

bool NSFileManager::isReadableFileAtPath(const std::string& path) const {
    return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

bool NSFileManager::isWritableFileAtPath(const std::string& path) const {
    return !path.empty() && ::access(path.c_str(), W_OK) == 0;
}

bool NSFileManager::isExecutableFileAtPath(const std::string& path) const {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

bool NSFileManager::isDeletableFileAtPath(const std::string& path) const {
    ItemInfo info;
    if (statItem(path, false, info) != 0) return false;
    return ::access(parentOf(path).c_str(), W_OK | X_OK) == 0;
}

bool NSFileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                          const Dictionary& attributes, Ref<NSError>* error) const {
    if (path.empty()) {
        setError(error, makeError(NSFileNoSuchFileError, ENOENT, path));
        return false;
    }
    if (!withIntermediateDirectories) {
        if (::mkdir(path.c_str(), 0777) != 0) {
            setError(error, detail::fileError(errno, path, true));
            return false;
        }
    } else {
        // Walk the prefixes, making the missing folders; an existing non-folder on the way fails.
        std::size_t pos = 0;
        while (true) {
            pos = path.find('/', pos + 1);
            std::string prefix = path.substr(0, pos);
            bool last = pos == std::string::npos;
            if (!prefix.empty() && prefix != "/") {
                ItemInfo info;
                int err = statItem(prefix, true, info);
                if (err == 0 && !info.isDirectory()) {
                    setError(error, makeError(NSFileWriteFileExistsError, EEXIST, prefix));
                    return false;
                }
                if (err != 0) {
                    if (::mkdir(prefix.c_str(), 0777) != 0) {
                        int mkErr = errno;
                        // Made by someone else in the meantime: fine when it is a folder.
                        if (!(mkErr == EEXIST && statItem(prefix, true, info) == 0 && info.isDirectory())) {
                            setError(error, detail::fileError(mkErr, prefix, true));
                            return false;
                        }
                    }
                }
            }
            if (last) break;
            while (pos + 1 < path.size() && path[pos + 1] == '/') ++pos;
            if (pos + 1 >= path.size()) break;
        }
    }
    if (int err = applyAttributes(path, attributes)) {
        setError(error, detail::fileError(err, path, true));
        return false;
    }
    return true;
}

bool NSFileManager::createFileAtPath(const std::string& path, const std::optional<NSData>& contents,
                                     const Dictionary& attributes) const {
    if (path.empty()) return false;
    ItemInfo info;
    if (statItem(path, true, info) == 0 && info.isDirectory()) return false;
    NSData data = contents ? *contents : NSData();
    if (!data.writeToFile(path, true)) return false;
    return applyAttributes(path, attributes) == 0;
}

bool NSFileManager::removeItemAtPath(const std::string& path, Ref<NSError>* error) const {
    std::string failed;
    int err = removeTree(path, failed);
    if (err) {
        setError(error, detail::fileError(err, failed.empty() ? path : failed, true));
        return false;
    }
    return true;
}

bool NSFileManager::moveItemAtPath(const std::string& sourcePath, const std::string& destinationPath,
                                   Ref<NSError>* error) const {
    if (!transferPreflight(sourcePath, destinationPath, true, error)) return false;
    // Refuse to replace an item that appears in the meantime; file systems without that flag get
    // the plain rename after the check above.
    int rc = ::renameat2(AT_FDCWD, sourcePath.c_str(), AT_FDCWD, destinationPath.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) rc = ::rename(sourcePath.c_str(), destinationPath.c_str());
    if (rc == 0) return true;
    int err = errno;
    if (err == EXDEV) {
        // Another file system: copy, then remove the original.
        std::string failed;
        err = copyTree(sourcePath, destinationPath, failed);
        if (err == 0) {
            std::string removeFailed;
            removeTree(sourcePath, removeFailed);
            return true;
        }
        std::string cleanup;
        removeTree(destinationPath, cleanup);
    }
    setError(error, makeError(cocoaCode(err, true), err, destinationPath, sourcePath, destinationPath));
    return false;
}

bool NSFileManager::copyItemAtPath(const std::string& sourcePath, const std::string& destinationPath,
                                   Ref<NSError>* error) const {
    if (!transferPreflight(sourcePath, destinationPath, false, error)) return false;
    std::string failed;
    if (int err = copyTree(sourcePath, destinationPath, failed)) {
        bool reading = failed == sourcePath || failed.compare(0, sourcePath.size(), sourcePath) == 0;
        setError(error, makeError(cocoaCode(err, !reading), err, failed, sourcePath, destinationPath));
        return false;
    }
    return true;
}

std::optional<NSData> NSFileManager::contentsAtPath(const std::string& path) const {
    if (path.empty()) return std::nullopt;
    return NSData::dataWithContentsOfFile(path);
}

bool NSFileManager::contentsEqualAtPath(const std::string& path1, const std::string& path2) const {
    ItemInfo a, b;
    if (statItem(path1, false, a) != 0 || statItem(path2, false, b) != 0) return false;
    if ((a.mode & S_IFMT) != (b.mode & S_IFMT)) return false;
    if (a.isLink()) {
        char t1[PATH_MAX + 1], t2[PATH_MAX + 1];
        ssize_t n1 = ::readlink(path1.c_str(), t1, PATH_MAX);
        ssize_t n2 = ::readlink(path2.c_str(), t2, PATH_MAX);
        return n1 >= 0 && n1 == n2 && std::memcmp(t1, t2, static_cast<std::size_t>(n1)) == 0;
    }
    if (a.isDirectory()) {
        std::vector<std::string> n1, n2;
        if (readFolder(path1, n1) != 0 || readFolder(path2, n2) != 0 || n1 != n2) return false;
        for (const auto& name : n1) {
            if (!contentsEqualAtPath(join(path1, name), join(path2, name))) return false;
        }
        return true;
    }
    if (a.size != b.size) return false;
    auto d1 = NSData::dataWithContentsOfFile(path1);
    auto d2 = NSData::dataWithContentsOfFile(path2);
    return d1 && d2 && *d1 == *d2;
}

std::optional<std::vector<std::string>> NSFileManager::contentsOfDirectoryAtPath(const std::string& path,
                                                                                 Ref<NSError>* error) const {
    std::vector<std::string> names;
    if (int err = readFolder(path, names)) {
        if (err == ENOTDIR) {
            ItemInfo info;
            // The item is there but is no folder: the device calls that an unreadable file.
            if (statItem(path, true, info) == 0) {
                setError(error, makeError(NSFileReadUnknownError, err, path));
                return std::nullopt;
            }
        }
        setError(error, detail::fileError(err, path, false));
        return std::nullopt;
    }
    return names;
}

std::optional<std::vector<std::string>>
NSFileManager::contentsOfDirectoryAtURL(const std::string& path, NSDirectoryEnumerationOptions options,
                                        Ref<NSError>* error) const {
    auto names = contentsOfDirectoryAtPath(path, error);
    if (!names) return std::nullopt;
    std::vector<std::string> paths;
    paths.reserve(names->size());
    std::string base = path;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    for (const auto& name : *names) {
        if ((options & NSDirectoryEnumerationSkipsHiddenFiles) && name[0] == '.') continue;
        paths.push_back(join(base, name));
    }
    return paths;
}

std::optional<std::vector<std::string>> NSFileManager::subpathsOfDirectoryAtPath(const std::string& path,
                                                                                 Ref<NSError>* error) const {
    ItemInfo info;
    int err = statItem(path, true, info);
    if (err == 0 && !info.isDirectory()) err = ENOTDIR;
    if (err) {
        setError(error, detail::fileError(err, path, false));
        return std::nullopt;
    }
    return enumeratorAtPath(path)->allObjects();
}

Ref<NSDirectoryEnumerator> NSFileManager::enumeratorAtPath(const std::string& path) const {
    return make<NSDirectoryEnumerator>(path, false, NSDirectoryEnumerationOptions(0), nullptr);
}

Ref<NSDirectoryEnumerator>
NSFileManager::enumeratorAtURL(const std::string& path, NSDirectoryEnumerationOptions options,
                               NSDirectoryEnumerationErrorHandler errorHandler) const {
    return make<NSDirectoryEnumerator>(path, true, options, std::move(errorHandler));
}

std::optional<Dictionary> NSFileManager::attributesOfItemAtPath(const std::string& path,
                                                                Ref<NSError>* error) const {
    ItemInfo info;
    if (int err = statItem(path, false, info)) {
        setError(error, detail::fileError(err, path, false));
        return std::nullopt;
    }
    return attributesOf(info);
}

bool NSFileManager::setAttributes(const Dictionary& attributes, const std::string& path,
                                  Ref<NSError>* error) const {
    ItemInfo info;
    int err = statItem(path, true, info);
    if (err == 0) err = applyAttributes(path, attributes);
    if (err) {
        setError(error, detail::fileError(err, path, true));
        return false;
    }
    return true;
}

std::vector<Ref<NSURL>> NSFileManager::URLsForDirectory(NSSearchPathDirectory directory,
                                                        NSSearchPathDomainMask domainMask) const {
    std::vector<Ref<NSURL>> urls;
    for (const auto& path : NSSearchPathForDirectoriesInDomains(directory, domainMask, true)) {
        if (auto url = NSURL::fileURLWithPath(path, true)) urls.push_back(std::move(url));
    }
    return urls;
}

// ---------------------------------------------------------------------------------------------
// URL forms.

namespace {

// The path of a file URL; otherwise nullopt with the unsupported-scheme error.
std::optional<std::string> filePathOf(const Ref<NSURL>& url, bool writing, Ref<NSError>* error) {
    if (url && url->isFileURL()) return url->path();
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSLocalizedDescriptionKey,
                   std::string("The file couldn\u2019t be opened because the specified URL "
                               "type isn\u2019t supported."));
    if (url) info.setObject(NSURLErrorFailingURLErrorKey, url);
    setError(error, NSError::errorWithDomain(NSCocoaErrorDomain,
                                             writing ? NSFileWriteUnsupportedSchemeError
                                                     : NSFileReadUnsupportedSchemeError,
                                             info.copy()));
    return std::nullopt;
}

}  // namespace

bool NSFileManager::removeItemAtURL(const Ref<NSURL>& url, Ref<NSError>* error) const {
    auto path = filePathOf(url, true, error);
    return path && removeItemAtPath(*path, error);
}

bool NSFileManager::moveItemAtURL(const Ref<NSURL>& source, const Ref<NSURL>& destination,
                                  Ref<NSError>* error) const {
    auto from = filePathOf(source, false, error);
    if (!from) return false;
    auto to = filePathOf(destination, true, error);
    return to && moveItemAtPath(*from, *to, error);
}

bool NSFileManager::copyItemAtURL(const Ref<NSURL>& source, const Ref<NSURL>& destination,
                                  Ref<NSError>* error) const {
    auto from = filePathOf(source, false, error);
    if (!from) return false;
    auto to = filePathOf(destination, true, error);
    return to && copyItemAtPath(*from, *to, error);
}

std::optional<std::vector<Ref<NSURL>>>
NSFileManager::contentsOfDirectoryAtURL(const Ref<NSURL>& url, NSDirectoryEnumerationOptions options,
                                        Ref<NSError>* error) const {
    auto path = filePathOf(url, false, error);
    if (!path) return std::nullopt;
    auto paths = contentsOfDirectoryAtURL(*path, options, error);
    if (!paths) return std::nullopt;
    std::vector<Ref<NSURL>> urls;
    urls.reserve(paths->size());
    for (const auto& p : *paths) {
        if (auto u = NSURL::fileURLWithPath(p)) urls.push_back(std::move(u));
    }
    return urls;
}

Ref<NSDirectoryEnumerator>
NSFileManager::enumeratorAtURL(const Ref<NSURL>& url, NSDirectoryEnumerationOptions options,
                               NSDirectoryEnumerationErrorHandler errorHandler) const {
    Ref<NSError> error;
    auto path = filePathOf(url, false, &error);
    if (!path) {
        if (errorHandler) errorHandler(url ? url->absoluteString() : std::string(), error);
        // A walk of a folder that cannot exist: it yields nothing.
        return make<NSDirectoryEnumerator>(std::string(), true, options, nullptr);
    }
    return enumeratorAtURL(*path, options, std::move(errorHandler));
}

std::string NSFileManager::currentDirectoryPath() const {
    std::vector<char> buffer(PATH_MAX + 1);
    if (!::getcwd(buffer.data(), buffer.size())) return std::string();
    return buffer.data();
}
