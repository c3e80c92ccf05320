#include "uikit/VisualFormatParser.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using detail::parseVisualFormat;
using detail::VisualFormat;
using detail::VisualFormatConnection;
using detail::VisualFormatError;
using Kind = VisualFormatConnection::Kind;

namespace {

VisualFormat parsed(const std::string& text) {
    VisualFormatError error;
    auto result = parseVisualFormat(text, &error);
    EXPECT_TRUE(result.has_value()) << text << ": " << error.message << " at " << error.position;
    return result.value_or(VisualFormat{});
}

std::string errorOf(const std::string& text, std::size_t* position = nullptr) {
    VisualFormatError error;
    auto result = parseVisualFormat(text, &error);
    EXPECT_FALSE(result.has_value()) << text;
    if (position) *position = error.position;
    return error.message;
}

TEST(VisualFormatParser, VerticalChainFlushToSuperview) {
    auto f = parsed("V:|[padlock]-[title]-[message]|");
    EXPECT_TRUE(f.vertical);
    EXPECT_TRUE(f.leadingSuperview);
    EXPECT_TRUE(f.trailingSuperview);
    ASSERT_EQ(f.views.size(), 3u);
    EXPECT_EQ(f.views[0].name, "padlock");
    EXPECT_EQ(f.views[2].name, "message");
    ASSERT_EQ(f.connections.size(), 4u);
    EXPECT_EQ(f.connections[0].kind, Kind::Flush);
    EXPECT_EQ(f.connections[1].kind, Kind::Standard);
    EXPECT_EQ(f.connections[2].kind, Kind::Standard);
    EXPECT_EQ(f.connections[3].kind, Kind::Flush);
}

TEST(VisualFormatParser, ExplicitZeroSpacing) {
    auto f = parsed("V:|-0-[entrance]-0-|");
    ASSERT_EQ(f.views.size(), 1u);
    ASSERT_EQ(f.connections[0].kind, Kind::Predicates);
    ASSERT_EQ(f.connections[0].predicates.size(), 1u);
    EXPECT_EQ(f.connections[0].predicates[0].object.number, 0.0);
    EXPECT_EQ(f.connections[1].predicates[0].object.number, 0.0);
}

TEST(VisualFormatParser, HorizontalIsTheDefaultAndBarsAreOptional) {
    auto f = parsed("[a][b]");
    EXPECT_FALSE(f.vertical);
    EXPECT_FALSE(f.leadingSuperview);
    EXPECT_FALSE(f.trailingSuperview);
    ASSERT_EQ(f.views.size(), 2u);
    EXPECT_EQ(f.connections[1].kind, Kind::Flush);
    EXPECT_FALSE(parsed("H:[a]").vertical);
}

TEST(VisualFormatParser, MetricsNumbersAndPredicateLists) {
    auto f = parsed("|-margin-[a(>=50,<=width@750)]-(>=8@priority,<=-2.5)-[b(==a)]-20.5-|");
    EXPECT_EQ(f.connections[0].predicates[0].object.name, "margin");
    const auto& a = f.views[0].sizePredicates;
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].relation, 1);
    EXPECT_EQ(a[0].object.number, 50.0);
    EXPECT_FALSE(a[0].priority.has_value());
    EXPECT_EQ(a[1].relation, -1);
    EXPECT_EQ(a[1].object.name, "width");
    EXPECT_EQ(a[1].priority->number, 750.0);
    const auto& gap = f.connections[1].predicates;
    ASSERT_EQ(gap.size(), 2u);
    EXPECT_EQ(gap[0].priority->name, "priority");
    EXPECT_EQ(gap[1].object.number, -2.5);
    EXPECT_EQ(f.views[1].sizePredicates[0].object.name, "a");
    EXPECT_EQ(f.connections[2].predicates[0].object.number, 20.5);
}

TEST(VisualFormatParser, SpacesBetweenTokensAreAllowed) {
    auto f = parsed(" V : | - 10 - [ a ( == 20 @ 500 ) ] - | ");
    EXPECT_TRUE(f.vertical);
    EXPECT_EQ(f.views[0].name, "a");
    EXPECT_EQ(f.views[0].sizePredicates[0].priority->number, 500.0);
    EXPECT_EQ(f.connections[1].kind, Kind::Standard);
}

TEST(VisualFormatParser, ViewNamesThatLookLikeOrientations) {
    auto f = parsed("[H][V_1]");
    EXPECT_EQ(f.views[0].name, "H");
    EXPECT_EQ(f.views[1].name, "V_1");
}

TEST(VisualFormatParser, MalformedFormatsReportWhereTheyFail) {
    std::size_t position = 0;
    EXPECT_FALSE(errorOf("", &position).empty());
    EXPECT_EQ(position, 0u);
    errorOf("|");
    errorOf("|-|");
    errorOf("[a]-", &position);
    EXPECT_EQ(position, 4u);
    errorOf("[a", &position);
    EXPECT_EQ(position, 2u);
    errorOf("[]");
    errorOf("[1a]");
    errorOf("[a](==5)");
    errorOf("[a(=5)]");
    errorOf("[a(==)]");
    errorOf("[a(==5,)]");
    errorOf("[a(==5@)]");
    errorOf("[a]-(8-[b]");
    errorOf("[a]-8[b]");
    errorOf("[a]--[b]");
    errorOf("[a]|[b]");
    errorOf("[a]-|-");
    errorOf("X:[a]");
    errorOf("V:");
    errorOf("[a]-.-[b]");
    errorOf("[a]-(1e999)-[b]");
    errorOf("[a]-+5-[b]");  // signs only inside parentheses
    errorOf(std::string("[a]\0[b]", 7));
}

TEST(VisualFormatParser, MutatedFormatsNeverCrash) {
    const std::string seeds[] = {
        "V:|[padlock]-[title]-[message]|",
        "H:|-(>=20@750)-[a(==b,<=300)]-8-[b(>=44@250)]-margin-|",
        "V:|-0-[entrance]-0-|",
        "[a]-(-5,>=spacing@priority)-[b]",
    };
    int accepted = 0;
    for (unsigned seed = 0; seed < 4000; ++seed) {
        std::string text = testsupport::mutate(seeds[seed % 4], seed);
        VisualFormatError error;
        auto result = parseVisualFormat(text, &error);
        if (result) {
            ++accepted;
            EXPECT_FALSE(result->views.empty());
            EXPECT_EQ(result->connections.size(), result->views.size() + 1);
        } else {
            EXPECT_FALSE(error.message.empty());
            EXPECT_LE(error.position, text.size());
        }
    }
    EXPECT_GT(accepted, 0);
}

}  // namespace
