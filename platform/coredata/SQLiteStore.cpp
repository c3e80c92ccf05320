#include "coredata/SQLiteStore.h"

#include <sqlite3.h>

#include <cctype>
#include <charconv>
#include <map>
#include <set>

#include "coredata/CoreDataErrors.h"
#include "coredata/NSPersistentStoreCoordinator.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSUUID.h"

namespace detail {

namespace {

const std::string kMetaTable = "\"store_meta\"";

std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string hashesText(const Ref<NSManagedObjectModel>& model) {
    std::string text;
    for (const auto& entity : model->entities()) {
        const NSData& hash = entity->versionHash();
        static const char* digits = "0123456789abcdef";
        std::string hex;
        for (std::size_t i = 0; i < hash.length(); ++i) {
            hex += digits[hash.bytes()[i] >> 4];
            hex += digits[hash.bytes()[i] & 15];
        }
        text += entity->name() + "=" + hex + "\n";
    }
    return text;
}

std::string sqlType(const NSPropertyDescription& p) {
    if (auto r = dynamic_cast<const NSRelationshipDescription*>(&p))
        return r->isToMany() ? "TEXT" : "INTEGER";
    const auto& a = static_cast<const NSAttributeDescription&>(p);
    switch (a.attributeType()) {
        case NSInteger16AttributeType:
        case NSInteger32AttributeType:
        case NSInteger64AttributeType:
        case NSBooleanAttributeType:
            return "INTEGER";
        case NSDecimalAttributeType:
        case NSDoubleAttributeType:
        case NSFloatAttributeType:
        case NSDateAttributeType:
            return "REAL";
        case NSStringAttributeType:
            return "TEXT";
        default:
            return "BLOB";
    }
}

std::string keysText(const Value& value) {
    std::string text;
    if (const Array* keys = value.array()) {
        for (const Value& k : *keys) {
            if (!text.empty()) text += ",";
            text += std::to_string(k.longLongValue());
        }
    }
    return text;
}

Value keysFromText(const unsigned char* text, int length) {
    Array keys = Array::mutableArray();
    const char* p = reinterpret_cast<const char*>(text);
    const char* end = p + length;
    while (p < end) {
        long long key = 0;
        auto [next, ec] = std::from_chars(p, end, key);
        if (ec != std::errc()) break;
        keys.addObject(Value(key));
        p = next;
        if (p < end && *p == ',') ++p;
    }
    return keys;
}

bool safePragmaWord(const std::string& s) {
    if (s.empty() || s.size() > 64) return false;
    for (char c : s) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    }
    return true;
}

}  // namespace

bool storeBindAttribute(sqlite3_stmt* statement, int index, NSAttributeType type, const Value& value,
                        Ref<NSError>* error) {
    if (!value.isSomething()) return sqlite3_bind_null(statement, index) == SQLITE_OK;
    switch (type) {
        case NSInteger16AttributeType:
        case NSInteger32AttributeType:
        case NSInteger64AttributeType:
        case NSBooleanAttributeType:
            if (!value.isNumber()) return sqlite3_bind_null(statement, index) == SQLITE_OK;
            return sqlite3_bind_int64(statement, index, value.longLongValue()) == SQLITE_OK;
        case NSDecimalAttributeType:
        case NSDoubleAttributeType:
        case NSFloatAttributeType:
            if (!value.isNumber()) return sqlite3_bind_null(statement, index) == SQLITE_OK;
            return sqlite3_bind_double(statement, index, value.doubleValue()) == SQLITE_OK;
        case NSDateAttributeType:
            if (!value.isDate()) return sqlite3_bind_null(statement, index) == SQLITE_OK;
            return sqlite3_bind_double(statement, index, value.date()->timeIntervalSince1970()) == SQLITE_OK;
        case NSStringAttributeType: {
            if (!value.isString()) return sqlite3_bind_null(statement, index) == SQLITE_OK;
            // Bound in place: the caller's value outlives the statement's use of it.
            const std::string& s = *value.string();
            return sqlite3_bind_text64(statement, index, s.data(), s.size(), SQLITE_STATIC, SQLITE_UTF8) ==
                   SQLITE_OK;
        }
        case NSBinaryDataAttributeType:
            if (!value.isData()) return sqlite3_bind_null(statement, index) == SQLITE_OK;
            return sqlite3_bind_blob64(statement, index, value.data()->bytes(), value.data()->length(),
                                       SQLITE_STATIC) == SQLITE_OK;
        default: {
            Ref<NSError> archiveError;
            auto archived = NSKeyedArchiver::archivedDataWithRootObject(value, false, &archiveError);
            if (!archived) {
                // Storing nothing in place of the value would lose it without a word.
                if (error)
                    *error = NSError::errorWithDomain(
                        NSCocoaErrorDomain, NSPersistentStoreSaveError,
                        Dictionary{{NSLocalizedDescriptionKey,
                                    "The value " + value.description() + " cannot be archived" +
                                        (archiveError ? ": " + archiveError->localizedDescription()
                                                      : std::string("."))}});
                return false;
            }
            return sqlite3_bind_blob64(statement, index, archived->bytes(), archived->length(),
                                       SQLITE_TRANSIENT) == SQLITE_OK;
        }
    }
}

StoreBackend::~StoreBackend() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    if (db_) sqlite3_close_v2(db_);
}

sqlite3_stmt* StoreBackend::cached(const std::string& sql, Ref<NSError>* error) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) {
        sqlite3_reset(found->second);
        sqlite3_clear_bindings(found->second);
        return found->second;
    }
    // A store asked many different questions keeps only the recent ones.
    if (statements_.size() > 64) {
        for (auto& [text, statement] : statements_) sqlite3_finalize(statement);
        statements_.clear();
    }
    sqlite3_stmt* statement = prepare(sql, error);
    if (statement) statements_[sql] = statement;
    return statement;
}

std::string StoreBackend::columnName(const NSPropertyDescription& property) {
    return quoted((property.isRelationship() ? "r_" : "a_") + property.name());
}

std::string StoreBackend::tableName(const NSEntityDescription& entity) {
    return quoted("E_" + entity.name());
}

Ref<NSError> StoreBackend::sqliteError(long code, const std::string& what) const {
    int rc = db_ ? sqlite3_extended_errcode(db_) : SQLITE_ERROR;
    std::string message = db_ ? sqlite3_errmsg(db_) : "cannot open the database";
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSLocalizedDescriptionKey, what + ": " + message);
    info.setObject(
        NSUnderlyingErrorKey,
        NSError::errorWithDomain(NSSQLiteErrorDomain, rc, Dictionary{{NSLocalizedDescriptionKey, message}}));
    if (!path_.empty()) info.setObject(NSFilePathErrorKey, path_);
    if ((rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT) code = NSFileReadCorruptFileError;
    return NSError::errorWithDomain(NSCocoaErrorDomain, code, info);
}

bool StoreBackend::exec(const std::string& sql, Ref<NSError>* error) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK) {
        if (error) *error = sqliteError(NSSQLiteError, "store statement failed");
        return false;
    }
    return true;
}

sqlite3_stmt* StoreBackend::prepare(const std::string& sql, Ref<NSError>* error) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
        if (error) *error = sqliteError(NSSQLiteError, "store statement failed");
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

bool StoreBackend::writeMeta(const std::string& key, const std::string& value, Ref<NSError>* error) {
    sqlite3_stmt* s = prepare("INSERT OR REPLACE INTO " + kMetaTable + " (key, value) VALUES (?, ?)", error);
    if (!s) return false;
    sqlite3_bind_text(s, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text64(s, 2, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    int rc = sqlite3_step(s);
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) {
        if (error) *error = sqliteError(NSSQLiteError, "store statement failed");
        return false;
    }
    return true;
}

std::optional<std::string> StoreBackend::readMeta(const std::string& key, Ref<NSError>* error) {
    sqlite3_stmt* s = prepare("SELECT value FROM " + kMetaTable + " WHERE key = ?", error);
    if (!s) return std::nullopt;
    sqlite3_bind_text(s, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    std::optional<std::string> value;
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(s, 0);
        value = text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(s, 0))
                     : std::string();
    } else if (rc != SQLITE_DONE && error) {
        *error = sqliteError(NSSQLiteError, "store statement failed");
    }
    sqlite3_finalize(s);
    return value;
}

bool StoreBackend::createTable(const NSEntityDescription& entity, Ref<NSError>* error) {
    std::string sql = "CREATE TABLE IF NOT EXISTS " + tableName(entity) + " (pk INTEGER PRIMARY KEY";
    for (const auto& p : entity.properties()) sql += ", " + columnName(*p) + " " + sqlType(*p);
    return exec(sql + ")", error);
}

std::unique_ptr<StoreBackend> StoreBackend::open(const std::string& path,
                                                 const Ref<NSManagedObjectModel>& model,
                                                 const std::optional<Dictionary>& options,
                                                 Ref<NSError>* error) {
    std::unique_ptr<StoreBackend> store(new StoreBackend());
    store->path_ = path;
    int rc = sqlite3_open_v2(path.empty() ? ":memory:" : path.c_str(), &store->db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        if (error) *error = store->sqliteError(NSPersistentStoreOperationError, "cannot open the store");
        return nullptr;
    }
    sqlite3_extended_result_codes(store->db_, 1);
    sqlite3_busy_timeout(store->db_, 5000);
    if (!store->setUp(model, options, error)) return nullptr;
    return store;
}

bool StoreBackend::setUp(const Ref<NSManagedObjectModel>& model, const std::optional<Dictionary>& options,
                         Ref<NSError>* error) {
    // Reading the schema is the first real read: a file that is no database fails here.
    sqlite3_stmt* s = prepare("SELECT name FROM sqlite_master WHERE type = 'table'", error);
    if (!s) return false;
    std::set<std::string> tables;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        tables.insert(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) {
        if (error) *error = sqliteError(NSFileReadCorruptFileError, "cannot read the store");
        return false;
    }
    // Pragmas come only once the file is accepted (a readable store of this model, migrated if
    // need be, or a new one): a journal mode switch rewrites the header of a file that would
    // then be refused.
    auto applyPragmas = [&]() -> bool {
        const Dictionary* pragmas = options ? (*options)[NSSQLitePragmasOption].dictionary() : nullptr;
        if (!pragmas) return true;
        for (const auto& [name, value] : *pragmas) {
            std::string v = value.stringValue();
            if (!safePragmaWord(name) || !safePragmaWord(v)) continue;
            // journal_mode answers a row; the others answer nothing.
            sqlite3_stmt* pragma = prepare("PRAGMA " + name + " = " + v, error);
            if (!pragma) return false;
            int step = sqlite3_step(pragma);
            sqlite3_finalize(pragma);
            if (step != SQLITE_ROW && step != SQLITE_DONE) {
                if (error) *error = sqliteError(NSPersistentStoreOperationError, "cannot open the store");
                return false;
            }
        }
        return true;
    };
    auto migrateOption = [&](const char* key) { return options && (*options)[key].boolValue(); };
    const std::string hashes = hashesText(model);
    auto documentText = [&] {
        auto data = NSJSONSerialization::dataWithJSONObject(model->document(), 0, nullptr);
        return data ? std::string(data->view()) : std::string("{}");
    };

    if (!tables.count("store_meta")) {
        if (!tables.empty()) {
            if (error)
                *error = NSError::errorWithDomain(
                    NSCocoaErrorDomain, NSPersistentStoreIncompatibleSchemaError,
                    Dictionary{{NSLocalizedDescriptionKey, "The file is a database but not a store."},
                               {NSFilePathErrorKey, path_}});
            return false;
        }
        if (!applyPragmas()) return false;
        if (!exec("BEGIN", error)) return false;
        bool ok = exec("CREATE TABLE " + kMetaTable + " (key TEXT PRIMARY KEY, value TEXT)", error);
        for (const auto& entity : model->entities()) ok = ok && createTable(*entity, error);
        identifier_ = NSUUID::UUID()->UUIDString();
        ok = ok && writeMeta("identifier", identifier_, error) && writeMeta("hashes", hashes, error) &&
             writeMeta("model", documentText(), error);
        if (!ok) {
            exec("ROLLBACK", nullptr);
            return false;
        }
        return exec("COMMIT", error);
    }

    Ref<NSError> readError;
    auto identifier = readMeta("identifier", &readError);
    auto stored = readMeta("hashes", &readError);
    if (readError) {
        if (error) *error = readError;
        return false;
    }
    identifier_ = identifier ? *identifier : NSUUID::UUID()->UUIDString();
    if (stored && *stored == hashes) return applyPragmas();

    if (!migrateOption(NSMigratePersistentStoresAutomaticallyOption) ||
        !migrateOption(NSInferMappingModelAutomaticallyOption)) {
        if (error)
            *error = NSError::errorWithDomain(
                NSCocoaErrorDomain, NSPersistentStoreIncompatibleVersionHashError,
                Dictionary{{NSLocalizedDescriptionKey, "The model used to open the store is incompatible "
                                                       "with the one used to create the store."},
                           {NSFilePathErrorKey, path_}});
        return false;
    }
    auto oldDocument = readMeta("model", nullptr);
    if (!oldDocument || oldDocument->empty()) {
        if (error)
            *error = NSError::errorWithDomain(
                NSCocoaErrorDomain, NSMigrationMissingSourceModelError,
                Dictionary{{NSLocalizedDescriptionKey, "Can't find model for source store"},
                           {NSFilePathErrorKey, path_}});
        return false;
    }
    if (!exec("BEGIN", error)) return false;
    if (!migrate(model, *oldDocument, error) || !writeMeta("hashes", hashes, error) ||
        !writeMeta("model", documentText(), error)) {
        exec("ROLLBACK", nullptr);
        return false;
    }
    return exec("COMMIT", error) && applyPragmas();
}

bool StoreBackend::migrate(const Ref<NSManagedObjectModel>& model, const std::string& oldDocument,
                           Ref<NSError>* error) {
    auto fail = [&](const std::string& reason) {
        if (error)
            *error = NSError::errorWithDomain(
                NSCocoaErrorDomain, NSMigrationError,
                Dictionary{{NSLocalizedDescriptionKey, "Cannot migrate the store: " + reason},
                           {NSFilePathErrorKey, path_}});
        return false;
    };
    auto old = NSManagedObjectModel::modelWithData(NSData::fromString(oldDocument), nullptr);
    if (!old) {
        if (error)
            *error = NSError::errorWithDomain(
                NSCocoaErrorDomain, NSMigrationMissingSourceModelError,
                Dictionary{{NSLocalizedDescriptionKey, "Can't find model for source store"}});
        return false;
    }
    // Lightweight: the new model may only add entities and properties.
    for (const auto& oldEntity : old->entities()) {
        auto entity = model->entitiesByName()[oldEntity->name()];
        if (!entity) return fail("entity " + oldEntity->name() + " was removed");
        for (const auto& [name, a] : oldEntity->attributesByName()) {
            auto now = entity->attributesByName()[name];
            if (!now) return fail("attribute " + name + " was removed");
            if (now->attributeType() != a->attributeType())
                return fail("attribute " + name + " changed its type");
        }
        for (const auto& [name, r] : oldEntity->relationshipsByName()) {
            auto now = entity->relationshipsByName()[name];
            if (!now) return fail("relationship " + name + " was removed");
            auto d0 = r->destinationEntity(), d1 = now->destinationEntity();
            if ((d0 ? d0->name() : "") != (d1 ? d1->name() : "") || r->isToMany() != now->isToMany())
                return fail("relationship " + name + " changed");
        }
    }
    for (const auto& entity : model->entities()) {
        auto oldEntity = old->entitiesByName()[entity->name()];
        if (!oldEntity) {
            if (!createTable(*entity, error)) return false;
            continue;
        }
        for (const auto& p : entity->properties()) {
            if (oldEntity->propertiesByName()[p->name()]) continue;
            auto attribute = dynamic_cast<const NSAttributeDescription*>(p.get());
            if (attribute && !attribute->isOptional() && !attribute->defaultValue().isSomething())
                return fail("attribute " + p->name() + " is required and has no default");
            if (!exec("ALTER TABLE " + tableName(*entity) + " ADD COLUMN " + columnName(*p) + " " +
                          sqlType(*p),
                      error))
                return false;
            if (attribute && attribute->defaultValue().isSomething()) {
                sqlite3_stmt* s =
                    prepare("UPDATE " + tableName(*entity) + " SET " + columnName(*p) + " = ?", error);
                if (!s) return false;
                storeBindAttribute(s, 1, attribute->attributeType(), attribute->defaultValue());
                int rc = sqlite3_step(s);
                sqlite3_finalize(s);
                if (rc != SQLITE_DONE) {
                    if (error) *error = sqliteError(NSMigrationError, "cannot migrate the store");
                    return false;
                }
            }
        }
    }
    return true;
}

std::string StoreBackend::selectList(const NSEntityDescription& entity) const {
    std::string sql = "pk";
    for (const auto& p : entity.properties()) sql += ", " + columnName(*p);
    return sql;
}

void StoreBackend::readRow(sqlite3_stmt* s, const NSEntityDescription& entity, StoredRow& row) const {
    row.key = sqlite3_column_int64(s, 0);
    const auto& properties = entity.properties();
    row.values.resize(properties.size());
    for (std::size_t i = 0; i < properties.size(); ++i) {
        int column = static_cast<int>(i) + 1;
        int type = sqlite3_column_type(s, column);
        if (type == SQLITE_NULL) {
            if (properties[i]->isRelationship() &&
                static_cast<const NSRelationshipDescription&>(*properties[i]).isToMany())
                row.values[i] = Array::mutableArray();
            continue;
        }
        if (properties[i]->isRelationship()) {
            if (static_cast<const NSRelationshipDescription&>(*properties[i]).isToMany()) {
                row.values[i] = keysFromText(sqlite3_column_text(s, column), sqlite3_column_bytes(s, column));
            } else {
                row.values[i] = Value(static_cast<long long>(sqlite3_column_int64(s, column)));
            }
            continue;
        }
        auto& a = static_cast<const NSAttributeDescription&>(*properties[i]);
        switch (a.attributeType()) {
            case NSInteger16AttributeType:
                row.values[i] =
                    NSNumber::numberWithShort(static_cast<short>(sqlite3_column_int64(s, column)));
                break;
            case NSInteger32AttributeType:
                row.values[i] = NSNumber::numberWithInt(static_cast<int>(sqlite3_column_int64(s, column)));
                break;
            case NSInteger64AttributeType:
                row.values[i] = Value(static_cast<long long>(sqlite3_column_int64(s, column)));
                break;
            case NSBooleanAttributeType:
                row.values[i] = Value(sqlite3_column_int64(s, column) != 0);
                break;
            case NSDecimalAttributeType:
            case NSDoubleAttributeType:
                row.values[i] = Value(sqlite3_column_double(s, column));
                break;
            case NSFloatAttributeType:
                row.values[i] = Value(static_cast<float>(sqlite3_column_double(s, column)));
                break;
            case NSDateAttributeType:
                row.values[i] = NSDate::dateWithTimeIntervalSince1970(sqlite3_column_double(s, column));
                break;
            case NSStringAttributeType: {
                const unsigned char* text = sqlite3_column_text(s, column);
                row.values[i] =
                    std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(s, column));
                break;
            }
            case NSBinaryDataAttributeType:
                row.values[i] = NSData(sqlite3_column_blob(s, column), sqlite3_column_bytes(s, column));
                break;
            default:
                row.values[i] = NSKeyedUnarchiver::unarchiveObjectWithData(
                    NSData(sqlite3_column_blob(s, column), sqlite3_column_bytes(s, column)));
                break;
        }
    }
}

bool StoreBackend::bind(sqlite3_stmt* s, int index, const Value& v) const {
    if (!v.isSomething()) return sqlite3_bind_null(s, index) == SQLITE_OK;
    if (const NSNumber* n = v.number()) {
        if (n->isReal()) return sqlite3_bind_double(s, index, n->doubleValue()) == SQLITE_OK;
        return sqlite3_bind_int64(s, index, n->longLongValue()) == SQLITE_OK;
    }
    if (const std::string* t = v.string())
        return sqlite3_bind_text64(s, index, t->data(), t->size(), SQLITE_TRANSIENT, SQLITE_UTF8) ==
               SQLITE_OK;
    if (const NSDate* d = v.date())
        return sqlite3_bind_double(s, index, d->timeIntervalSince1970()) == SQLITE_OK;
    if (const NSData* d = v.data())
        return sqlite3_bind_blob64(s, index, d->bytes(), d->length(), SQLITE_TRANSIENT) == SQLITE_OK;
    return sqlite3_bind_null(s, index) == SQLITE_OK;
}

bool StoreBackend::fetch(const NSEntityDescription& entity, const StoreQuery& query,
                         std::vector<StoredRow>& rows, Ref<NSError>* error) {
    std::string sql = "SELECT " + selectList(entity) + " FROM " + tableName(entity);
    if (!query.where.empty()) sql += " WHERE " + query.where;
    sql += " ORDER BY " + (query.orderBy.empty() ? std::string("pk") : query.orderBy + ", pk");
    if (query.limit || query.offset) {
        sql += " LIMIT " + (query.limit ? std::to_string(query.limit) : std::string("-1"));
        if (query.offset) sql += " OFFSET " + std::to_string(query.offset);
    }
    sqlite3_stmt* s = cached(sql, error);
    if (!s) return false;
    for (std::size_t i = 0; i < query.binds.size(); ++i) bind(s, static_cast<int>(i) + 1, query.binds[i]);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        rows.emplace_back();
        readRow(s, entity, rows.back());
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) {
        if (error) *error = sqliteError(NSSQLiteError, "cannot read the store");
        return false;
    }
    return true;
}

bool StoreBackend::fetchRow(const NSEntityDescription& entity, std::int64_t key, StoredRow& row,
                            Ref<NSError>* error) {
    sqlite3_stmt* s =
        cached("SELECT " + selectList(entity) + " FROM " + tableName(entity) + " WHERE pk = ?", error);
    if (!s) return false;
    sqlite3_bind_int64(s, 1, key);
    int rc = sqlite3_step(s);
    bool found = rc == SQLITE_ROW;
    if (found) readRow(s, entity, row);
    sqlite3_reset(s);
    if (!found && rc != SQLITE_DONE && error) *error = sqliteError(NSSQLiteError, "cannot read the store");
    return found;
}

bool StoreBackend::count(const NSEntityDescription& entity, const StoreQuery& query, std::size_t& count,
                         Ref<NSError>* error) {
    std::string sql = "SELECT COUNT(*) FROM " + tableName(entity);
    if (!query.where.empty()) sql += " WHERE " + query.where;
    sqlite3_stmt* s = cached(sql, error);
    if (!s) return false;
    for (std::size_t i = 0; i < query.binds.size(); ++i) bind(s, static_cast<int>(i) + 1, query.binds[i]);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) count = static_cast<std::size_t>(sqlite3_column_int64(s, 0));
    sqlite3_reset(s);
    if (rc != SQLITE_ROW) {
        if (error) *error = sqliteError(NSSQLiteError, "cannot read the store");
        return false;
    }
    return true;
}

std::int64_t StoreBackend::allocateKeys(const NSEntityDescription& entity, std::size_t n,
                                        Ref<NSError>* error) {
    const std::string key = "next." + entity.name();
    Ref<NSError> readError;
    auto stored = readMeta(key, &readError);
    if (readError) {
        if (error) *error = readError;
        return 0;
    }
    std::int64_t next = 1;
    if (stored) {
        std::from_chars(stored->data(), stored->data() + stored->size(), next);
        if (next < 1) next = 1;
    }
    if (!writeMeta(key, std::to_string(next + static_cast<std::int64_t>(n)), error)) return 0;
    return next;
}

bool StoreBackend::apply(const std::vector<StoreChange>& changes, Ref<NSError>* error) {
    if (!exec("BEGIN IMMEDIATE", error)) return false;
    // Statements are prepared once per entity and kind (per set of written columns for updates).
    struct Prepared {
        sqlite3_stmt* insert = nullptr;
        sqlite3_stmt* remove = nullptr;
        std::map<std::vector<bool>, sqlite3_stmt*> updates;
    };
    std::map<const NSEntityDescription*, Prepared> statements;
    auto fail = [&](long code, const std::string& reason, const StoreChange& change) {
        if (!error) return;
        Dictionary info{{NSLocalizedDescriptionKey, reason}};
        if (change.objectID)
            info.setObject(
                NSAffectedObjectsErrorKey,
                Array(std::vector<Value>{std::const_pointer_cast<NSObject>(change.objectID->self())}));
        *error = NSError::errorWithDomain(NSCocoaErrorDomain, code, info);
    };
    bool ok = true;
    const NSEntityDescription* lastEntity = nullptr;
    Prepared* prepared = nullptr;
    for (const auto& change : changes) {
        const NSEntityDescription& entity = *change.entity;
        const auto& properties = entity.properties();
        if (&entity != lastEntity) {
            lastEntity = &entity;
            prepared = &statements[&entity];
        }
        Prepared& p = *prepared;
        const bool partial = change.kind == StoreChange::Kind::Update;
        auto written = [&](std::size_t i) {
            return !partial || (change.changed && i < change.changed->size() && (*change.changed)[i]);
        };
        sqlite3_stmt** slot = nullptr;
        if (change.kind == StoreChange::Kind::Insert) {
            slot = &p.insert;
        } else if (change.kind == StoreChange::Kind::Delete) {
            slot = &p.remove;
        } else {
            std::vector<bool> columns(properties.size(), false);
            for (std::size_t i = 0; i < properties.size(); ++i) columns[i] = written(i);
            slot = &p.updates[columns];
        }
        if (!*slot) {
            std::string sql;
            if (change.kind == StoreChange::Kind::Delete) {
                sql = "DELETE FROM " + tableName(entity) + " WHERE pk = ?";
            } else if (change.kind == StoreChange::Kind::Insert) {
                sql =
                    "INSERT OR REPLACE INTO " + tableName(entity) + " (" + selectList(entity) + ") VALUES (?";
                for (std::size_t i = 0; i < properties.size(); ++i) sql += ", ?";
                sql += ")";
            } else {
                std::string set;
                for (std::size_t i = 0; i < properties.size(); ++i) {
                    if (written(i))
                        set += (set.empty() ? "" : ", ") + columnName(*properties[i]) + " = ?" +
                               std::to_string(i + 2);
                }
                // Nothing changed still checks that the row is there.
                sql = "UPDATE " + tableName(entity) + " SET " + (set.empty() ? std::string("pk = pk") : set) +
                      " WHERE pk = ?1";
            }
            *slot = prepare(sql, error);
            if (!*slot) {
                ok = false;
                break;
            }
        }
        sqlite3_stmt* s = *slot;
        sqlite3_reset(s);
        // Every parameter of the statement is bound again below (nil as NULL), so nothing of the
        // previous change is left to clear.
        sqlite3_bind_int64(s, 1, change.row.key);
        if (change.kind != StoreChange::Kind::Delete) {
            const std::vector<Value>& values = change.values ? *change.values : change.row.values;
            for (std::size_t i = 0; i < properties.size() && ok; ++i) {
                if (!written(i)) continue;
                const Value& v = i < values.size() ? values[i] : Value::nil();
                int index = static_cast<int>(i) + 2;
                if (properties[i]->isRelationship()) {
                    if (static_cast<const NSRelationshipDescription&>(*properties[i]).isToMany()) {
                        std::string text = keysText(v);
                        sqlite3_bind_text64(s, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                            SQLITE_UTF8);
                    } else if (v.isNumber()) {
                        sqlite3_bind_int64(s, index, v.longLongValue());
                    } else {
                        sqlite3_bind_null(s, index);
                    }
                    continue;
                }
                Ref<NSError> bindError;
                if (!storeBindAttribute(
                        s, index, static_cast<const NSAttributeDescription&>(*properties[i]).attributeType(),
                        v, &bindError)) {
                    std::string what = entity.name() + "." + properties[i]->name();
                    fail(NSPersistentStoreSaveError,
                         "Cannot save " + what + ": " +
                             (bindError ? bindError->localizedDescription()
                                        : std::string(sqlite3_errmsg(db_))),
                         change);
                    ok = false;
                }
            }
            if (!ok) break;
        }
        if (sqlite3_step(s) != SQLITE_DONE) {
            if (error) *error = sqliteError(NSPersistentStoreSaveError, "cannot save to the store");
            ok = false;
            break;
        }
        if (change.kind == StoreChange::Kind::Update && sqlite3_changes(db_) == 0) {
            fail(NSManagedObjectMergeError,
                 "The object " + (change.objectID ? change.objectID->description() : std::string("(nil)")) +
                     " was deleted from the store by another context; its changes cannot be saved.",
                 change);
            ok = false;
            break;
        }
    }
    for (auto& [entity, p] : statements) {
        sqlite3_finalize(p.insert);
        sqlite3_finalize(p.remove);
        for (auto& [columns, update] : p.updates) sqlite3_finalize(update);
    }
    if (!ok) {
        exec("ROLLBACK", nullptr);
        return false;
    }
    if (!exec("COMMIT", error)) {
        exec("ROLLBACK", nullptr);
        return false;
    }
    return true;
}

}  // namespace detail
