// Selector matching of the page renderer's elements: each case is styled twice, once by the
// layout engine's own elements and once by ours, and every element must end with the same
// styles and generated content; the hostile pages the engine cannot finish are styled right
// where their rules match, and the budget drops rules without breaking the page.

#include <gtest/gtest.h>

#include <litehtml/litehtml.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

#include <cxxabi.h>

#include "bench/support/WebStyledPages.h"
#include "web/WebDefaultStyleSheet.h"
#include "web/WebElementMatching.h"

namespace {

// A container that lays text out at 8 px a character and records the list markers it is asked
// to draw; `matched` chooses our elements or the engine's own.
class TestContainer final : public litehtml::document_container {
  public:
    explicit TestContainer(bool matched, std::size_t budget = detail::kDefaultMatchingStepsPerPass,
                           std::size_t properties = detail::kDefaultStoredPropertiesPerPass,
                           std::size_t remembered = detail::kDefaultRememberedPerPass)
        : matching(matched ? detail::makeElementMatching(budget, properties, remembered) : nullptr) {}

    std::shared_ptr<detail::ElementMatching> matching;
    int width = 800;
    std::vector<std::string> markers;  // and text, as drawn

    litehtml::uint_ptr create_font(const litehtml::tchar_t*, int size, int, litehtml::font_style, unsigned,
                                   litehtml::font_metrics* fm) override {
        if (fm) {
            fm->height = size;
            fm->ascent = size;
            fm->descent = 0;
            fm->x_height = size / 2;
            fm->draw_spaces = true;
        }
        return 1;
    }
    void delete_font(litehtml::uint_ptr) override {}
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr) override {
        return int(std::strlen(text)) * 8;
    }
    void draw_text(litehtml::uint_ptr, const litehtml::tchar_t* text, litehtml::uint_ptr, litehtml::web_color,
                   const litehtml::position& pos) override {
        markers.push_back(std::string(text) + "@" + std::to_string(pos.x) + "," + std::to_string(pos.y));
    }
    int pt_to_px(int pt) const override { return pt; }
    int get_default_font_size() const override { return 16; }
    const litehtml::tchar_t* get_default_font_name() const override { return "sans"; }
    void draw_list_marker(litehtml::uint_ptr, const litehtml::list_marker& marker) override {
        markers.push_back(std::to_string(int(marker.marker_type)) + ":" + std::to_string(marker.index) + "@" +
                          std::to_string(marker.pos.y));
    }
    void load_image(const litehtml::tchar_t*, const litehtml::tchar_t*, bool) override {}
    void get_image_size(const litehtml::tchar_t*, const litehtml::tchar_t*, litehtml::size& sz) override {
        sz.width = sz.height = 0;
    }
    void draw_background(litehtml::uint_ptr, const litehtml::background_paint&) override {}
    void draw_borders(litehtml::uint_ptr, const litehtml::borders&, const litehtml::position&,
                      bool) override {}
    void set_caption(const litehtml::tchar_t*) override {}
    void set_base_url(const litehtml::tchar_t*) override {}
    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const litehtml::tchar_t*, const litehtml::element::ptr&) override {}
    void set_cursor(const litehtml::tchar_t*) override {}
    void transform_text(litehtml::tstring&, litehtml::text_transform) override {}
    void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}
    void set_clip(const litehtml::position&, const litehtml::border_radiuses&, bool, bool) override {}
    void del_clip() override {}
    void get_client_rect(litehtml::position& client) const override {
        client = litehtml::position(0, 0, width, 600);
    }
    std::shared_ptr<litehtml::element>
    create_element(const litehtml::tchar_t* tag, const litehtml::string_map&,
                   const std::shared_ptr<litehtml::document>& doc) override {
        return matching ? detail::createMatchedElement(tag, doc, matching) : nullptr;
    }
    void get_media_features(litehtml::media_features& media) const override {
        media.type = litehtml::media_type_screen;
        media.width = media.device_width = width;
        media.height = media.device_height = 600;
        media.color = 8;
        media.color_index = 0;
        media.monochrome = 0;
        media.resolution = 96;
    }
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
        language = "en";
        culture = "";
    }
};

litehtml::context& sharedContext() {
    static litehtml::context* context = [] {
        auto* c = new litehtml::context;
        c->load_master_stylesheet(
            "html{display:block} head,style,script{display:none} body{display:block;margin:8px}"
            "div,p,ul,ol,table{display:block} p{margin:1em 0} li{display:list-item}"
            "ol{list-style-type:decimal} ul{list-style-type:disc} b{font-weight:bold}"
            "a:link{color:blue} table{display:table} tr{display:table-row}"
            "td,th{display:table-cell}");
        return c;
    }();
    return *context;
}

std::string typeName(const litehtml::element& el) {
    int status = 0;
    char* name = abi::__cxa_demangle(typeid(el).name(), nullptr, nullptr, &status);
    std::string result = name ? name : typeid(el).name();
    std::free(name);
    return result;
}

// Each element, depth first: its tag, the properties a rule of the cases sets, and the text of
// generated content.
const char* const kProperties[] = {"color",       "background-color", "width",        "font-weight",
                                   "margin-left", "margin-top",       "padding-left", "text-decoration"};

void describe(const litehtml::element::ptr& el, std::vector<std::string>& out, int depth = 0) {
    std::string line(std::size_t(depth), ' ');
    line += el->get_tagName();
    for (const char* p : kProperties) {
        const char* value = el->get_style_property(p, false, "");
        line += std::string(" ") + p + "=" + (value ? value : "");
    }
    if (el->get_tagName()[0] == ':') {
        litehtml::tstring text;
        el->get_text(text);
        line += " text=" + text;
    }
    out.push_back(line);
    for (std::size_t i = 0; i < el->get_children_count(); ++i) {
        auto child = el->get_child(int(i));
        if (child->get_tagName()[0] != '\0') describe(child, out, depth + 1);
    }
}

struct Styled {
    std::vector<std::string> elements;
    std::vector<std::string> markers;
    detail::ElementMatchingStats stats;
};

// Builds the page (its stylesheet in a <style>), lays it out at 800 px, then, if `then` is given,
// runs it and lays out again.
Styled style(bool matched, const std::string& css, const std::string& body,
             const std::function<void(litehtml::document&, TestContainer&)>& then = nullptr,
             std::size_t remembered = detail::kDefaultRememberedPerPass) {
    TestContainer container(matched, detail::kDefaultMatchingStepsPerPass,
                            detail::kDefaultStoredPropertiesPerPass, remembered);
    std::string html = "<html><head><style>" + css + "</style></head><body>" + body + "</body></html>";
    auto doc = litehtml::document::createFromString(html.c_str(), &container, &sharedContext());
    doc->render(container.width);
    if (then) {
        then(*doc, container);
        doc->render(container.width);
    }
    doc->draw(0, 0, 0, nullptr);
    Styled s;
    describe(doc->root(), s.elements);
    s.markers = container.markers;
    if (container.matching) s.stats = detail::matchingStats(*container.matching);
    return s;
}

// Answers what our matching counted, for cases that check how it got there.
detail::ElementMatchingStats
expectSameAsEngine(const std::string& css, const std::string& body,
                   const std::function<void(litehtml::document&, TestContainer&)>& then = nullptr,
                   std::size_t remembered = detail::kDefaultRememberedPerPass) {
    Styled engine = style(false, css, body, then);
    Styled ours = style(true, css, body, then, remembered);
    EXPECT_EQ(engine.elements.size(), ours.elements.size());
    for (std::size_t i = 0; i < std::min(engine.elements.size(), ours.elements.size()); ++i)
        EXPECT_EQ(engine.elements[i], ours.elements[i]) << i;
    EXPECT_EQ(engine.markers, ours.markers);
    EXPECT_EQ(ours.stats.exhaustedPasses, 0u);
    EXPECT_EQ(ours.stats.propertyDroppedPasses, 0u);
    return ours.stats;
}

struct Case {
    const char* name;
    std::string css;
    std::string body;
};

// Each case styled by ours and by the engine alike; a case without a body of its own styles `body`.
void expectEachSameAsEngine(std::span<const Case> cases, const std::string& body = "") {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectSameAsEngine(c.css, c.body.empty() ? body : c.body);
    }
}

// ---- restyling ----------------------------------------------------------------------------------

using Restyle = std::function<void(litehtml::document&, TestContainer&)>;

struct RestyleStep {
    const char* name;
    Restyle run;
};

// Each step runs on a fresh page, ours and the engine's, which must then agree.
void expectEachRestyleSameAsEngine(const std::string& css, const std::string& body,
                                   std::initializer_list<RestyleStep> steps) {
    for (const RestyleStep& step : steps) {
        SCOPED_TRACE(step.name);
        expectSameAsEngine(css, body, step.run);
    }
}

// The viewport narrows to 400 px, under the pages' max-width queries of 500.
void narrowViewport(litehtml::document& doc, TestContainer& container) {
    container.width = 400;
    doc.media_changed();
}

// What the engine does after an element's pseudo-class changes.
void restyleAll(litehtml::document& doc) {
    doc.root()->refresh_styles();
    doc.root()->parse_styles();
}

litehtml::element::ptr paragraph(litehtml::document& doc, int i) {
    return doc.root()->select_all("p")[std::size_t(i)];
}

const std::string kTree =
    "<div id=top class='a b'>t <p class=x>one <b>bold</b></p> text <p>two</p><span>s</span>"
    "<p class='x y' title=hello lang=en>three</p> <div class=a><p>four <span class=x>in</span></p></div>"
    "<a href='/u'>link</a> <a>no link</a></div><ul><li>a</li><li class=x>b</li> <li>c</li></ul>"
    "<table><tr><td>1</td><td class=x>2</td></tr><tr><td>3</td></tr></table>";

std::vector<std::string> nthPages() {
    std::string items;
    for (int i = 0; i < 12; ++i) items += i % 3 == 0 ? "<span>s</span> " : "<p>p</p> ";
    return {"<div>" + items + "</div>"};
}

TEST(WebElementMatchingTest, SelectorsMatchAsTheEnginesOwnElements) {
    const std::string nth = nthPages()[0];
    const Case cases[] = {
        {"descendant", "div p{color:red} div div p{color:green} .a .x{background-color:blue}", kTree},
        {"child", "div > p{color:red} body > div > p.x{width:10px} ul > li{color:green}", kTree},
        {"adjacent", "p + p{color:red} p + span{color:green} span + p{width:3px} li + li{color:blue}", kTree},
        {"general sibling", "p ~ p{color:red} span ~ p{width:4px} p ~ div p{color:green} li ~ li{color:blue}",
         kTree},
        {"mixed chains",
         "div p ~ span{color:red} .a > p + span ~ p b{color:green} ul li + li ~ li{width:1px}", kTree},
        {"first and last",
         "p:first-child{color:red} p:last-child{color:green} span:only-child{width:9px}"
         "li:first-child{color:blue} li:last-child{width:2px}",
         kTree},
        {"of type", "p:first-of-type{color:red} p:last-of-type{width:5px} span:only-of-type{color:green}",
         kTree},
        {"nth-child",
         "p:nth-child(2n+1){color:red} p:nth-child(even){width:1px} p:nth-child(3){color:green}"
         "span:nth-child(-n+4){background-color:blue} :nth-child(n+9){font-weight:bold}",
         nth},
        {"nth-last and of-type",
         "p:nth-last-child(2n){color:red} p:nth-of-type(odd){width:2px} p:nth-last-of-type(3){color:green}"
         "span:nth-last-child(1){background-color:blue}",
         nth},
        {"attributes",
         "[title]{color:red} [title=hello]{width:7px} [lang|=en]{color:green} "
         "[class~=y]{background-color:blue}"
         "a[href^='/']{font-weight:bold} p[title$=lo]{margin-left:3px} p[title*=ell]{color:#010203}",
         kTree},
        {"pseudo classes",
         "a:link{color:red} a:hover{color:green} p:not(.x){width:8px} div:hover p{color:blue}", kTree},
        {"before and after",
         "p::before{content:'B'} p.x::after{content:'A'} li:first-child::before{content:'F'} .a "
         "p::after{color:red}",
         kTree},
        {"cascade",
         "p{color:red} .x{color:green} #top p{color:blue} p.x.y{color:#111111} div p{color:#222222}"
         "p{width:1px} p{width:2px} .x{font-weight:bold !important} p.x{font-weight:normal}",
         kTree + "<p class=x style='color:#333333'>inline</p>"},
        {"ids and case", "#TOP p{color:red} #top > span{color:green} P{width:1px} .X{color:blue}", kTree},
        {"universal", "* {margin-left:1px} div * p{color:red} * + p{width:3px} body *{font-weight:bold}",
         kTree},
        {"media", "@media (max-width: 500px){p{color:red}} @media (min-width: 500px){p{color:green}}", kTree},
    };
    expectEachSameAsEngine(cases);
}

TEST(WebElementMatchingTest, ListItemsAreNumberedAsTheEnginesOwn) {
    std::string many;
    for (int i = 0; i < 300; ++i) many += "<li>i</li>";
    expectSameAsEngine("",
                       "<ol><li>a</li><li>b</li> text <p>p</p><li>c</li></ol><ul><li>x</li></ul><ol>" + many +
                           "</ol><ol style='list-style-type:lower-roman'><li>r</li><li>s</li></ol>"
                           // Items of other kinds count, unnumbered ones among numbered ones too.
                           "<ol><li style='list-style-type:disc'>d</li><li>e</li><li "
                           "style='list-style-type:upper-alpha'>f</li><li style='list-style-type:none'>g</li>"
                           "<li>h</li></ol><ul><li>y</li><li style='list-style-type:decimal'>z</li></ul>");
}

TEST(WebElementMatchingTest, RestylingFollowsMediaPseudoClassesAndClasses) {
    const std::string css = "@media (max-width: 500px){div p{color:red}} p:hover{color:green} .on "
                            "p{width:5px} p.on + p{color:blue}";
    const std::string body = "<div><p>a</p><p>b</p><p>c</p></div>";
    expectEachRestyleSameAsEngine(css, body,
                                  {
                                      {"media narrows", narrowViewport},
                                      {"hover on and off",
                                       [](litehtml::document& doc, TestContainer&) {
                                           paragraph(doc, 1)->set_pseudo_class("hover", true);
                                           restyleAll(doc);
                                           paragraph(doc, 1)->set_pseudo_class("hover", false);
                                           paragraph(doc, 2)->set_pseudo_class("hover", true);
                                           restyleAll(doc);
                                       }},
                                      {"class added and restyled",
                                       [](litehtml::document& doc, TestContainer& c) {
                                           paragraph(doc, 0)->set_class("on", true);
                                           narrowViewport(doc, c);
                                       }},
                                  });
}

// The element kinds the engine makes per tag are the ones ours extend (style and script keep
// the engine's own; a list item numbers itself as the engine's does).
TEST(WebElementMatchingTest, EachTagGetsTheEnginesKindOfElement) {
    const char* tags[] = {"a",    "abbr",  "b",   "base", "blockquote", "body",  "br",
                          "div",  "font",  "h1",  "hr",   "img",        "input", "li",
                          "link", "p",     "pre", "span", "table",      "td",    "th",
                          "tr",   "title", "ul",  "ol",   "xyz",        "style", "script"};
    std::string body;
    for (const char* t : tags) body += std::string("<") + t + "></" + t + ">";
    body = "<table><tr><th>h</th><td>d</td></tr></table>" + body;
    // The containers outlive their documents, which hand their fonts back on the way out.
    TestContainer engineContainer(false), oursContainer(true);
    auto kinds = [&](TestContainer& container) {
        std::string html = "<html><head><title>t</title><base href='http://h/'><link rel=x></head><body>" +
                           body + "</body></html>";
        auto doc = litehtml::document::createFromString(html.c_str(), &container, &sharedContext());
        std::vector<std::pair<std::string, litehtml::element::ptr>> out;
        std::function<void(const litehtml::element::ptr&)> walk = [&](const litehtml::element::ptr& el) {
            if (el->get_tagName()[0] != '\0') out.emplace_back(el->get_tagName(), el);
            for (std::size_t i = 0; i < el->get_children_count(); ++i) walk(el->get_child(int(i)));
        };
        walk(doc->root());
        return std::make_pair(doc, out);
    };
    auto [engineDoc, engine] = kinds(engineContainer);
    auto [oursDoc, ours] = kinds(oursContainer);
    ASSERT_EQ(engine.size(), ours.size());
    for (std::size_t i = 0; i < engine.size(); ++i) {
        SCOPED_TRACE(engine[i].first);
        ASSERT_EQ(engine[i].first, ours[i].first);
        const litehtml::element& theirs = *engine[i].second;
        const litehtml::element& mine = *ours[i].second;
        const std::string kind = typeName(theirs);
        if (kind == "litehtml::el_li" || kind == "litehtml::html_tag") {
            EXPECT_NE(dynamic_cast<const litehtml::html_tag*>(&mine), nullptr);
            EXPECT_NE(typeName(mine).find("Matched"), std::string::npos) << typeName(mine);
            EXPECT_EQ(typeName(mine).find("el_"), std::string::npos) << typeName(mine);
        } else if (kind == "litehtml::el_style" || kind == "litehtml::el_script") {
            EXPECT_EQ(typeName(mine), kind);
        } else {
            // Ours is the engine's kind wrapped: its name carries the engine's.
            EXPECT_NE(typeName(mine), kind);
            EXPECT_NE(typeName(mine).find("<" + kind + ">"), std::string::npos) << typeName(mine);
        }
        // The engine gives ours their tag and attributes.
        EXPECT_STREQ(mine.get_tagName(), theirs.get_tagName());
    }
}

// ---- pages the engine's own matching never finishes ---------------------------------------------

std::size_t countWith(const Styled& s, const std::string& tag, const std::string& needle) {
    std::size_t n = 0;
    for (const auto& line : s.elements) {
        std::size_t start = line.find_first_not_of(' ');
        if (line.compare(start, tag.size() + 1, tag + " ") == 0 && line.find(needle) != std::string::npos)
            ++n;
    }
    return n;
}

TEST(WebElementMatchingTest, DeepDescendantChainsMatchWhereTheyShould) {
    // 190 nested divs, a span around the last 100: the rule matches a div with six divs and
    // then the span above it, so the deepest 94 only.
    std::string body;
    for (int i = 0; i < 90; ++i) body += "<div>";
    body += "<span>";
    for (int i = 0; i < 100; ++i) body += "<div>";
    body += "x" + std::string(100 * 6, ' ');
    std::string closing;
    for (int i = 0; i < 100; ++i) closing += "</div>";
    closing += "</span>";
    for (int i = 0; i < 90; ++i) closing += "</div>";
    Styled s =
        style(true, "span div div div div div div div{color:red} em div div div div div div div{width:1px}",
              body + closing);
    EXPECT_EQ(countWith(s, "div", "color=red"), 94u);
    EXPECT_EQ(countWith(s, "div", "width=1px"), 0u);
    EXPECT_EQ(s.stats.exhaustedPasses, 0u);
}

TEST(WebElementMatchingTest, LongGeneralSiblingRunsMatchWhereTheyShould) {
    std::string body = "<div>";
    for (int i = 0; i < 10000; ++i) body += "<p></p>";
    body += "<span></span>";
    for (int i = 0; i < 10000; ++i) body += "<p></p>";
    body += "</div>";
    Styled s = style(true, "span ~ p ~ p ~ p{color:red} em ~ p ~ p ~ p{width:1px}", body);
    // The first two paragraphs after the span lack two earlier ones after it.
    EXPECT_EQ(countWith(s, "p", "color=red"), 9998u);
    EXPECT_EQ(countWith(s, "p", "width=1px"), 0u);
    EXPECT_EQ(s.stats.exhaustedPasses, 0u);
}

TEST(WebElementMatchingTest, ThousandsOfClassRulesMeetOnlyTheirElements) {
    std::string css;
    for (int n = 0; n < 20000; ++n) css += ".c" + std::to_string(n) + " p{width:" + std::to_string(n) + "px}";
    std::string body;
    for (int w : {0, 7, 19999}) {
        body += "<div class='c" + std::to_string(w) + " other'>";
        for (int i = 0; i < 9000; ++i) body += "<p></p>";
        body += "</div>";
    }
    body += "<div>";
    for (int i = 0; i < 2000; ++i) body += "<p></p>";
    body += "</div>";
    Styled s = style(true, css, body);
    EXPECT_EQ(countWith(s, "p", "width=0px"), 9000u);
    EXPECT_EQ(countWith(s, "p", "width=7px"), 9000u);
    EXPECT_EQ(countWith(s, "p", "width=19999px"), 9000u);
    EXPECT_EQ(countWith(s, "p", "width= "), 2000u);
    EXPECT_EQ(s.stats.exhaustedPasses, 0u);
}

// Past its budget a pass drops further rules: the page is still built and laid out, the rules
// met before the budget ran out still apply, and the next pass starts afresh.
TEST(WebElementMatchingTest, BudgetDropsFurtherRulesAndThePageStillShows) {
    std::string body;
    for (int i = 0; i < 200; ++i) body += "<p>x</p>";
    TestContainer container(true, 300);
    std::string html =
        "<html><head><style>p{color:red} p ~ p{width:1px}</style></head><body>" + body + "</body></html>";
    auto doc = litehtml::document::createFromString(html.c_str(), &container, &sharedContext());
    ASSERT_TRUE(doc);
    doc->render(800);
    EXPECT_GT(doc->height(), 0);
    auto stats = detail::matchingStats(*container.matching);
    EXPECT_GE(stats.exhaustedPasses, 1u);
    auto ps = doc->root()->select_all("p");
    ASSERT_EQ(ps.size(), 200u);
    EXPECT_STREQ(ps.front()->get_style_property("color", false, ""), "red");
    EXPECT_STREQ(ps.back()->get_style_property("color", false, ""), "");
    const auto passes = stats.passes;
    container.width = 400;
    doc->media_changed();
    EXPECT_GT(detail::matchingStats(*container.matching).passes, passes);
}

// A rule costs its pass by the length of its declarations too (the engine parses and copies them
// into every element the rule meets): under one budget, a rule of many declarations reaches fewer
// elements than a short one, and a rule of thousands reaches only a few.
TEST(WebElementMatchingTest, ARuleCostsByTheLengthOfItsDeclarations) {
    std::string body;
    for (int i = 0; i < 400; ++i) body += "<p>x</p>";
    auto reached = [&](int declarations) {
        std::string rule = "p{color:red";
        for (int i = 0; i < declarations; ++i) rule += ";x" + std::to_string(i) + ":1";
        TestContainer container(true, 20000);
        const std::string html =
            "<html><head><style>" + rule + "}</style></head><body>" + body + "</body></html>";
        auto doc = litehtml::document::createFromString(html.c_str(), &container, &sharedContext());
        EXPECT_TRUE(doc);
        if (!doc) return std::size_t(0);
        doc->render(800);
        EXPECT_GT(doc->height(), 0);
        std::size_t red = 0;
        for (const auto& p : doc->root()->select_all("p"))
            red += std::strcmp(p->get_style_property("color", false, ""), "red") == 0;
        return red;
    };
    const std::size_t thin = reached(0), fat = reached(40), huge = reached(2000);
    EXPECT_EQ(thin, 400u);
    EXPECT_LT(fat, thin / 2);
    EXPECT_GT(fat, 0u);
    EXPECT_LT(huge, 10u);
}

// The app's pages (a question or article: paragraphs, pictures, links, under the default sheet
// and the app's own) spend a sliver of the budget, so none of their rules is ever dropped.
TEST(WebElementMatchingTest, TheAppsPagesStayFarBelowTheBudget) {
    static litehtml::context* context = [] {
        auto* c = new litehtml::context;
        c->load_master_stylesheet(detail::webDefaultStyleSheet());
        return c;
    }();
    const std::string sheet =
        "body{margin:0;padding:0 10px;font-size:15px;color:#333333;line-height:1.6;word-wrap:break-word}"
        "p{margin:0 0 8px 0} img{display:block;margin:6px 0;border-radius:4px} a{color:#2a7ae2;"
        "text-decoration:none} img{max-width:355px} .comment .author{font-weight:bold} ul li + "
        "li{margin:2px}";
    std::string body;
    for (int i = 0; i < 200; ++i)
        body += "<p>paragraph " + std::to_string(i) + " with <a href='/q/" + std::to_string(i) +
                "'>a link</a> and <b>bold</b> words</p><img src='/p/" + std::to_string(i) + ".jpg'>";
    body += "<div class=comment><span class=author>who</span><ul><li>a</li><li>b</li></ul></div>";
    TestContainer container(true);
    const std::string html =
        "<html><head><style>" + sheet + "</style></head><body>" + body + "</body></html>";
    auto doc = litehtml::document::createFromString(html.c_str(), &container, context);
    doc->render(375);
    const auto stats = detail::matchingStats(*container.matching);
    EXPECT_EQ(stats.exhaustedPasses, 0u);
    EXPECT_GE(stats.passes, 2u);  // the default sheet's and the page's
    // A twentieth of the budget at most: a page twenty times as long still shows every rule.
    EXPECT_LT(stats.mostPassSteps * 20, detail::kDefaultMatchingStepsPerPass) << stats.mostPassSteps;
    EXPECT_EQ(stats.propertyDroppedPasses, 0u);
    EXPECT_LT(stats.mostPassProperties * 20, detail::kDefaultStoredPropertiesPerPass)
        << stats.mostPassProperties;
}

TEST(WebElementMatchingTest, MalformedSelectorsAndEmptySheetsAreHarmless) {
    const Case cases[] = {
        {"empty", "", kTree},
        {"broken", "p ~ {color:red} > p{color:green} :nth-child(){width:1px} [=x]{color:blue} ::{} p,,p{}",
         kTree},
        {"only pseudo elements", "::before{content:'x'} ::after{content:'y'}", kTree},
        {"empty body", "p{color:red}", ""},
    };
    expectEachSameAsEngine(cases);
}

// ---- alike siblings copy each other's styles ------------------------------------------------------

// Runs of children alike but for what some rule may look at: an id, a style attribute, a title
// and language, data, a second class, another tag, position among the run.
std::string alikeRuns() {
    std::string run;
    for (int i = 0; i < 6; ++i) run += "<p class=a>a</p>";
    run += "<p class=a id=x>id</p><p class=a style='color:#333333;width:9px'>inline</p><p class=a>a</p>"
           "<p class=a title=t lang=en-gb>t</p><p class=a data-k=1>k</p><p class=a data-k=2>k</p>"
           "<p class='a b'>ab</p><span class=a>s</span><p class=a>a</p><p class=A>upper</p><p class=a>a</p>"
           "<a class=a href='/1'>l</a><a class=a href='/2'>l</a><a class=a>no link</a>";
    for (int i = 0; i < 5; ++i) run += "<p>plain</p>";
    return "<div class=list>" + run + "</div><div class=list>" + run + "<p class=a>last</p></div>";
}

TEST(WebElementMatchingTest, AlikeSiblingsShareOnlyWhatEveryRuleAnswersAlike) {
    const Case cases[] = {
        {"classes", ".a{color:red} .b{width:3px} .list .a{margin-left:2px} .list > p{padding-left:1px}", ""},
        {"ids", "#x{color:green} .a{color:red} p#x{width:4px}", ""},
        {"inline styles", ".a{color:red;width:2px} p{margin-top:3px}", ""},
        {"adjacent", ".a + .a{color:green} p + p{width:2px} span + p{margin-left:5px}", ""},
        {"general sibling", "span ~ .a{color:blue} #x ~ p{width:6px}", ""},
        {"positions",
         ".a:nth-child(3n){color:green} p:first-child{width:1px} p:last-of-type{margin-left:4px}"
         ".a:nth-last-child(2){font-weight:bold} p:only-of-type{padding-left:2px}",
         ""},
        {"attributes",
         "[title]{color:red} [data-k]{width:5px} [lang|=en]{margin-left:1px} [data-k='2']{color:green}"
         "a[href]{padding-left:3px}",
         ""},
        {"not", ".a:not(.b){color:green} p:not(:first-child){width:2px} p:not([title]){margin-left:3px}", ""},
        {"states", "a:link{color:red} .a:hover{color:green} a:hover{width:1px}", ""},
        {"generated", ".a::before{content:'B'} .b::after{content:'A'}", ""},
        {"case", ".A{color:red} .a{width:2px} P{margin-left:1px}", ""},
        {"important and order", ".a{color:red !important} p.a{color:green} .list p{width:1px} p{width:2px}",
         ""},
    };
    const std::string body = alikeRuns();
    expectEachSameAsEngine(cases, body);
    // Where every rule answers alike, the runs copy (ids, style attributes and links do not).
    const auto stats = expectSameAsEngine(".a{color:red} .list p{width:1px}", body);
    EXPECT_GE(stats.copiedStyles, 20u);
}

// Children of alike parents (ids on them the sheet does not name): a rule that counts or looks at
// the parents' siblings, or names one of them, keeps them apart.
TEST(WebElementMatchingTest, ChildrenOfAlikeParentsShareOnlyWhatEveryRuleAnswersAlike) {
    std::string body = "<div class=wrap>";
    for (int i = 0; i < 8; ++i) {
        body += "<div class=x id=p" + std::to_string(i) + (i == 3 ? " title=t" : "") +
                " data-n=" + std::to_string(i % 3) +
                "><p class=a>a</p><p class=a>b</p><span class=a>s<b>b</b></span>"
                "<div class=in><p>deep</p></div></div>";
    }
    body += "</div>";
    const Case cases[] = {
        {"plain", ".x .a{color:red} .x > p{width:1px} .in p{margin-left:2px} .wrap b{padding-left:1px}", ""},
        {"ancestor positions",
         ".x:first-child .a{color:green} .x:nth-child(2n) > p{width:2px} .x:last-child span{margin-left:1px}"
         ".x:nth-of-type(3) .in p{color:blue} .x:only-child b{width:9px}",
         ""},
        {"ancestor siblings", ".x + .x .a{color:blue} .x ~ .x p{width:3px} #p2 + .x b{margin-left:4px}", ""},
        {"ancestor ids", "#p3 .a{color:green} #p5 > p{width:4px} #P6 .in p{margin-left:2px}", ""},
        {"ancestor attributes",
         "[title] .a{color:red} .x[data-n='2'] p{width:5px} [id$='7'] b{margin-top:2px}", ""},
        {"ancestor not",
         ".x:not(:first-child) p{color:red} .x:not(#p2) span{width:6px} .x:not([title]) b{color:blue}", ""},
        {"ancestor states", ".x:hover .a{color:green}", ""},
    };
    expectEachSameAsEngine(cases, body);
    // With nothing that keeps them apart, the later parents' children copy the first's.
    EXPECT_GE(expectSameAsEngine(".x .a{color:red} .in p{width:1px}", body).copiedStyles, 30u);
    // A state on one parent, restyled.
    expectSameAsEngine(".x:hover .a{color:green} .x:hover b{width:2px}", body,
                       [](litehtml::document& doc, TestContainer&) {
                           doc.root()->select_all(".x")[4]->set_pseudo_class("hover", true);
                           restyleAll(doc);
                       });
}

TEST(WebElementMatchingTest, CopiedStylesFollowRestylingAsTheEnginesOwn) {
    const std::string css = "@media (max-width: 500px){.list p{color:red}} p:hover{color:green} .on "
                            "p{width:5px} .a{margin-left:2px}";
    const std::string body = alikeRuns();
    expectEachRestyleSameAsEngine(css, body,
                                  {
                                      {"media narrows", narrowViewport},
                                      {"hover on one of a run",
                                       [](litehtml::document& doc, TestContainer&) {
                                           paragraph(doc, 2)->set_pseudo_class("hover", true);
                                           restyleAll(doc);
                                       }},
                                      {"class added to a run's parent",
                                       [](litehtml::document& doc, TestContainer& c) {
                                           doc.root()->select_all(".list")[0]->set_class("on", true);
                                           narrowViewport(doc, c);
                                       }},
                                  });
}

// ---- whole pages --------------------------------------------------------------------------------

std::shared_ptr<litehtml::document> build(TestContainer& container, const benchsupport::StyledPage& page) {
    const std::string html =
        "<html><head><style>" + page.sheet + "</style></head><body>" + page.body + "</body></html>";
    auto doc = litehtml::document::createFromString(html.c_str(), &container, &sharedContext());
    if (doc) doc->render(container.width);
    return doc;
}

std::vector<std::string> described(const litehtml::element::ptr& el) {
    std::vector<std::string> out;
    describe(el, out);
    return out;
}

// A forum thread of 2,400 posts under a site sheet of a thousand rules is styled to its last
// post, as its second (the first is :first-child, odd ones are striped) and far below the budget.
TEST(WebElementMatchingTest, AForumThreadIsStyledWhole) {
    TestContainer container(true);
    container.width = 320;
    auto doc = build(container, benchsupport::forumThread(2400, true));
    ASSERT_TRUE(doc);
    const auto posts = doc->root()->select_all(".post");
    ASSERT_EQ(posts.size(), 2400u);
    EXPECT_EQ(described(posts[1]), described(posts.back()));
    const auto dates = doc->root()->select_all(".date");
    EXPECT_STREQ(dates.back()->get_style_property("color", false, ""), "#888888");
    const auto avatars = doc->root()->select_all(".avatar");
    EXPECT_EQ(avatars.back()->get_position().height, 32);
    EXPECT_STREQ(posts.back()->get_style_property("background-color", false, ""), "#fafafa");
    const auto stats = detail::matchingStats(*container.matching);
    EXPECT_EQ(stats.exhaustedPasses, 0u);
    EXPECT_LT(stats.mostPassSteps * 4, detail::kDefaultMatchingStepsPerPass) << stats.mostPassSteps;
    // A third of what a pass may store at most.
    EXPECT_EQ(stats.propertyDroppedPasses, 0u);
    EXPECT_GT(stats.mostPassProperties, 100'000u);  // what the thread's thirty thousand elements hold
    EXPECT_LT(stats.mostPassProperties * 3, detail::kDefaultStoredPropertiesPerPass)
        << stats.mostPassProperties;
}

TEST(WebElementMatchingTest, AnArticleIsStyledWholeAsTheEnginesOwn) {
    const auto page = benchsupport::article(5000, true);
    TestContainer engineContainer(false), oursContainer(true);
    engineContainer.width = oursContainer.width = 320;
    auto engine = build(engineContainer, page);
    auto ours = build(oursContainer, page);
    ASSERT_TRUE(engine && ours);
    EXPECT_EQ(ours->height(), engine->height());
    EXPECT_EQ(described(ours->root()), described(engine->root()));
    const auto ps = ours->root()->select_all(".content p");
    ASSERT_EQ(ps.size(), 5000u);
    EXPECT_STREQ(ps.back()->get_style_property("margin-bottom", false, ""), "12px");
    const auto stats = detail::matchingStats(*oursContainer.matching);
    EXPECT_EQ(stats.exhaustedPasses, 0u);
    EXPECT_GT(stats.copiedStyles, 4000u);  // the paragraphs copy one another
    EXPECT_EQ(stats.propertyDroppedPasses, 0u);
    EXPECT_LT(stats.mostPassProperties * 10, detail::kDefaultStoredPropertiesPerPass)
        << stats.mostPassProperties;
}

// Each element merges a rule's declarations parsed once: shorthands, importance and the order of
// rules end as when the engine parses them into every element.
TEST(WebElementMatchingTest, DeclarationsParsedOnceEndAsParsedIntoEachElement) {
    const char* const names[] = {"margin-top",
                                 "margin-left",
                                 "margin-bottom",
                                 "padding-top",
                                 "padding-left",
                                 "border-top-width",
                                 "border-top-style",
                                 "border-top-color",
                                 "border-left-width",
                                 "border-left-style",
                                 "border-bottom-color",
                                 "border-top-left-radius-x",
                                 "border-bottom-right-radius-y",
                                 "background-color",
                                 "background-image",
                                 "background-image-baseurl",
                                 "background-repeat",
                                 "background-position",
                                 "font-size",
                                 "font-weight",
                                 "font-family",
                                 "font-style",
                                 "line-height",
                                 "list-style-type",
                                 "list-style-image",
                                 "color",
                                 "display",
                                 "width",
                                 "text-decoration",
                                 "float",
                                 "clear",
                                 "vertical-align",
                                 "-litehtml-border-spacing-x"};
    const std::string css =
        "p{margin:0;padding:3px;border:1px solid red} .a{margin-top:4px;border-top:2px dashed blue}"
        ".b{margin:1px 2px !important;border-color:green !important} p{margin:5px;border-radius:4px}"
        ".a{background:url(x.png) no-repeat;font:bold 12px/1.5 serif} .b{background-color:blue !important}"
        "p{background:none;color:red} .a{color:blue !important;list-style:square inside} .b{color:green}"
        "div p{font-size:14px;float:left;clear:both} .a.b{display:inline-block;width:10px;border-spacing:2px}"
        ".b{font-weight:normal !important;text-decoration:underline;vertical-align:top}";
    std::string body;
    for (int i = 0; i < 12; ++i)
        body += i % 3 == 0 ? "<p class=a>a</p>" : i % 3 == 1 ? "<p class=b>b</p>" : "<p class='a b'>c</p>";
    body = "<div>" + body + "</div>" + body;
    auto properties = [&](bool matched) {
        TestContainer container(matched);
        auto doc = build(container, {body, css});
        std::vector<std::string> out;
        for (const auto& p : doc->root()->select_all("p"))
            for (const char* name : names) {
                const char* value = p->get_style_property(name, false, nullptr);
                out.push_back(std::string(name) + "=" + (value ? value : "<none>"));
            }
        return out;
    };
    EXPECT_EQ(properties(true), properties(false));
}

// ---- shapes built to make matching slow ----------------------------------------------------------

TEST(WebElementMatchingTest, SelectorsNestedInNotAreCountedAndTheDeepOnesDropped) {
    // Shallow nesting matches as the engine's own does.
    expectSameAsEngine(
        ":not(:not(p)){color:red} :not(:not(:not(:not(.x)))){width:2px} p:not(:not(.x)){margin-left:1px}"
        ":not(:not(:not(:not(:not(:not(:not(:not(span)))))))){color:green}",
        kTree);
    // Twenty rules nested 160 deep over 3,000 paragraphs: dropped, the page shows.
    TestContainer container(true);
    auto doc = build(container, benchsupport::nestedNot(3000, 20, 160, true));
    ASSERT_TRUE(doc);
    EXPECT_GT(doc->height(), 0);
    const auto ps = doc->root()->select_all("p");
    ASSERT_EQ(ps.size(), 3000u);
    EXPECT_STREQ(ps.back()->get_style_property("color", false, ""), "");
    const auto stats = detail::matchingStats(*container.matching);
    EXPECT_EQ(stats.exhaustedPasses, 0u);
    // Nested just within reach, each try counts what the engine parses again: a small budget
    // runs out rather than spending it on a few paragraphs.
    std::string rule = "p";
    for (int d = 0; d < 8; ++d) rule = ":not(" + rule + ")";
    std::string body;
    for (int i = 0; i < 500; ++i) body += "<p>n</p>";
    TestContainer small(true, 20000);
    benchsupport::StyledPage page{body, ""};
    for (int r = 0; r < 20; ++r) page.sheet += rule + "{width:" + std::to_string(r) + "px}";
    ASSERT_TRUE(build(small, page));
    EXPECT_GE(detail::matchingStats(*small.matching).exhaustedPasses, 1u);
}

TEST(WebElementMatchingTest, ElementsOfThousandsOfClassesMeetClassRulesCheaply) {
    // Past the class count an element looks its classes up in an index: the same outcome as the
    // engine's own, in any case and in compounds of several classes and :not().
    std::string many;
    for (int c = 0; c < 40; ++c) many += (c % 3 == 0 ? " C" : " c") + std::to_string(c);
    const std::string body = "<div class='" + many + "'><p class='" + many + " x'>p</p></div><p class='" +
                             many + "'>q</p><span class='" + many + "'>s</span>";
    expectSameAsEngine(
        ".c1{color:red} .C3{width:3px} .c3{margin-left:3px} .c1.c2.x{font-weight:bold}"
        ".c1.c99{color:green} p:not(.x){padding-left:2px} .c4 .x{margin-top:1px} .c39:not(.C0){"
        "text-decoration:underline} [class~=c5]{background-color:blue}",
        body);

    // Forty elements of 5,000 classes against 19,000 class rules: the last rule an element meets
    // (.c4999) decides, within the budget.
    TestContainer container(true);
    auto doc = build(container, benchsupport::manyClasses(40, 5000, 19000, true));
    ASSERT_TRUE(doc);
    const auto divs = doc->root()->select_all("div");
    ASSERT_EQ(divs.size(), 40u);
    for (const auto& div : divs) EXPECT_STREQ(div->get_style_property("margin-left", false, ""), "1px");
    EXPECT_EQ(detail::matchingStats(*container.matching).exhaustedPasses, 0u);
}

// A rule of a megabyte (an inline picture) over a thousand elements runs out of its own
// allowance; the page's other rules reach every element.
TEST(WebElementMatchingTest, LongDeclarationsRunOutOfTheirOwnAllowance) {
    TestContainer container(true);
    auto doc = build(container, benchsupport::dataBackground(1000, std::size_t(1) << 20, true));
    ASSERT_TRUE(doc);
    const auto tiles = doc->root()->select_all(".tile");
    ASSERT_EQ(tiles.size(), 1000u);
    std::size_t pictured = 0;
    for (const auto& tile : tiles) {
        EXPECT_STREQ(tile->get_style_property("color", false, ""), "#123456");
        const char* image = tile->get_style_property("background-image", false, "");
        pictured += image && std::strlen(image) > (1u << 20);
    }
    EXPECT_GT(pictured, 0u);
    EXPECT_LT(pictured, 100u);
    for (const auto& p : doc->root()->select_all(".tile p"))
        EXPECT_STREQ(p->get_style_property("width", false, ""), "30px");
    const auto stats = detail::matchingStats(*container.matching);
    EXPECT_EQ(stats.exhaustedPasses, 0u);
    EXPECT_GE(stats.bulkDroppedPasses, 1u);
}

// Under the default budget, a page built to spend it (two thousand long rules for every one of
// 3,000 paragraphs) still ends: the rules met first apply, the rest are dropped, the page shows.
TEST(WebElementMatchingTest, TheDefaultBudgetEndsAPageBuiltToExhaustIt) {
    benchsupport::StyledPage page;
    for (int i = 0; i < 3000; ++i) page.body += "<p>x</p>";
    for (int r = 0; r < 2000; ++r) {
        page.sheet += "p{color:#" + std::to_string(100000 + r) + ";margin-left:" + std::to_string(r) + "px";
        for (int d = 0; d < 12; ++d) page.sheet += ";padding-left:" + std::to_string(d) + "px";
        page.sheet += "}";
    }
    TestContainer container(true);
    auto doc = build(container, page);
    ASSERT_TRUE(doc);
    EXPECT_GT(doc->height(), 0);
    const auto ps = doc->root()->select_all("p");
    ASSERT_EQ(ps.size(), 3000u);
    EXPECT_STREQ(ps.front()->get_style_property("color", false, ""), "#101999");
    EXPECT_STREQ(ps.back()->get_style_property("color", false, ""), "");
    const auto stats = detail::matchingStats(*container.matching);
    EXPECT_GE(stats.exhaustedPasses, 1u);
    // Past the budget by one element's rules at most.
    EXPECT_LT(stats.mostPassSteps, detail::kDefaultMatchingStepsPerPass / 100 * 101);
}

// ---- what styling stores ------------------------------------------------------------------------

int redDivs(litehtml::document& doc) {
    int red = 0;
    for (const auto& div : doc.root()->select_all("div"))
        red += std::strcmp(div->get_style_property("color", false, ""), "red") == 0;
    return red;
}

std::string unknownDeclarations(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += ";x" + std::to_string(i) + ":1";
    return out;
}

// A pass stores properties in elements up to its allowance, whichever way a rule stores them
// (parsed once, parsed into each element, copied from an alike one, into generated content):
// past it the rules that would store more are dropped, those met first still apply, and the
// page shows. Under an allowance that holds them all, every element is styled.
TEST(WebElementMatchingTest, StoredPropertiesPastTheAllowanceDropFurtherRules) {
    constexpr int kDivs = 400;
    constexpr std::size_t kAllowance = 2000;  // the default sheet's pass stores one a div
    const std::string picture = "url(\"data:image/png;base64," + std::string(6000, 'A') + "\")";
    const Case cases[] = {
        {"unknown declarations", "div{color:red" + unknownDeclarations(20) + "}", ""},
        {"shorthands", "div{color:red;border:1px solid blue;margin:1px 2px;padding:3px;background:#fe8}", ""},
        {"each a rule of its own", "div{color:red} div{margin:1px} div{padding:2px} div{border:1px solid}",
         ""},
        {"var()", "div{--a:1px;color:red;margin:var(--a);padding:var(--a)" + unknownDeclarations(8) + "}",
         ""},
        {"long declarations", "div{color:red;background:" + picture + unknownDeclarations(10) + "}", ""},
        {"generated content", "div{color:red} div::before{content:'b'" + unknownDeclarations(20) + "}", ""},
        {"alike elements apart", "div{color:red" + unknownDeclarations(20) + "}", "<p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body;
        for (int i = 0; i < kDivs; ++i) body += "<div>d</div>" + c.body;
        {
            TestContainer roomy(true, detail::kDefaultMatchingStepsPerPass, kAllowance * 100);
            auto doc = build(roomy, {body, c.css});
            ASSERT_TRUE(doc);
            EXPECT_EQ(redDivs(*doc), kDivs);
            EXPECT_EQ(detail::matchingStats(*roomy.matching).propertyDroppedPasses, 0u);
        }
        TestContainer container(true, detail::kDefaultMatchingStepsPerPass, kAllowance);
        auto doc = build(container, {body, c.css});
        ASSERT_TRUE(doc);
        EXPECT_GT(doc->height(), 0);
        const auto divs = doc->root()->select_all("div");
        ASSERT_EQ(divs.size(), std::size_t(kDivs));
        EXPECT_STREQ(divs.front()->get_style_property("color", false, ""), "red");
        EXPECT_STREQ(divs.back()->get_style_property("color", false, ""), "");
        const int red = redDivs(*doc);
        EXPECT_GT(red, 0);
        EXPECT_LT(red, kDivs / 2);
        const auto stats = detail::matchingStats(*container.matching);
        EXPECT_EQ(stats.exhaustedPasses, 0u);
        EXPECT_GE(stats.propertyDroppedPasses, 1u);
        // Past the allowance by one element's rules at most.
        EXPECT_GE(stats.mostPassProperties, kAllowance);
        EXPECT_LT(stats.mostPassProperties, kAllowance + 40);
    }
}

// What a property weighs is its place in the element: rules that only overwrite what an element
// holds store nothing more, and a pass that drops rules leaves the next one its whole allowance.
TEST(WebElementMatchingTest, OverwrittenPropertiesWeighNothingMoreAndEachPassStartsAfresh) {
    std::string body;
    for (int i = 0; i < 400; ++i) body += "<div>d</div>";
    std::string css;
    for (int r = 0; r < 50; ++r) css += "div{color:#" + std::to_string(100000 + r) + ";margin:1px}";
    css += "div{color:red}";
    TestContainer container(true, detail::kDefaultMatchingStepsPerPass, 2000);
    auto doc = build(container, {body, css});
    ASSERT_TRUE(doc);
    EXPECT_EQ(redDivs(*doc), 400);
    auto stats = detail::matchingStats(*container.matching);
    EXPECT_EQ(stats.propertyDroppedPasses, 0u);
    EXPECT_LE(stats.mostPassProperties, 400u * 5);

    TestContainer small(true, detail::kDefaultMatchingStepsPerPass, 2000);
    auto page = build(small, {body, "div{color:red" + unknownDeclarations(20) + "}"});
    ASSERT_TRUE(page);
    const int red = redDivs(*page);
    stats = detail::matchingStats(*small.matching);
    ASSERT_GE(stats.propertyDroppedPasses, 1u);
    // A restyle stores in one pass what the default sheet's and the page's stored in two: about
    // the same elements are styled, no more, and the first ones still.
    page->root()->refresh_styles();
    page->root()->parse_styles();
    EXPECT_LE(redDivs(*page), red);
    EXPECT_GT(redDivs(*page), red * 3 / 4);
    EXPECT_STREQ(page->root()->select_all("div").front()->get_style_property("color", false, ""), "red");
    stats = detail::matchingStats(*small.matching);
    EXPECT_GE(stats.propertyDroppedPasses, 2u);
    EXPECT_LT(stats.lastPassProperties, 2000u + 40);
}

// Under the default allowance, a rule of a hundred declarations no property knows over 20,000
// elements stores its allowance and no more: the first elements are styled, the page shows.
TEST(WebElementMatchingTest, TheDefaultAllowanceEndsAPageBuiltToExhaustIt) {
    benchsupport::StyledPage page;
    page.sheet = "div{color:red" + unknownDeclarations(100) + "}";
    for (int i = 0; i < 20000; ++i) page.body += "<div>r</div>";
    TestContainer container(true);
    auto doc = build(container, page);
    ASSERT_TRUE(doc);
    EXPECT_GT(doc->height(), 0);
    const int red = redDivs(*doc);
    EXPECT_GT(red, 10000);
    EXPECT_LT(red, 20000);
    const auto divs = doc->root()->select_all("div");
    EXPECT_STREQ(divs.front()->get_style_property("color", false, ""), "red");
    EXPECT_STREQ(divs.back()->get_style_property("color", false, ""), "");
    const auto stats = detail::matchingStats(*container.matching);
    EXPECT_EQ(stats.exhaustedPasses, 0u);
    EXPECT_GE(stats.propertyDroppedPasses, 1u);
    EXPECT_LT(stats.mostPassProperties, detail::kDefaultStoredPropertiesPerPass + 200);
}

// ---- what matching remembers -------------------------------------------------------------------

// Siblings of two tags, some with ids and a class, in div #c; then in div #d divs of siblings.
std::string siblingRuns(int siblings) {
    std::string body = "<div id=c>";
    for (int i = 0; i < siblings; ++i)
        body += i % 7 == 3 ? "<span id=s" + std::to_string(i) + ">s</span>"
                           : "<p id=p" + std::to_string(i) + (i % 3 ? "" : " class=x") + ">p <b>b</b></p>";
    body += "</div><div id=d>";
    for (int i = 0; i < 8; ++i)
        body += std::string("<div class=") + "ba"[i % 2] + "><p>q</p><p>r <b>b</b></p><span>t</span></div>";
    return body + "</div>";
}

// Chains over 40 siblings and up to the last of 400 (the engine tries every earlier one for each "~"
// again) style something, as the engine's own matching does, at the allowance of answers they need,
// one below it, a few and none: past it a pass finds again what it is asked again.
TEST(WebElementMatchingTest, SiblingChainsMatchAsTheEnginesOwnAtAnyAllowance) {
    const std::tuple<const char*, int, std::string> cases[] = {
        {"from the first child", 40,
         "#c > p:first-child + p ~ p + p ~ p{color:red} #c > p:first-child ~ span + p + p{width:1px}"
         "#c > p:first-child + p + p + p + p + p + p + p{margin-left:2px}"},
        {"ids", 40,
         "#c > #p2 + p ~ p + p{color:green} #p9 ~ #s17 + p ~ .x{margin-left:2px} #s3 ~ #s31{width:3px}"},
        {"tags", 40,
         "span + p ~ span ~ p{color:blue} p ~ span + p + p{width:4px} span ~ span ~ span{font-weight:bold}"},
        {"positions and not", 40,
         "p:nth-child(2n+1) + p ~ span{color:red} span:first-of-type ~ p + p:last-child{width:2px}"
         "p:not(.x) + p.x ~ span{margin-left:1px} p:only-of-type ~ p{padding-left:3px}"},
        {"descendants", 40, "#c > p + p b{color:green} p ~ span ~ p > b{width:5px} .x + p b{margin-top:1px}"},
        {"siblings of ancestors", 40,
         ".a + .b > p ~ p{color:blue} #d > div ~ div p + p{width:3px} .b + .a span{margin-left:4px}"
         "div ~ div > p:first-child + p b{font-weight:bold}"},
        {"long chains", 40, benchsupport::siblingChains(16, 6, 7, true).sheet},
        {"asked of parents and ancestors", 40,
         ".a + .b > p ~ p{color:blue} #d > div ~ div p + p{width:3px} div p b{margin-left:1px}"
         "#c > p:first-child + p ~ p + p ~ span{color:red} #d > .a > p + p > b{font-weight:bold}"},
        {"one general sibling among adjacent ones", 400,
         "#c > p:first-child + p + p ~ span + p + p{color:red} span ~ p + p + p + span{width:2px}"
         "p:not(.x) ~ p.x + p + p{margin-left:3px} #c > span + p ~ #s388{font-weight:bold}"},
        {"after the last ids", 400, "#p393 + p ~ p{color:blue} #s381 + p + p ~ span{width:6px}"},
    };
    for (const auto& [name, siblings, css] : cases) {
        SCOPED_TRACE(name);
        const std::string body = siblingRuns(siblings);
        EXPECT_NE(style(false, css, body).elements, style(false, "", body).elements);
        const std::size_t needed = expectSameAsEngine(css, body).mostPassRemembered;
        ASSERT_GT(needed, 0u);
        for (const std::size_t allowance : {needed, needed - 1, std::size_t(4), std::size_t(0)}) {
            SCOPED_TRACE(allowance);
            const auto stats = expectSameAsEngine(css, body, nullptr, allowance);
            EXPECT_EQ(stats.forgetfulPasses > 0, allowance < needed);
            EXPECT_LE(stats.mostPassRemembered, allowance);
        }
    }
}

// A pass (and each outside query) remembers what the elements on the way down are asked: as much for
// 4,000 siblings under 20 chains of 16 compounds as for 1,000. Under 70 such chains, 20,000 siblings
// spend the step budget on the first of them, the rest of the rules are dropped, the page shows.
TEST(WebElementMatchingTest, WhatAPassRemembersGrowsWithTheChainsNotTheSiblings) {
    auto remembered = [](int siblings, int chains, bool exhausts) {
        const auto page = benchsupport::siblingChains(siblings, chains, 16, true);
        const Styled s = style(true, page.sheet, page.body,
                               [](litehtml::document& doc, TestContainer&) { doc.root()->select_all("p"); });
        EXPECT_EQ(s.stats.exhaustedPasses > 0, exhausts);
        EXPECT_LT(s.stats.mostPassSteps, detail::kDefaultMatchingStepsPerPass / 100 * 101);
        EXPECT_EQ(s.stats.forgetfulPasses, 0u);
        EXPECT_GT(s.stats.mostPassRemembered, 0u);
        EXPECT_LT(s.stats.mostPassRemembered, std::size_t(chains) * 16 * 2);
        EXPECT_FALSE(s.markers.empty());
        EXPECT_EQ(countWith(s, "p", ""), std::size_t(siblings));
        EXPECT_GT(countWith(s, "p", "color=#"), exhausts ? 2000u : std::size_t(siblings) / 2);
        EXPECT_EQ(s.elements.back().find("color=#") == std::string::npos, exhausts);
        return s.stats.mostPassRemembered;
    };
    EXPECT_EQ(remembered(4000, 20, false), remembered(1000, 20, false));
    remembered(20000, 70, true);
}

// Each element (text and generated content too), depth first: what it answers for properties
// inherited or not (names that share a beginning or an end too), what the engine read in, its place.
void readIn(const litehtml::element::ptr& el, std::vector<std::string>& out) {
    std::istringstream names(
        "color font-size font-family font-weight line-height text-align white-space visibility cursor "
        "list-style-type text-transform margin-left width display border-top-width padding-left x-unknown "
        "text-decoration border-top-left-radius-x border-top-left-radius-y border-bottom-right-radius-y "
        "background-position -litehtml-border-spacing-x");
    std::string line = std::string(el->get_tagName()) + " " + std::to_string(el->get_children_count());
    for (std::string name; names >> name;) {
        const char* inherited = el->get_style_property(name.c_str(), true, "D");
        const char* own = el->get_style_property(name.c_str(), false, nullptr);
        line += " " + name + "=" + (inherited ? inherited : "-") + "/" + (own ? own : "-");
    }
    const litehtml::position at = el->get_placement();
    out.push_back(line + " " + std::to_string(el->get_font_size()) + " " + std::to_string(el->line_height()) +
                  " " + std::to_string(el->get_white_space()) + std::to_string(el->get_visibility()) +
                  std::to_string(el->get_display()) + " @" + std::to_string(at.x) + "," +
                  std::to_string(at.y) + "," + std::to_string(at.width) + "," + std::to_string(at.height));
    for (std::size_t i = 0; i < el->get_children_count(); ++i) readIn(el->get_child(int(i)), out);
}

// Restyled one after another (media, hover, class: the engine tries an element's children before it)
// and queried from outside after each, sibling chains and properties read in with the answers of the
// elements above remembered end as the engine's own: "inherit" (in any case) of inherited properties
// and others, style attributes, generated content, text, restyles of what upper elements hold.
TEST(WebElementMatchingTest, RestyledChainsAndInheritedPropertiesEndAsTheEnginesOwn) {
    const std::string css =
        "#c > p:first-child + p ~ p:hover + p ~ span{color:red} p.on ~ p + span{width:1px}"
        "@media (max-width: 500px){#c > p ~ span + p{margin-left:2px}} .on + p b{color:blue}"
        "body{color:#102030;font-family:serif;line-height:1.5} .a{font-size:20px;white-space:pre;"
        "text-align:right} .b{color:inherit;margin-left:inherit;width:INHERIT;visibility:hidden}"
        ".c{margin-left:7px;width:30px} .c > p{border-top-width:inherit;padding-left:inherit;cursor:pointer}"
        ".d::before{content:'x';color:inherit} li{list-style-type:inherit} ol{list-style-type:lower-roman}"
        ".e *{font-weight:inherit} .e{font-weight:bold} .on .b{color:#445566;font-size:9px}"
        ".on{text-transform:uppercase;line-height:30px} table{border-spacing:4px 2px}"
        ".c{border-radius:3px 4px;background:url(x.png) 2px 3px}"
        ".b{border-top-left-radius:inherit;border-bottom-right-radius:1px 9px}"
        "@media (max-width: 500px){.a{font-size:12px;color:#998877} .c{white-space:nowrap;line-height:11px}}";
    const std::string body =
        siblingRuns(30) +
        "<div class=a>text <p class=b>b <span>s <b>deep</b></span></p><div class=c><p class=b>cb</p>"
        "<p style='padding-left:inherit;color:inherit;font-size:inherit'>st</p><div class=c><p>x</p></div>"
        "</div><p class=d>d <i class=b>i</i></p></div><ol><li>one<ol><li class=b>two</li></ol></li></ol>"
        "<div class=e><p style='white-space:inherit'>e <span class=b>f</span></p></div>"
        "<table><tr><td class=b>t</td></tr></table>";
    std::vector<std::vector<std::string>> seen;  // the engine's, then ours
    expectSameAsEngine(css, body, [&seen](litehtml::document& doc, TestContainer& c) {
        auto& out = seen.emplace_back();
        const auto readAndQuery = [&] {
            doc.render(c.width);
            readIn(doc.root(), out);
            for (const std::string query : {"#c > p:first-child + p ~ p + p ~ span", "span ~ p + p",
                                            "p ~ p > b", ".a + .b > p ~ p", "#p11 ~ p + span ~ .x"}) {
                const auto found = doc.root()->select_all(query);
                EXPECT_FALSE(found.empty()) << query;
                for (const auto& el : found) out.push_back(query + ":" + el->get_attr("id", "?"));
            }
        };
        readAndQuery();
        narrowViewport(doc, c);
        readAndQuery();
        doc.root()->select_all(".c")[0]->set_pseudo_class("hover", true);
        paragraph(doc, 4)->set_pseudo_class("hover", true);
        restyleAll(doc);
        paragraph(doc, 4)->set_pseudo_class("hover", false);
        paragraph(doc, 9)->set_pseudo_class("hover", true);
        restyleAll(doc);
        readAndQuery();
        doc.root()->select_all(".a")[0]->set_class("on", true);
        paragraph(doc, 6)->set_class("on", true);
        c.width = 800;  // wide again: the narrow rules go, the classes' rules come
        doc.media_changed();
        readAndQuery();
    });
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(seen[0].size(), seen[1].size());
    for (std::size_t i = 0; i < seen[0].size(); ++i) EXPECT_EQ(seen[0][i], seen[1][i]) << i;
}

}  // namespace
