#pragma once
// The store behind NSPersistentStore: one SQLite database per store (a file, or memory), one
// table per entity with a column per property, and a table of the store's own facts (its id,
// the model that made it, the next key of each entity). Used only under the coordinator's lock.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "coredata/NSManagedObjectModel.h"
#include "foundation/NSError.h"
#include "foundation/Value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace detail {

// One stored object: per property slot, attributes as values of their kind, a to-one
// relationship as the destination's key (a number) or nil, a to-many one as an Array of keys.
struct StoredRow {
    std::int64_t key = 0;
    std::vector<Value> values;
};

// A WHERE clause and ORDER BY list over one entity's columns ("" for none), with the values
// bound to its "?" in order.
struct StoreQuery {
    std::string where;
    std::vector<Value> binds;
    std::string orderBy;
    std::size_t limit = 0;
    std::size_t offset = 0;
};

// The entity, flags, id and values a change points at are the saved object's own, which outlive
// the write.
struct StoreChange {
    enum class Kind { Insert, Update, Delete } kind = Kind::Insert;
    const NSEntityDescription* entity = nullptr;
    StoredRow row;
    // An update writes only the property slots flagged here; the others keep what the store
    // holds, which another context may have written since this one read the row.
    const PropertyFlags* changed = nullptr;
    // The object's id, to name it in an error.
    const NSObject* objectID = nullptr;
    // When set, the values to write (the object's own, for entities without relationships,
    // whose values are already in their stored form), read in place of row.values.
    const std::vector<Value>* values = nullptr;
};

class StoreBackend {
  public:
    ~StoreBackend();

    // Opens (and makes, or migrates) the store; `path` empty for memory. nullptr and the error
    // on failure.
    static std::unique_ptr<StoreBackend> open(const std::string& path, const Ref<NSManagedObjectModel>& model,
                                              const std::optional<Dictionary>& options, Ref<NSError>* error);

    const std::string& identifier() const { return identifier_; }

    bool fetch(const NSEntityDescription& entity, const StoreQuery& query, std::vector<StoredRow>& rows,
               Ref<NSError>* error);
    // false without error when there is no such row.
    bool fetchRow(const NSEntityDescription& entity, std::int64_t key, StoredRow& row, Ref<NSError>* error);
    bool count(const NSEntityDescription& entity, const StoreQuery& query, std::size_t& count,
               Ref<NSError>* error);
    // Reserves `n` keys; answers the first (0 on failure).
    std::int64_t allocateKeys(const NSEntityDescription& entity, std::size_t n, Ref<NSError>* error);
    // All changes in one transaction; nothing changes on failure. An update of a row that is no
    // longer there (another context deleted it) fails with NSManagedObjectMergeError, and a
    // value that cannot be archived with NSPersistentStoreSaveError.
    bool apply(const std::vector<StoreChange>& changes, Ref<NSError>* error);

    // The SQL name of a property's column, quoted.
    static std::string columnName(const NSPropertyDescription& property);
    static std::string tableName(const NSEntityDescription& entity);

  private:
    StoreBackend() = default;
    bool exec(const std::string& sql, Ref<NSError>* error);
    sqlite3_stmt* prepare(const std::string& sql, Ref<NSError>* error);
    Ref<NSError> sqliteError(long code, const std::string& what) const;
    bool createTable(const NSEntityDescription& entity, Ref<NSError>* error);
    bool writeMeta(const std::string& key, const std::string& value, Ref<NSError>* error);
    std::optional<std::string> readMeta(const std::string& key, Ref<NSError>* error);
    bool setUp(const Ref<NSManagedObjectModel>& model, const std::optional<Dictionary>& options,
               Ref<NSError>* error);
    bool migrate(const Ref<NSManagedObjectModel>& model, const std::string& oldDocument, Ref<NSError>* error);
    void readRow(sqlite3_stmt* statement, const NSEntityDescription& entity, StoredRow& row) const;
    bool bind(sqlite3_stmt* statement, int index, const Value& value) const;
    std::string selectList(const NSEntityDescription& entity) const;

    // Prepared reads, reused by their SQL text (reset before each use).
    sqlite3_stmt* cached(const std::string& sql, Ref<NSError>* error);
    std::map<std::string, sqlite3_stmt*> statements_;

    sqlite3* db_ = nullptr;
    std::string identifier_;
    std::string path_;
};

// The stored form of a value of an attribute type (binds and reads use it). False when the value
// cannot be stored (a transformable value the archiver cannot code) or the bind fails; the
// reason goes to `error` when given. Texts and data are bound in place: `value` must stay alive
// and unchanged until the parameter is bound again, the bindings are cleared or the statement is
// finalised.
bool storeBindAttribute(sqlite3_stmt* statement, int index, NSAttributeType type, const Value& value,
                        Ref<NSError>* error = nullptr);

}  // namespace detail
