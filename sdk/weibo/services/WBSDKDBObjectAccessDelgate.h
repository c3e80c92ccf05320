#pragma once
// What the buffered object store asks of the records it keeps: each record writes and deletes
// itself, and its class creates the table, reads a row back and runs the range statements. Every
// call gets the open connection, inside a transaction the database manager opened.

#include <string>

#include "foundation/NSObject.h"
#include "sdk/weibo/storage/WBSDKSQLDatabase.h"

class WBSDKDBObjectAccessDelgate {
  public:
    virtual ~WBSDKDBObjectAccessDelgate() = default;
    virtual void insertToDataBase(WBSDKSQLDatabase* db) = 0;
    virtual void deleteInDB(WBSDKSQLDatabase* db) = 0;
};

using WBSDKDBObject = Ref<WBSDKDBObjectAccessDelgate>;

// The class side of the protocol, one table per record class.
struct WBSDKDBObjectClass {
    std::string name;
    void (*createTableIfNeeded)(WBSDKSQLDatabase* db);
    WBSDKDBObject (*objectFromRS)(WBSDKSQLResultSet* rs);
    // Both ends inclusive.
    void (*deleteInDB)(WBSDKSQLDatabase* db, double fromTime, double toTime);
    // From inclusive, to exclusive.
    Ref<WBSDKSQLResultSet> (*selectDB)(WBSDKSQLDatabase* db, double fromTime, double toTime);
};
