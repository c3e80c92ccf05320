#pragma once
// Pasteboards: named stores of typed items that every app on the device can read and write.
//
// A pasteboard holds items; an item maps type names ("public.utf8-plain-text", "org.example.kind")
// to property-list values, most often data. The single-item calls (setData, setValue,
// setString, setImage) replace every item with one; the readers look at the first item.
//
// The device keeps pasteboards in one folder shared by all "apps" (here: processes and the tests
// that play other apps). The folder is the one set by setSharedDirectory(), else the environment
// variable APP_SHARED_PASTEBOARD_DIR, else "shared-pasteboards" beside the app's sandbox root.
// - A persistent pasteboard is one file in that folder (filePathForPasteboardName), a binary
//   property list: a dictionary of type -> value for a single item, or an array of such
//   dictionaries. It outlives the process. Every read looks at the file again, so a write by
//   another app is seen at once; a file that cannot be read as such a list reads as an empty
//   pasteboard. Writes replace the file atomically.
// - A non-persistent pasteboard lives in this process only, until it is removed.
// - The general pasteboard is persistent.
// Looking a pasteboard up without creating it finds a non-persistent one of this process or a
// persistent one's file; creating makes a non-persistent one. A pasteboard object stays bound to
// the folder it was found in, even when the folder setting changes.
//
// Thread-safe: every member may be called from any thread.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class UIImage;

inline constexpr char UIPasteboardNameGeneral[] = "pasteboard.general";
// Type names of the common kinds.
inline constexpr char UIPasteboardTypePlainText[] = "public.utf8-plain-text";
inline constexpr char UIPasteboardTypePNG[] = "public.png";
inline constexpr char UIPasteboardTypeJPEG[] = "public.jpeg";
inline constexpr char UIPasteboardTypeURL[] = "public.url";

class UIPasteboard : public NSObject {
  public:
    // Use the class methods; public for make<>.
    UIPasteboard(std::string name, std::string directory, bool persistent);
    std::string className() const override { return "UIPasteboard"; }

    static Ref<UIPasteboard> generalPasteboard();
    // The named pasteboard; when there is none, a new non-persistent one if `create`, else nil.
    // An empty name answers nil.
    static Ref<UIPasteboard> pasteboardWithName(const std::string& name, bool create);
    // A new non-persistent pasteboard with a name no other has.
    static Ref<UIPasteboard> pasteboardWithUniqueName();
    // Forgets the pasteboard: its file goes, and objects still held for it become empty,
    // non-persistent and unlisted.
    static void removePasteboardWithName(const std::string& name);

    const std::string& name() const { return name_; }
    bool isPersistent() const;
    // Making a pasteboard persistent writes its file at once (so other apps find it, even empty);
    // making it non-persistent removes the file and keeps the items in memory.
    void setPersistent(bool persistent);
    // Grows with every change, including changes another app made to the file.
    long changeCount() const;

    // ---- the first item ------------------------------------------------------------------------
    std::vector<std::string> pasteboardTypes() const;
    // Whether the first item has any of the types.
    bool containsPasteboardTypes(const std::vector<std::string>& types) const;
    // Data of the type: data as it is, a string as its UTF-8 bytes, other values as nothing.
    std::optional<NSData> dataForPasteboardType(const std::string& type) const;
    // The value of the type as stored (nil when absent).
    Value valueForPasteboardType(const std::string& type) const;
    void setData(const NSData& data, const std::string& type);
    // Property-list values only (strings, numbers, dates, data, arrays and dictionaries of them);
    // anything else is refused with a log line and changes nothing.
    void setValue(const Value& value, const std::string& type);

    std::optional<std::string> string() const;
    void setString(const std::string& text);
    // The image of the first PNG (or JPEG) data; nullptr when there is none or it does not decode.
    Ref<UIImage> image() const;
    // Stored as PNG; a null image empties the pasteboard.
    void setImage(const Ref<UIImage>& image);

    // ---- all items -----------------------------------------------------------------------------
    long numberOfItems() const;
    // A new array of new dictionaries (type -> value).
    Array items() const;
    // Non-dictionary entries, and entries holding non-property-list values, are skipped.
    void setItems(const Array& items);
    void addItems(const Array& items);

    // ---- the device folder ---------------------------------------------------------------------
    // An empty path returns to the environment's choice.
    static void setSharedDirectory(const std::string& path);
    static std::string sharedDirectory();
    // Where the named pasteboard's file lives in the current folder. Names are escaped into safe
    // file names ("%2F" for "/" and so on) and end in ".pasteboard".
    static std::string filePathForPasteboardName(const std::string& name);

  private:
    // Re-reads the file when it changed since the last look. Lock held.
    void refreshLocked() const;
    void storeLocked(std::vector<Dictionary> items);
    bool writeFileLocked() const;
    std::string pathLocked() const;

    const std::string name_;
    const std::string directory_;

    mutable std::mutex mutex_;  // guards what follows
    bool persistent_;
    bool removed_ = false;
    mutable std::vector<Dictionary> items_;
    mutable long changeCount_ = 0;
    // What the file looked like when last read or written: inode, size, modification time.
    struct FileStamp {
        bool exists = false;
        std::uint64_t inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    mutable FileStamp stamp_;
    static FileStamp stampOf(const std::string& path);
    friend struct UIPasteboardRegistry;
};
