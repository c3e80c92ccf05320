#include "foundation/NSKeyedArchiver.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NSPropertyListSerialization.h"
#include "tests/support/TestSupport.h"

namespace {

// A record with every kind of field, decoding securely.
class ArchUser : public NSObject, public NSSecureCoding {
  public:
    ArchUser() = default;
    explicit ArchUser(NSCoder& coder) {
        name = coder.decodeObjectOfClass("NSString", "name").optionalString();
        userId = coder.decodeInt64ForKey("user_id");
        small = coder.decodeInt32ForKey("small");
        vip = coder.decodeBoolForKey("vip");
        score = coder.decodeDoubleForKey("score");
        ratio = coder.decodeFloatForKey("ratio");
        tags = coder.decodeObjectOfClasses({"NSArray", "NSDictionary"}, "tags");
        buddy = coder.decodeObjectOfClassAs<ArchUser>("ArchUser", "buddy");
        hadBuddyKey = coder.containsValueForKey("buddy");
    }
    void encodeWithCoder(NSCoder& coder) const override {
        if (name) coder.encodeObject(*name, "name");
        coder.encodeInt64(userId, "user_id");
        coder.encodeInt64(small, "small");
        coder.encodeBool(vip, "vip");
        coder.encodeDouble(score, "score");
        coder.encodeFloat(ratio, "ratio");
        if (!tags.isNil()) coder.encodeObject(tags, "tags");
        coder.encodeObject(buddy, "buddy");  // also when there is none
    }
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "ArchUser"; }

    std::optional<std::string> name;
    std::int64_t userId = 0;
    std::int64_t small = 0;
    bool vip = false;
    double score = 0;
    float ratio = 0;
    Value tags;
    Ref<ArchUser> buddy;
    bool hadBuddyKey = false;
};
const NSCodableClass<ArchUser> registerUser("ArchUser");

// A base and a subclass for class checks by ancestry.
class ArchShape : public NSObject, public NSSecureCoding {
  public:
    ArchShape() = default;
    explicit ArchShape(NSCoder& coder) : sides(coder.decodeIntForKey("sides")) {}
    void encodeWithCoder(NSCoder& coder) const override { coder.encodeInt(sides, "sides"); }
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "ArchShape"; }
    int sides = 0;
};
class ArchSquare : public ArchShape {
  public:
    ArchSquare() { sides = 4; }
    explicit ArchSquare(NSCoder& coder) : ArchShape(coder) {}
    std::string className() const override { return "ArchSquare"; }
};
const NSCodableClass<ArchShape> registerShape("ArchShape");
const NSCodableClass<ArchSquare> registerSquare("ArchSquare", "ArchShape");

// Codable, but not for secure decoding.
class ArchLoose : public NSObject, public NSCoding {
  public:
    ArchLoose() = default;
    explicit ArchLoose(NSCoder& coder) : payload(coder.decodeObjectForKey("payload")) {}
    void encodeWithCoder(NSCoder& coder) const override { coder.encodeObject(payload, "payload"); }
    std::string className() const override { return "ArchLoose"; }
    Value payload;
};
const NSCodableClass<ArchLoose> registerLoose("ArchLoose");

// Its coding throws.
class ArchThrower : public NSObject, public NSCoding {
  public:
    ArchThrower() = default;
    explicit ArchThrower(NSCoder&) { throw std::runtime_error("cannot decode"); }
    void encodeWithCoder(NSCoder& coder) const override {
        coder.encodeBool(true, "x");
        if (throwOnEncode) throw std::runtime_error("cannot encode");
    }
    std::string className() const override { return "ArchThrower"; }
    bool throwOnEncode = false;
};
const NSCodableClass<ArchThrower> registerThrower("ArchThrower");

class NotCodable : public NSObject {
  public:
    std::string className() const override { return "NotCodable"; }
};

NSData archive(const Value& root) {
    auto data = NSKeyedArchiver::archivedDataWithRootObject(root);
    EXPECT_TRUE(data.has_value());
    return data.value_or(NSData());
}

// Edits an archive's property list and writes it back.
NSData editArchive(const Value& root, const std::function<void(Dictionary&)>& edit) {
    Value plist = NSPropertyListSerialization::propertyListWithData(
        archive(root), NSPropertyListMutableContainers, nullptr, nullptr);
    Dictionary d = *plist.dictionary();
    edit(d);
    return *NSPropertyListSerialization::dataWithPropertyList(d, NSPropertyListXMLFormat_v1_0, 0, nullptr);
}

// Gives every archived object of one class another class name.
void renameClass(Dictionary& archive, const std::string& from, const std::string& to) {
    Array objects = *archive["$objects"].array();
    for (std::size_t i = 1; i < objects.count(); ++i) {
        if (objects[i]["$class"] == Value(from)) {
            Dictionary e = objects[i].dictionary()->mutableCopy();
            e.setObject("$class", to);
            objects.replaceObjectAtIndex(i, e);
        }
    }
    archive.setObject("$objects", objects);
}

Ref<ArchUser> sampleUser() {
    auto u = make<ArchUser>();
    u->name = "改装达人";
    u->userId = 1234567890123ll;
    u->small = 7;
    u->vip = true;
    u->score = 127.5;
    u->ratio = 0.1f;
    u->tags = Array{"turbo", 3, Dictionary{{"k", NSData::fromString("bytes")}}};
    return u;
}

// ---------------------------------------------------------------------------------------------

TEST(KeyedArchiverTest, NativeValuesRoundTrip) {
    Array mutableList = Array::mutableArray();
    mutableList.addObject("changeable");
    Value root = Dictionary{{"s", "text"},
                            {"n", 42},
                            {"r", 0.25},
                            {"b", false},
                            {"d", NSData::fromString(std::string("\0\1", 2))},
                            {"t", NSDate::dateWithTimeIntervalSince1970(1500000000)},
                            {"null", Value::null()},
                            {"list", Array{1, Array{}, Dictionary{}}},
                            {"mutable", mutableList}};
    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(archive(root));
    EXPECT_EQ(back, root);
    EXPECT_FALSE(back.dictionary()->isMutable());
    EXPECT_TRUE(back["mutable"].array()->isMutable());
    EXPECT_TRUE(back["null"].isNull());
}

TEST(KeyedArchiverTest, NilRootArchivesAndReadsBackAsNil) {
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value());
    ASSERT_TRUE(data);
    EXPECT_GE(data->length(), 11u);
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithData(*data).isNil());
    Ref<NSError> error;
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("ArchUser", *data, &error).isNil());
    EXPECT_FALSE(error);
}

TEST(KeyedArchiverTest, FilesOverwrittenByNilReadAsNil) {
    testsupport::TemporaryDirectory dir;
    std::string path = dir.file("QVNUserInfoKey.arc");
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithFile(path).isNil());  // missing
    ASSERT_TRUE(NSKeyedArchiver::archiveRootObject(sampleUser(), path));
    auto user = NSKeyedUnarchiver::unarchiveObjectWithFile(path).objectAs<ArchUser>();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->name, std::optional<std::string>("改装达人"));
    ASSERT_TRUE(NSKeyedArchiver::archiveRootObject(Value(), path));
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithFile(path).isNil());
    EXPECT_FALSE(NSKeyedArchiver::archiveRootObject(1, dir.file("no/such/folder/x.arc")));
}

TEST(KeyedArchiverTest, ObjectFieldsRoundTrip) {
    auto original = sampleUser();
    auto user = NSKeyedUnarchiver::unarchiveObjectWithData(archive(original)).objectAs<ArchUser>();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->name, original->name);
    EXPECT_EQ(user->userId, original->userId);
    EXPECT_EQ(user->small, 7);
    EXPECT_TRUE(user->vip);
    EXPECT_EQ(user->score, 127.5);
    EXPECT_EQ(user->ratio, 0.1f);
    EXPECT_EQ(user->tags, original->tags);
    EXPECT_FALSE(user->buddy);
    EXPECT_TRUE(user->hadBuddyKey);  // encoded as nil, still present
}

TEST(KeyedArchiverTest, AbsentKeysAndNarrowReadings) {
    auto archiver = make<NSKeyedArchiver>();
    archiver->encodeInt64(std::int64_t(1) << 40 | 5, "wide");
    archiver->encodeObject(NSNumber::numberWithInt(9), "boxed");
    archiver->encodeObject("text", "word");
    archiver->encodeBool(true, "flag");
    archiver->encodeObject(Value(), "nothing");
    auto data = archiver->encodedData();
    ASSERT_TRUE(data);
    archiver->encodeBool(true, "late");  // ignored after finishing

    auto u = make<NSKeyedUnarchiver>(*data);
    ASSERT_FALSE(u->error());
    EXPECT_EQ(u->decodeInt32ForKey("wide"), 5);
    EXPECT_EQ(u->decodeInt64ForKey("wide"), (std::int64_t(1) << 40) | 5);
    EXPECT_EQ(u->decodeIntegerForKey("boxed"), 9);  // a number stored as an object
    EXPECT_EQ(u->decodeObjectForKey("wide").longLongValue(), (std::int64_t(1) << 40) | 5);  // and the reverse
    EXPECT_EQ(u->decodeInt64ForKey("word"), 0);                                             // not a number
    EXPECT_TRUE(u->decodeBoolForKey("flag"));
    EXPECT_FALSE(u->decodeBoolForKey("missing"));
    EXPECT_EQ(u->decodeDoubleForKey("missing"), 0);
    EXPECT_TRUE(u->decodeObjectForKey("missing").isNil());
    EXPECT_TRUE(u->containsValueForKey("nothing"));
    EXPECT_TRUE(u->decodeObjectForKey("nothing").isNil());
    EXPECT_FALSE(u->containsValueForKey("missing"));
    EXPECT_FALSE(u->containsValueForKey("late"));
    u->finishDecoding();
    EXPECT_TRUE(u->decodeObjectForKey("word").isNil());
}

TEST(KeyedArchiverTest, SharedObjectsStayShared) {
    auto shared = sampleUser();
    Array list = Array::mutableArray();
    list.addObject(shared);
    list.addObject(shared);
    Array inner{1, 2};
    Value root = Dictionary{{"users", list}, {"a", inner}, {"b", inner}};
    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(archive(root));
    ASSERT_TRUE(back.isDictionary());
    EXPECT_EQ(back["users"][0].object(), back["users"][1].object());
    EXPECT_TRUE(back["a"].array()->isSameArray(*back["b"].array()));
}

TEST(KeyedArchiverTest, CyclesArchiveAndTheBackReferenceReadsAsNil) {
    auto a = sampleUser();
    auto b = make<ArchUser>();
    a->buddy = b;
    b->buddy = a;
    auto data = NSKeyedArchiver::archivedDataWithRootObject(a);
    b->buddy = nullptr;  // break the cycle so both can go
    ASSERT_TRUE(data);
    auto back = NSKeyedUnarchiver::unarchiveObjectWithData(*data).objectAs<ArchUser>();
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->buddy);
    EXPECT_FALSE(back->buddy->buddy);

    Array self = Array::mutableArray();
    self.addObject(1);
    self.addObject(self);
    auto selfData = NSKeyedArchiver::archivedDataWithRootObject(self);
    self.removeAllObjects();
    ASSERT_TRUE(selfData);
    Value selfBack = NSKeyedUnarchiver::unarchiveObjectWithData(*selfData);
    ASSERT_TRUE(selfBack.isArray());
    EXPECT_EQ(selfBack.array()->count(), 1u);
}

TEST(KeyedArchiverTest, ValuesThatCannotBeCodedGiveNoData) {
    EXPECT_FALSE(NSKeyedArchiver::archivedDataWithRootObject(make<NotCodable>()));
    EXPECT_FALSE(
        NSKeyedArchiver::archivedDataWithRootObject(Array{1, Dictionary{{"x", make<NotCodable>()}}}));
    testsupport::TemporaryDirectory dir;
    EXPECT_FALSE(NSKeyedArchiver::archiveRootObject(make<NotCodable>(), dir.file("x.arc")));

    auto thrower = make<ArchThrower>();
    thrower->throwOnEncode = true;
    Ref<NSError> error;
    EXPECT_FALSE(NSKeyedArchiver::archivedDataWithRootObject(thrower, false, &error));
    EXPECT_TRUE(error);

    // Secure archiving refuses classes that do not decode securely.
    error = nullptr;
    EXPECT_FALSE(NSKeyedArchiver::archivedDataWithRootObject(make<ArchLoose>(), true, &error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(NSKeyedArchiver::archivedDataWithRootObject(sampleUser(), true, nullptr));
}

TEST(KeyedArchiverTest, DecodingThatThrowsGivesNil) {
    NSData data = archive(Array{make<ArchThrower>()});
    Ref<NSError> error;
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(data, &error).isNil());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSCoderReadCorruptError);
}

TEST(KeyedArchiverTest, ErrorsRoundTrip) {
    auto underlying = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorTimedOut,
                                               Dictionary{{NSLocalizedDescriptionKey, "timed out"}});
    auto error = NSError::errorWithDomain(
        "QVNAPI", 10003,
        Dictionary{{"msg", "帐号失效"}, {NSUnderlyingErrorKey, underlying}, {"object", make<NotCodable>()}});
    Ref<NSError> slot;
    Value back = NSKeyedUnarchiver::unarchivedObjectOfClass("NSError", archive(error), &slot);
    auto decoded = back.objectAs<NSError>();
    ASSERT_TRUE(decoded) << (slot ? slot->description() : "");
    EXPECT_EQ(decoded->domain(), "QVNAPI");
    EXPECT_EQ(decoded->code(), 10003);
    EXPECT_EQ(decoded->userInfo()["msg"], Value("帐号失效"));
    EXPECT_FALSE(decoded->userInfo().containsKey("object"));  // not codable: left out
    auto inner = decoded->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>();
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->code(), NSURLErrorTimedOut);
}

// ---------------------------------------------------------------------------------------------
// Secure decoding

TEST(SecureUnarchiverTest, RootMustBeAnAllowedClass) {
    NSData data = archive(sampleUser());
    Ref<NSError> error;
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("ArchUser", data, &error).objectAs<ArchUser>());
    EXPECT_FALSE(error);
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("NSObject", data, &error).objectAs<ArchUser>());
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("NSString", data, &error).isNil());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSCoderReadCorruptError);
    EXPECT_NE(error->localizedDescription().find("ArchUser"), std::string::npos);
}

TEST(SecureUnarchiverTest, SubclassesCountForTheirBase) {
    NSData data = archive(make<ArchSquare>());
    auto shape =
        NSKeyedUnarchiver::unarchivedObjectOfClass("ArchShape", data, nullptr).objectAs<ArchSquare>();
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->sides, 4);
    // But a base is not its subclass.
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("ArchSquare", archive(make<ArchShape>()), nullptr)
                    .isNil());
    EXPECT_TRUE(NSCodingRegistry::isKindOfClass("ArchSquare", "ArchShape"));
    EXPECT_TRUE(NSCodingRegistry::isKindOfClass("ArchSquare", "NSObject"));
    EXPECT_FALSE(NSCodingRegistry::isKindOfClass("ArchShape", "ArchSquare"));
}

TEST(SecureUnarchiverTest, ClassesWithoutSecureCodingAreRefused) {
    NSData data = archive(make<ArchLoose>());
    Ref<NSError> error;
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("ArchLoose", data, &error).isNil());
    EXPECT_TRUE(error);
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithData(data).objectAs<ArchLoose>());
}

TEST(SecureUnarchiverTest, NestedObjectsAreCheckedToo) {
    // The user's "buddy" is decoded as ArchUser; a shape there is refused and fails the whole.
    auto user = sampleUser();
    auto archiver = make<NSKeyedArchiver>();
    auto buddyData = [&] {
        // Hand-make a user whose buddy is a square by editing the archive's class name.
        user->buddy = make<ArchUser>();
        return editArchive(user, [](Dictionary& d) {
            Array objects = *d["$objects"].array();
            for (std::size_t i = 0; i < objects.count(); ++i) {
                if (objects[i].isDictionary() && objects[i]["$class"] == Value("ArchUser") && i > 1) {
                    Dictionary entry = objects[i].dictionary()->mutableCopy();
                    entry.setObject("$class", "ArchSquare");
                    objects.replaceObjectAtIndex(i, entry);
                }
            }
        });
    }();
    Ref<NSError> error;
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("ArchUser", buddyData, &error).isNil());
    EXPECT_TRUE(error);
    // Non-secure decoding builds it, with the odd buddy read as nil by the user's typed cast.
    auto loose = NSKeyedUnarchiver::unarchiveObjectWithData(buddyData).objectAs<ArchUser>();
    ASSERT_TRUE(loose);
    EXPECT_FALSE(loose->buddy);
}

TEST(SecureUnarchiverTest, ContainersAllowLeavesButCheckObjects) {
    Value plain = Dictionary{{"a", Array{"x", 1, NSData(), Value::null()}}};
    Ref<NSError> error;
    EXPECT_EQ(NSKeyedUnarchiver::unarchivedObjectOfClass("NSDictionary", archive(plain), &error), plain);
    EXPECT_FALSE(error);
    Value withObject = Array{Array{sampleUser()}};
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("NSArray", archive(withObject), &error).isNil());
    EXPECT_TRUE(error);
    error = nullptr;
    Value ok =
        NSKeyedUnarchiver::unarchivedObjectOfClasses({"NSArray", "ArchUser"}, archive(withObject), &error);
    EXPECT_TRUE(ok.isArray());
    EXPECT_FALSE(error);
    // A leaf at the top must itself be allowed.
    EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass("NSNumber", archive("text"), nullptr).isNil());
    EXPECT_EQ(NSKeyedUnarchiver::unarchivedObjectOfClass("NSString", archive("text"), nullptr),
              Value("text"));
}

TEST(SecureUnarchiverTest, SharedContainerIsCheckedAgainstEachCall) {
    // The same array is decoded first where objects are allowed, then where they are not.
    auto archiver = make<NSKeyedArchiver>(true);
    Array shared{sampleUser()};
    archiver->encodeObject(shared, "first");
    archiver->encodeObject(shared, "second");
    auto data = archiver->encodedData();
    ASSERT_TRUE(data);
    auto u = make<NSKeyedUnarchiver>(*data, true);
    EXPECT_TRUE(u->decodeObjectOfClasses({"NSArray", "ArchUser"}, "first").isArray());
    EXPECT_FALSE(u->error());
    EXPECT_TRUE(u->decodeObjectOfClass("NSArray", "second").isNil());
    EXPECT_TRUE(u->error());
}

TEST(SecureUnarchiverTest, PlainDecodeReadsOnlyNativeValues) {
    auto archiver = make<NSKeyedArchiver>();
    archiver->encodeObject(Array{"a"}, "list");
    archiver->encodeObject(sampleUser(), "user");
    auto data = archiver->encodedData();
    auto u = make<NSKeyedUnarchiver>(*data, true);
    EXPECT_TRUE(u->requiresSecureCoding());
    EXPECT_EQ(u->decodeObjectForKey("list"), Value(Array{"a"}));
    EXPECT_TRUE(u->decodeObjectForKey("user").isNil());
    EXPECT_TRUE(u->error());
}

TEST(KeyedArchiverTest, ArchivingOnManyThreadsWhileClassesRegister) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 100; ++i) {
                if (t == 0)
                    NSCodingRegistry::registerCodable<ArchShape>("ArchShapeCopy" + std::to_string(i % 5));
                auto data = NSKeyedArchiver::archivedDataWithRootObject(sampleUser());
                auto user = data ? NSKeyedUnarchiver::unarchivedObjectOfClass("ArchUser", *data, nullptr)
                                       .objectAs<ArchUser>()
                                 : nullptr;
                if (!user || user->score != 127.5) ++failures[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------------------------
// Damaged archives

TEST(DamagedArchiveTest, NotAnArchive) {
    for (const std::string& bytes : {std::string(), std::string("garbage"),
                                     std::string("<plist><array/></plist>"), std::string("bplist00")}) {
        Ref<NSError> error;
        EXPECT_TRUE(
            NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(NSData::fromString(bytes), &error).isNil());
        EXPECT_TRUE(error);
    }
    auto plist = NSPropertyListSerialization::dataWithPropertyList(Dictionary{{"a", 1}},
                                                                   NSPropertyListXMLFormat_v1_0, 0, nullptr);
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveObjectWithData(*plist).isNil());
}

TEST(DamagedArchiveTest, EditedTablesGiveNil) {
    Value root = Dictionary{{"user", sampleUser()}, {"list", Array{1, "x"}}};
    std::vector<std::function<void(Dictionary&)>> edits = {
        [](Dictionary& d) { d.setObject("$version", 99); },
        [](Dictionary& d) { d.setObject("$format", "other"); },
        [](Dictionary& d) { d.removeObjectForKey("$objects"); },
        [](Dictionary& d) { d.setObject("$objects", Array{}); },
        [](Dictionary& d) { d.setObject("$top", "x"); },
        [](Dictionary& d) {
            d.setObject("$top", Dictionary{{"$refs", Dictionary{{"root", 100000}}}});
        },
        [](Dictionary& d) {
            d.setObject("$top", Dictionary{{"$refs", Dictionary{{"root", "1"}}}});
        },
        [](Dictionary& d) {
            d.setObject("$top", Dictionary{{"$refs", Dictionary{{"root", 1.5}}}});
        },
        [](Dictionary& d) {
            Array objects = *d["$objects"].array();
            for (std::size_t i = 1; i < objects.count(); ++i) {
                if (objects[i].isDictionary()) {
                    Dictionary e = objects[i].dictionary()->mutableCopy();
                    e.removeObjectForKey("$class");
                    objects.replaceObjectAtIndex(i, e);
                }
            }
        },
        [](Dictionary& d) { renameClass(d, "ArchUser", "UnknownClass"); },
        [](Dictionary& d) {
            Array objects = *d["$objects"].array();
            for (std::size_t i = 1; i < objects.count(); ++i) {
                if (objects[i]["$class"] == Value("NSArray")) {
                    Dictionary e = objects[i].dictionary()->mutableCopy();
                    e.setObject("$items", "not a list");
                    objects.replaceObjectAtIndex(i, e);
                }
                if (objects[i]["$class"] == Value("NSDictionary")) {
                    Dictionary e = objects[i].dictionary()->mutableCopy();
                    e.setObject("$keys", Array{1, 2});
                    objects.replaceObjectAtIndex(i, e);
                }
            }
        },
        [](Dictionary& d) {
            Array objects = *d["$objects"].array();
            objects.replaceObjectAtIndex(objects.count() - 1, Array{"an array is no entry"});
        },
    };
    for (std::size_t i = 0; i < edits.size(); ++i) {
        NSData data = editArchive(root, edits[i]);
        Ref<NSError> error;
        EXPECT_TRUE(NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(data, &error).isNil()) << i;
        EXPECT_TRUE(error) << i;
    }
}

// An object whose class name was emptied: refused by name, whatever classes the caller allows.
TEST(DamagedArchiveTest, AnObjectWithAnEmptyClassNameIsRefused) {
    NSData data = editArchive(sampleUser(), [](Dictionary& d) { renameClass(d, "ArchUser", ""); });
    for (const char* allowed : {"ArchUser", "NSString", "NSArray"}) {
        SCOPED_TRACE(allowed);
        Ref<NSError> error;
        EXPECT_TRUE(NSKeyedUnarchiver::unarchivedObjectOfClass(allowed, data, &error).isNil());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), NSCoderReadCorruptError);
    }
}

TEST(DamagedArchiveTest, DeepChainFailsCleanly) {
    // A flat table whose entries nest 5000 deep by reference.
    Array objects = Array::mutableArray();
    objects.addObject("$null");
    for (int i = 1; i <= 5000; ++i) {
        objects.addObject(Dictionary{{"$class", "NSArray"}, {"$items", Array{i + 1}}});
    }
    objects.addObject("leaf");
    Dictionary plist{{"$format", "keyed-archive"},
                     {"$version", 1},
                     {"$top", Dictionary{{"$refs", Dictionary{{"root", 1}}}}},
                     {"$objects", objects}};
    auto data =
        NSPropertyListSerialization::dataWithPropertyList(plist, NSPropertyListBinaryFormat_v1_0, 0, nullptr);
    ASSERT_TRUE(data);
    Ref<NSError> error;
    EXPECT_TRUE(NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(*data, &error).isNil());
    EXPECT_TRUE(error);
}

TEST(DamagedArchiveTest, MutatedArchivesNeverCrash) {
    auto user = sampleUser();
    user->buddy = make<ArchUser>();
    const NSData seeds[] = {archive(user), archive(Dictionary{{"a", Array{1, 2.5, "x", Value::null()}}}),
                            archive(NSError::errorWithDomain("d", 1, Dictionary{{"k", "v"}}))};
    int failed = 0;
    for (const NSData& seed : seeds) {
        for (unsigned i = 0; i < 1500; ++i) {
            NSData bytes = NSData::fromString(testsupport::mutate(seed.toString(), i));
            Ref<NSError> error;
            Value v = i % 2 ? NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(bytes, &error)
                            : NSKeyedUnarchiver::unarchivedObjectOfClasses(
                                  {"ArchUser", "NSDictionary", "NSError"}, bytes, &error);
            if (error) {
                EXPECT_TRUE(v.isNil());
                ++failed;
            }
        }
    }
    EXPECT_GT(failed, 0);
}

}  // namespace
