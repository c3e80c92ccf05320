#include "foundation/NSXMLParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

// Writes every event as a line, text pieces joined.
class Recorder : public NSObject, public NSXMLParserDelegate {
  public:
    void parserDidStartDocument(NSXMLParser&) override { add("start-doc"); }
    void parserDidEndDocument(NSXMLParser&) override { add("end-doc"); }
    void parserDidStartElement(NSXMLParser& parser, const std::string& name,
                               const std::optional<std::string>& uri, const std::optional<std::string>& qname,
                               const Dictionary& attributes) override {
        std::string line = "<" + name;
        if (uri) line += " uri=" + *uri;
        if (qname) line += " q=" + *qname;
        for (auto& [k, v] : attributes) line += " " + k + "=" + v.stringValue();
        add(line);
        lines.push_back(parser.lineNumber());
        if (abortAt == name) parser.abortParsing();
        if (throwAt == name) throw std::runtime_error("delegate failure");
    }
    void parserDidEndElement(NSXMLParser&, const std::string& name, const std::optional<std::string>&,
                             const std::optional<std::string>&) override {
        add("</" + name);
    }
    void parserDidStartMappingPrefix(NSXMLParser&, const std::string& prefix,
                                     const std::string& uri) override {
        add("map " + prefix + "=" + uri);
    }
    void parserDidEndMappingPrefix(NSXMLParser&, const std::string& prefix) override {
        add("unmap " + prefix);
    }
    void parserFoundCharacters(NSXMLParser&, const std::string& text) override {
        if (!events.empty() && events.back().rfind("text:", 0) == 0) {
            events.back() += text;
        } else {
            add("text:" + text);
        }
    }
    void parserFoundCDATA(NSXMLParser&, const NSData& block) override { add("cdata:" + block.toString()); }
    void parserFoundComment(NSXMLParser&, const std::string& comment) override { add("comment:" + comment); }
    void parserFoundProcessingInstruction(NSXMLParser&, const std::string& target,
                                          const std::string& data) override {
        add("pi:" + target + ":" + data);
    }
    void parserParseErrorOccurred(NSXMLParser&, const Ref<NSError>& error) override {
        add("error");
        reported = error;
    }

    void add(std::string e) { events.push_back(std::move(e)); }
    std::vector<std::string> events;
    std::vector<long> lines;
    Ref<NSError> reported;
    std::string abortAt;
    std::string throwAt;
};

struct Parsed {
    bool ok;
    Ref<NSXMLParser> parser;
    Ref<Recorder> recorder;
};

Parsed parse(const std::string& text, bool namespaces = false, bool prefixes = false) {
    auto parser = make<NSXMLParser>(NSData::fromString(text));
    auto recorder = make<Recorder>();
    parser->setDelegate(recorder);
    parser->setShouldProcessNamespaces(namespaces);
    parser->setShouldReportNamespacePrefixes(prefixes);
    bool ok = parser->parse();
    return {ok, parser, recorder};
}

TEST(NSXMLParserTest, ReportsEventsInOrder) {
    auto r =
        parse("<?xml version=\"1.0\"?>\n<root a=\"1\" b='x &amp; y'><!--note--><item>one &lt;two&gt;</item>"
              "<?app do it?><empty/><![CDATA[<raw>]]></root>");
    ASSERT_TRUE(r.ok) << (r.parser->parserError() ? r.parser->parserError()->description() : "");
    EXPECT_FALSE(r.parser->parserError());
    std::vector<std::string> expected = {"start-doc",      "<root a=1 b=x & y",
                                         "comment:note",   "<item",
                                         "text:one <two>", "</item",
                                         "pi:app:do it",   "<empty",
                                         "</empty",        "cdata:<raw>",
                                         "</root",         "end-doc"};
    EXPECT_EQ(r.recorder->events, expected);
}

TEST(NSXMLParserTest, NotStartedUntilParseIsCalled) {
    auto parser = make<NSXMLParser>(NSData::fromString("<a/>"));
    auto recorder = make<Recorder>();
    parser->setDelegate(recorder);
    EXPECT_TRUE(recorder->events.empty());
    EXPECT_FALSE(parser->parserError());
    EXPECT_EQ(parser->data().toString(), "<a/>");
    EXPECT_TRUE(parser->parse());
    // A second parse reads the document again.
    EXPECT_TRUE(parser->parse());
    EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "<a"), 2);
}

TEST(NSXMLParserTest, WorksWithoutADelegate) {
    auto parser = make<NSXMLParser>(NSData::fromString("<a><b/></a>"));
    EXPECT_TRUE(parser->parse());
    auto bad = make<NSXMLParser>(NSData::fromString("<a><b></a>"));
    EXPECT_FALSE(bad->parse());
    EXPECT_TRUE(bad->parserError());
}

TEST(NSXMLParserTest, DelegateIsHeldWeakly) {
    auto parser = make<NSXMLParser>(NSData::fromString("<a/>"));
    {
        auto recorder = make<Recorder>();
        parser->setDelegate(recorder);
        EXPECT_TRUE(parser->delegate());
    }
    EXPECT_FALSE(parser->delegate());
    EXPECT_TRUE(parser->parse());
}

TEST(NSXMLParserTest, Namespaces) {
    const std::string doc = "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\"><p:e p:at=\"v\"/></r>";
    auto plain = parse(doc);
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.recorder->events[1], "<r xmlns=urn:d xmlns:p=urn:p");
    EXPECT_EQ(plain.recorder->events[2], "<p:e p:at=v");

    auto processed = parse(doc, true);
    ASSERT_TRUE(processed.ok);
    EXPECT_EQ(processed.recorder->events[1], "<r uri=urn:d q=r");
    EXPECT_EQ(processed.recorder->events[2], "<e uri=urn:p q=p:e p:at=v");

    auto mapped = parse(doc, true, true);
    ASSERT_TRUE(mapped.ok);
    std::vector<std::string> expected = {
        "start-doc", "map =urn:d", "map p=urn:p", "<r uri=urn:d q=r", "<e uri=urn:p q=p:e p:at=v",
        "</e",       "</r",        "unmap ",      "unmap p",          "end-doc"};
    EXPECT_EQ(mapped.recorder->events, expected);
}

TEST(NSXMLParserTest, ErrorsStopTheParse) {
    auto r = parse("<root>\n<a>\n</b></root>");
    EXPECT_FALSE(r.ok);
    auto error = r.parser->parserError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSXMLParserErrorDomain);
    EXPECT_GT(error->code(), 0);
    EXPECT_EQ(error->userInfo()[NSXMLParserErrorLineNumberKey].intValue(), 3);
    EXPECT_EQ(r.recorder->reported, error);
    EXPECT_EQ(std::count(r.recorder->events.begin(), r.recorder->events.end(), "error"), 1);
    EXPECT_EQ(std::count(r.recorder->events.begin(), r.recorder->events.end(), "end-doc"), 0);
}

TEST(NSXMLParserTest, EmptyAndBrokenDocuments) {
    auto empty = parse("");
    EXPECT_FALSE(empty.ok);
    ASSERT_TRUE(empty.parser->parserError());
    EXPECT_EQ(empty.parser->parserError()->code(), NSXMLParserEmptyDocumentError);
    EXPECT_TRUE(empty.recorder->reported);
    for (const char* text :
         {" ", "text only", "<a>", "<a></b>", "<a x=1/>", "<a><a>", "<a/><b/>", "<a>&undefined;</a>",
          "<a>\x01</a>", "<a \xFF=\"1\"/>", "<?xml version=\"1.0\" encoding=\"nonsense\"?><a/>"}) {
        auto r = parse(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_TRUE(r.parser->parserError()) << text;
    }
}

TEST(NSXMLParserTest, AbortStopsWithItsOwnCode) {
    auto parser = make<NSXMLParser>(NSData::fromString("<a><b/><c/><d/></a>"));
    auto recorder = make<Recorder>();
    recorder->abortAt = "b";
    parser->setDelegate(recorder);
    EXPECT_FALSE(parser->parse());
    ASSERT_TRUE(parser->parserError());
    EXPECT_EQ(parser->parserError()->code(), NSXMLParserDelegateAbortedParseError);
    EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "<c"), 0);
    // Abort outside a parse does nothing.
    parser->abortParsing();
    recorder->abortAt.clear();
    EXPECT_TRUE(parser->parse());
}

TEST(NSXMLParserTest, DelegateExceptionIsRethrownAfterCleanUp) {
    auto parser = make<NSXMLParser>(NSData::fromString("<a><b/><c/></a>"));
    auto recorder = make<Recorder>();
    recorder->throwAt = "b";
    parser->setDelegate(recorder);
    EXPECT_THROW(parser->parse(), std::runtime_error);
    EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "<c"), 0);
    recorder->throwAt.clear();
    EXPECT_TRUE(parser->parse());
}

TEST(NSXMLParserTest, LineNumbersDuringTheParse) {
    auto r = parse("<a>\n<b/>\n\n<c/></a>");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.recorder->lines, (std::vector<long>{1, 2, 4}));
}

TEST(NSXMLParserTest, InternalEntitiesExpandExternalOnesNeverLoad) {
    auto internal = parse("<!DOCTYPE a [<!ENTITY who \"world\">]><a t=\"&who;\">hello &who;</a>");
    ASSERT_TRUE(internal.ok);
    EXPECT_EQ(internal.recorder->events[1], "<a t=world");
    EXPECT_EQ(internal.recorder->events[2], "text:hello world");

    testsupport::TemporaryDirectory dir;
    std::string secret = dir.file("secret.txt");
    ASSERT_TRUE(NSData::fromString("SECRET").writeToFile(secret));
    for (bool resolve : {false, true}) {
        auto parser = make<NSXMLParser>(
            NSData::fromString("<!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + secret + "\">]><a>&x;</a>"));
        auto recorder = make<Recorder>();
        parser->setDelegate(recorder);
        parser->setShouldResolveExternalEntities(resolve);
        parser->parse();
        for (auto& e : recorder->events) EXPECT_EQ(e.find("SECRET"), std::string::npos);
    }
    auto dtd = parse("<!DOCTYPE a SYSTEM \"file://" + secret + "\"><a/>");
    for (auto& e : dtd.recorder->events) EXPECT_EQ(e.find("SECRET"), std::string::npos);
}

TEST(NSXMLParserTest, HostileDocumentsFailCleanly) {
    std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lollollollollollollollollollol\">";
    for (int i = 1; i <= 12; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><a>&l12;</a>";
    auto bomb = parse(laughs);
    EXPECT_FALSE(bomb.ok);

    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<d>";
    auto r = parse(deep);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.parser->parserError());
}

TEST(NSXMLParserTest, MutatedDocumentsNeverCrash) {
    const std::string seed =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE r [<!ENTITY e \"v\">]>\n"
        "<r xmlns:p=\"urn:p\" a=\"1\"><p:x>t &e; &amp; 中文</p:x><!-- c --><![CDATA[raw]]><?pi d?><y "
        "b='2'/></r>";
    int failed = 0;
    for (unsigned i = 0; i < 2000; ++i) {
        auto r = parse(testsupport::mutate(seed, i), i % 2 == 0, i % 4 == 0);
        if (!r.ok) {
            EXPECT_TRUE(r.parser->parserError());
            ++failed;
        }
    }
    EXPECT_GT(failed, 0);
}

}  // namespace
