// The decoder's own array and dictionary: made only by the decoder, immutable or mutable as the
// parse asked, the capacity table, lookups across probe clusters, removal re-seating, growth,
// the mutation counter, copies and the misuse exceptions.

#include <gtest/gtest.h>

#include "foundation/NSException.h"
#include "sdk/weibo/util/WBSDKJCCollections.h"
#include "sdk/weibo/util/WBSDKJSONDecoder.h"

namespace {

Value decode(const std::string& text, bool mutableCollections) {
    Ref<NSError> error;
    Value v = WBSDKJSONDecoder::decoder()->collectionWithUTF8String(text.data(), text.size(),
                                                                    mutableCollections, &error);
    EXPECT_FALSE(error) << (error ? error->localizedDescription() : "");
    return v;
}

std::string reasonOf(const std::function<void()>& f, std::string* name = nullptr) {
    try {
        f();
    } catch (const NSException& e) {
        if (name) *name = e.name();
        return e.reason();
    }
    return "<no exception>";
}

TEST(WBSDKJCCollectionsTest, TheDecoderMakesThemAndNobodyElse) {
    auto array = decode("[1,{\"a\":[true]},\"x\"]", false).objectAs<WBSDKJCArray>();
    ASSERT_TRUE(array);
    EXPECT_EQ(array->count(), 3u);
    auto inner = array->objectAtIndex(1).objectAs<WBSDKJCDictionary>();
    ASSERT_TRUE(inner);
    EXPECT_TRUE(inner->objectForKey(std::string("a")).objectAs<WBSDKJCArray>());
    std::string name;
    EXPECT_EQ(
        reasonOf([] { WBSDKJCArray::allocWithZone(); }, &name),
        "*** - [WBSDKJCArray allocWithZone:]: The WBSDKJCArray class is private to WBSDKJSONCodec and should "
        "not be used in this fashion.");
    EXPECT_EQ(name, NSInvalidArgumentException);
    EXPECT_NE(reasonOf([] { WBSDKJCDictionary::allocWithZone(); }), "<no exception>");
}

TEST(WBSDKJCCollectionsTest, TheCapacityTable) {
    EXPECT_EQ(WBSDKJCDictionary::capacityForCount(0), 0u);
    for (std::size_t n : {1u, 2u, 3u}) EXPECT_EQ(WBSDKJCDictionary::capacityForCount(n), 3u) << n;
    for (std::size_t n : {4u, 5u, 6u}) EXPECT_EQ(WBSDKJCDictionary::capacityForCount(n), 7u) << n;
    for (std::size_t n : {7u, 8u, 9u, 10u}) EXPECT_EQ(WBSDKJCDictionary::capacityForCount(n), 13u) << n;
    EXPECT_EQ(WBSDKJCDictionary::capacityForCount(100), 191u);
    EXPECT_THROW(WBSDKJCDictionary::capacityForCount(400000000), NSException);
}

TEST(WBSDKJCCollectionsTest, ImmutableOnesRefuseChangesBeforeLookingAtTheArguments) {
    auto array = decode("[1,2]", false).objectAs<WBSDKJCArray>();
    EXPECT_FALSE(array->isMutable());
    EXPECT_EQ(reasonOf([&] { array->insertObject(Value(), 0); }),
              "*** -[WBSDKJCArray insertObject:atIndex:]: mutating method sent to immutable object");
    auto dict = decode("{\"a\":1}", false).objectAs<WBSDKJCDictionary>();
    std::string name;
    EXPECT_EQ(reasonOf([&] { dict->setObject(Value(1), std::nullopt); }, &name),
              "*** -[WBSDKJCDictionary setObject:forKey:]: mutating method sent to immutable object");
    EXPECT_EQ(name, NSInternalInconsistencyException);
    // Copies: the same object when immutable, a new platform container when mutable.
    EXPECT_EQ(array->copy().object(), array);
    EXPECT_TRUE(array->mutableCopy().isMutable());
    auto mutableArray = decode("[1,2]", true).objectAs<WBSDKJCArray>();
    EXPECT_TRUE(mutableArray->copy().isArray());
    EXPECT_FALSE(mutableArray->copy().array()->isMutable());
}

TEST(WBSDKJCCollectionsTest, MutableArraysCheckTheirArguments) {
    auto array = decode("[1,2,3]", true).objectAs<WBSDKJCArray>();
    EXPECT_EQ(array->mutations(), 1u);
    EXPECT_EQ(reasonOf([&] { array->insertObject(Value(), 0); }),
              "*** -[WBSDKJCArray insertObject:atIndex:]: attempt to insert nil");
    EXPECT_EQ(reasonOf([&] { array->insertObject(Value(9), 5); }),
              "*** -[WBSDKJCArray insertObject:atIndex:]: index (5) beyond bounds (4)");
    EXPECT_EQ(reasonOf([&] { array->objectAtIndex(3); }),
              "*** -[WBSDKJCArray objectAtIndex:]: index (3) beyond bounds (3)");
    EXPECT_EQ(
        reasonOf([&] { array->getObjects(nullptr, 0, 2); }),
        "*** -[WBSDKJCArray getObjects:range:]: pointer to objects array is NULL but range length is 2");
    array->insertObject(Value(0), 0);
    array->removeObjectAtIndex(3);
    array->replaceObjectAtIndex(1, Value("one"));
    EXPECT_EQ(array->count(), 3u);
    EXPECT_EQ(array->objectAtIndex(1), Value("one"));
    EXPECT_EQ(array->mutations(), 4u);
    const Value* buffer[2];
    array->getObjects(buffer, 1, 2);
    EXPECT_EQ(*buffer[1], Value(2));
}

TEST(WBSDKJCCollectionsTest, DictionariesGrowRemoveAndKeepEveryKeyFindable) {
    auto dict = decode("{}", true).objectAs<WBSDKJCDictionary>();
    EXPECT_EQ(dict->capacity(), 0u);
    EXPECT_TRUE(dict->objectForKey(std::string("x")).isNil());
    dict->setObject(Value(1), std::string("k0"));
    EXPECT_EQ(dict->capacity(), 3u);
    for (int i = 1; i < 200; ++i) dict->setObject(Value(i), "k" + std::to_string(i));
    EXPECT_EQ(dict->count(), 200u);
    // Remove every third key, from the middle of whatever clusters they sit in.
    for (int i = 0; i < 200; i += 3) dict->removeObjectForKey("k" + std::to_string(i));
    for (int i = 0; i < 200; ++i) {
        Value v = dict->objectForKey("k" + std::to_string(i));
        if (i % 3 == 0) {
            EXPECT_TRUE(v.isNil()) << i;
        } else {
            EXPECT_EQ(v, Value(i)) << i;
        }
    }
    auto before = dict->mutations();
    dict->removeObjectForKey(std::string("absent"));
    EXPECT_EQ(dict->mutations(), before);  // nothing changed
    dict->setObject(Value("again"), std::string("k1"));
    EXPECT_EQ(dict->objectForKey(std::string("k1")), Value("again"));
    EXPECT_EQ(reasonOf([&] { dict->setObject(Value(), std::string("z")); }),
              "*** -[WBSDKJCDictionary setObject:forKey:]: attempt to insert nil value (key: z)");
    EXPECT_EQ(reasonOf([&] { dict->removeObjectForKey(std::nullopt); }),
              "*** -[WBSDKJCDictionary removeObjectForKey:]: attempt to remove nil key");
    auto keys = dict->keyEnumerator().allObjects();
    EXPECT_EQ(keys.size(), dict->count());
    EXPECT_EQ(dict->allKeys(), keys);
    EXPECT_EQ(dict->mutableCopy().count(), dict->count());
}

TEST(WBSDKJCCollectionsTest, ADuplicateKeyKeepsTheLastValue) {
    auto dict = decode("{\"a\":1,\"b\":2,\"a\":3}", false).objectAs<WBSDKJCDictionary>();
    EXPECT_EQ(dict->count(), 2u);
    EXPECT_EQ(dict->objectForKey(std::string("a")), Value(3));
    EXPECT_EQ(dict->capacity(), 3u);  // sized for the three pairs parsed
}

}  // namespace
