#pragma once
// The file manager: existence tests, folders, whole files, moves and copies, listings, item
// attributes and recursive enumeration, over the Linux file system.
//
// Guarantees:
// - Every operation is usable from any thread; a manager keeps no state of its own, so the
//   shared defaultManager() and private managers (make<NSFileManager>()) behave alike.
// - Failures answer false / nullopt and, when an error slot is given, an NSError in
//   NSCocoaErrorDomain with the device's codes (4 no such item for removes and moves, 260 for
//   reads, 516 item exists, 257 / 513 no permission, 512 other write failure...), the path under
//   NSFilePathErrorKey and the system's errno as an NSPOSIXErrorDomain error under
//   NSUnderlyingErrorKey.
// - createFileAtPath writes atomically (a temporary file renamed over the target).
// - Listings are sorted by name, so that runs are reproducible; "." and ".." never appear.
// - Symbolic links are reported, removed, moved and copied as links, never followed, except by
//   fileExistsAtPath and the readable/writable tests, which answer for what the link points at.
// - A creation date is the file's birth time where the file system keeps one (statx), else its
//   modification time.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSDate.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

// Attribute keys of attributesOfItemAtPath / setAttributes.
inline constexpr char NSFileType[] = "NSFileType";
inline constexpr char NSFileSize[] = "NSFileSize";                          // unsigned long long
inline constexpr char NSFileModificationDate[] = "NSFileModificationDate";  // date
inline constexpr char NSFileCreationDate[] = "NSFileCreationDate";          // date
inline constexpr char NSFilePosixPermissions[] = "NSFilePosixPermissions";  // unsigned short
inline constexpr char NSFileReferenceCount[] = "NSFileReferenceCount";
inline constexpr char NSFileSystemNumber[] = "NSFileSystemNumber";
inline constexpr char NSFileSystemFileNumber[] = "NSFileSystemFileNumber";
inline constexpr char NSFileOwnerAccountID[] = "NSFileOwnerAccountID";
inline constexpr char NSFileGroupOwnerAccountID[] = "NSFileGroupOwnerAccountID";

// Values of NSFileType.
inline constexpr char NSFileTypeDirectory[] = "NSFileTypeDirectory";
inline constexpr char NSFileTypeRegular[] = "NSFileTypeRegular";
inline constexpr char NSFileTypeSymbolicLink[] = "NSFileTypeSymbolicLink";
inline constexpr char NSFileTypeSocket[] = "NSFileTypeSocket";
inline constexpr char NSFileTypeCharacterSpecial[] = "NSFileTypeCharacterSpecial";
inline constexpr char NSFileTypeBlockSpecial[] = "NSFileTypeBlockSpecial";
inline constexpr char NSFileTypeUnknown[] = "NSFileTypeUnknown";

// User-info keys of move and copy errors.
inline constexpr char NSSourceFilePathErrorKey[] = "NSSourceFilePathErrorKey";
inline constexpr char NSDestinationFilePathErrorKey[] = "NSDestinationFilePath";

// The file error codes of NSCocoaErrorDomain beside those in NSError.h.
enum : long {
    NSFileLockingError = 255,
    NSFileReadNoPermissionError = 257,
    NSFileReadInvalidFileNameError = 258,
    NSFileReadNoSuchFileError = 260,
    NSFileReadUnsupportedSchemeError = 262,
    NSFileReadTooLargeError = 263,
    NSFileWriteNoPermissionError = 513,
    NSFileWriteInvalidFileNameError = 514,
    NSFileWriteFileExistsError = 516,
    NSFileWriteUnsupportedSchemeError = 518,
    NSFileWriteOutOfSpaceError = 640,
    NSFileWriteVolumeReadOnlyError = 642,
};

// Options of the URL-style enumerations and listings.
enum NSDirectoryEnumerationOptions : unsigned long {
    NSDirectoryEnumerationSkipsSubdirectoryDescendants = 1UL << 0,
    NSDirectoryEnumerationSkipsPackageDescendants = 1UL << 1,
    NSDirectoryEnumerationSkipsHiddenFiles = 1UL << 2,
};
inline NSDirectoryEnumerationOptions operator|(NSDirectoryEnumerationOptions a,
                                               NSDirectoryEnumerationOptions b) {
    return static_cast<NSDirectoryEnumerationOptions>(static_cast<unsigned long>(a) |
                                                      static_cast<unsigned long>(b));
}

// One item met by an enumeration, with the resource values the URL-style enumeration offers
// (is-directory, content modification date, total allocated size...), all read from one stat of
// the item.
struct NSDirectoryEntry {
    std::string path;          // full path: the enumerated folder joined with relativePath
    std::string relativePath;  // below the enumerated folder
    std::string name;          // last component
    // The file URL of the item (a folder's with a trailing "/").
    Ref<NSURL> URL() const { return NSURL::fileURLWithPath(path, isDirectory); }
    bool isDirectory = false;
    bool isRegularFile = false;
    bool isSymbolicLink = false;
    bool isHidden = false;  // the name starts with "."
    std::optional<NSDate> contentModificationDate;
    std::optional<NSDate> creationDate;
    unsigned long long fileSize = 0;
    // The space the file takes on disk (blocks × 512).
    unsigned long long totalFileAllocatedSize = 0;
};

// Called when a folder met during an enumeration cannot be read; answer true to go on.
using NSDirectoryEnumerationErrorHandler =
    std::function<bool(const std::string& path, const Ref<NSError>& error)>;

// A depth-first walk below a folder: each folder is reported before its contents, the entries
// of one folder in name order. Folders are read when the walk enters them, so changes made
// during the walk to folders not yet entered are seen. Belongs to one thread at a time.
class NSDirectoryEnumerator : public NSObject {
  public:
    // Use NSFileManager::enumeratorAtPath / enumeratorAtURL.
    NSDirectoryEnumerator(std::string root, bool urlStyle, NSDirectoryEnumerationOptions options,
                          NSDirectoryEnumerationErrorHandler errorHandler);
    ~NSDirectoryEnumerator() override;

    // The next item: its path relative to the enumerated folder for a path enumerator, its
    // full path for a URL-style one; nullopt at the end.
    std::optional<std::string> nextObject();
    // The next item with its resource values; advances the same walk as nextObject().
    std::optional<NSDirectoryEntry> nextEntry();
    // Every remaining item, as nextObject() would give them.
    std::vector<std::string> allObjects();

    // Do not descend into the folder that was just returned.
    void skipDescendants();
    void skipDescendents() { skipDescendants(); }
    // Depth of the item just returned: 1 for the enumerated folder's own entries.
    std::size_t level() const;
    // Attributes (as attributesOfItemAtPath) of the item just returned; empty before the first.
    Dictionary fileAttributes() const;
    // Attributes of the enumerated folder itself.
    Dictionary directoryAttributes() const;

    std::string className() const override { return "NSDirectoryEnumerator"; }

  private:
    struct Walk;
    std::unique_ptr<Walk> walk_;
};

class NSFileManager : public NSObject {
  public:
    NSFileManager() = default;
    // The process's shared manager.
    static Ref<NSFileManager> defaultManager();

    std::string className() const override { return "NSFileManager"; }

    // --- Existence and access -------------------------------------------------------------
    // Whether an item exists (following a final symbolic link); isDirectory receives whether it
    // is a folder.
    bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr) const;
    bool isReadableFileAtPath(const std::string& path) const;
    bool isWritableFileAtPath(const std::string& path) const;
    bool isExecutableFileAtPath(const std::string& path) const;
    // Whether the item could be removed: its parent folder is writable.
    bool isDeletableFileAtPath(const std::string& path) const;

    // --- Creating, removing, moving, copying -------------------------------------------------
    // Creates a folder. Without intermediates the parent must exist and the folder must not;
    // with them, missing parents are made and an existing folder is success. Attributes may
    // hold NSFilePosixPermissions and NSFileModificationDate.
    bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                               const Dictionary& attributes = Dictionary(),
                               Ref<NSError>* error = nullptr) const;
    // Writes a whole file atomically, replacing any file there; an absent contents makes an
    // empty file. The parent folder must exist.
    bool createFileAtPath(const std::string& path, const std::optional<NSData>& contents,
                          const Dictionary& attributes = Dictionary()) const;
    // Removes a file, a link or a whole folder tree.
    bool removeItemAtPath(const std::string& path, Ref<NSError>* error = nullptr) const;
    // Moves an item; the destination must not exist. Works across file systems.
    bool moveItemAtPath(const std::string& sourcePath, const std::string& destinationPath,
                        Ref<NSError>* error = nullptr) const;
    // Copies a file, link or folder tree; the destination must not exist.
    bool copyItemAtPath(const std::string& sourcePath, const std::string& destinationPath,
                        Ref<NSError>* error = nullptr) const;
    // The same for file URLs; any other URL fails with error 262 (read) or 518 (write).
    bool removeItemAtURL(const Ref<NSURL>& url, Ref<NSError>* error = nullptr) const;
    bool moveItemAtURL(const Ref<NSURL>& source, const Ref<NSURL>& destination,
                       Ref<NSError>* error = nullptr) const;
    bool copyItemAtURL(const Ref<NSURL>& source, const Ref<NSURL>& destination,
                       Ref<NSError>* error = nullptr) const;

    // --- Contents -------------------------------------------------------------------------------
    // The whole file, or nullopt when it cannot be read (missing, a folder, no permission).
    std::optional<NSData> contentsAtPath(const std::string& path) const;
    bool contentsEqualAtPath(const std::string& path1, const std::string& path2) const;

    // --- Listings and enumeration ---------------------------------------------------------
    // Names of a folder's entries, hidden ones included, sorted; nullopt (error 260 when the
    // folder is missing, 256 when it is not a folder) on failure.
    std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                      Ref<NSError>* error = nullptr) const;
    // Full paths of a folder's entries, sorted, without hidden ones when the options say so: the
    // path form of the device's URL listing.
    std::optional<std::vector<std::string>> contentsOfDirectoryAtURL(const std::string& path,
                                                                     NSDirectoryEnumerationOptions options,
                                                                     Ref<NSError>* error = nullptr) const;
    // The URL form: file URLs of the entries (folders with a trailing "/").
    std::optional<std::vector<Ref<NSURL>>> contentsOfDirectoryAtURL(const Ref<NSURL>& url,
                                                                    NSDirectoryEnumerationOptions options,
                                                                    Ref<NSError>* error = nullptr) const;
    // Every item below a folder, as relative paths, in enumeration order.
    std::optional<std::vector<std::string>> subpathsOfDirectoryAtPath(const std::string& path,
                                                                      Ref<NSError>* error = nullptr) const;
    // A walk below a folder yielding relative paths. A missing folder or a file gives a walk that
    // yields nothing; folders that cannot be read are skipped.
    Ref<NSDirectoryEnumerator> enumeratorAtPath(const std::string& path) const;
    // A walk yielding full paths and resource values (NSDirectoryEnumerator::nextEntry), with
    // the options (skip hidden files, skip descendants) and an error handler for folders that
    // cannot be read.
    Ref<NSDirectoryEnumerator>
    enumeratorAtURL(const std::string& path,
                    NSDirectoryEnumerationOptions options = NSDirectoryEnumerationOptions(0),
                    NSDirectoryEnumerationErrorHandler errorHandler = nullptr) const;
    // The same below a file URL's path; another URL gives a walk that reports error 262 and yields
    // nothing.
    Ref<NSDirectoryEnumerator>
    enumeratorAtURL(const Ref<NSURL>& url,
                    NSDirectoryEnumerationOptions options = NSDirectoryEnumerationOptions(0),
                    NSDirectoryEnumerationErrorHandler errorHandler = nullptr) const;

    // --- Attributes -----------------------------------------------------------------------
    // The item's attributes (the link itself for a link), or nullopt with error 260 when missing.
    std::optional<Dictionary> attributesOfItemAtPath(const std::string& path,
                                                     Ref<NSError>* error = nullptr) const;
    // Applies NSFilePosixPermissions, NSFileModificationDate (and NSFileCreationDate, which this
    // system cannot change, is ignored).
    bool setAttributes(const Dictionary& attributes, const std::string& path,
                       Ref<NSError>* error = nullptr) const;

    // --- Well-known folders ---------------------------------------------------------------
    // The folders of that kind as file URLs.
    std::vector<Ref<NSURL>> URLsForDirectory(NSSearchPathDirectory directory,
                                             NSSearchPathDomainMask domainMask) const;
    std::string currentDirectoryPath() const;
};

namespace detail {
// An NSCocoaErrorDomain error for a failed file operation with the given errno. `writing` picks
// the write-side codes (4, 513, 516...) over the read-side ones (260, 257...).
Ref<NSError> fileError(int posixError, const std::string& path, bool writing);
}  // namespace detail
