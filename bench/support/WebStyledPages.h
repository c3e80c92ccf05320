#pragma once
// Pages with the stylesheets real sites give them, for the benchmarks and tests of selector
// matching: a forum thread under a site sheet of a reset and about a thousand rules, a long
// article, and two shapes built to make matching slow (selectors nested in :not() and elements of
// thousands of classes against thousands of class rules). Each comes as its body and its sheet;
// `rules` false gives the same tree with an empty sheet, the benchmarks' reference.

#include <cstddef>
#include <string>

namespace benchsupport {

struct StyledPage {
    std::string body;
    std::string sheet;
};

// The sheet a question page of the app links: a few rules for its text, pictures and links.
inline constexpr const char* kQuestionPageSheet = R"css(
body { margin: 0; padding: 0 10px; font-size: 15px; color: #333333; line-height: 1.6;
       font-family: "Helvetica Neue", sans-serif; word-wrap: break-word; }
p { margin: 0 0 8px 0; }
img { display: block; margin: 6px 0; border-radius: 4px; }
a { color: #2a7ae2; text-decoration: none; }
)css";

// The reset a site sheet opens with: one selector list that the engine keeps as one rule a tag.
inline std::string resetSheet() {
    return "html,body,div,span,h1,h2,h3,h4,h5,h6,p,blockquote,pre,a,abbr,em,img,strong,small,b,u,i,"
           "ol,ul,li,table,tr,th,td,form,label{margin:0;padding:0;border:0;font-size:100%;"
           "vertical-align:baseline}"
           "body{line-height:1.4;color:#222222;background-color:#ffffff}ol,ul{list-style:none}"
           "blockquote{quotes:none}table{border-collapse:collapse;border-spacing:0}";
}

// A forum thread of `posts` posts, twelve elements each (post, its meta line with avatar, author
// and date, two paragraphs and a link, its action links), ids on the posts as forums give them.
// The sheet: the reset, the rules that style the thread (classes, descendants, children, adjacent
// siblings, :hover, :first-child, :nth-child) and some nine hundred of the site's other
// components, which meet nothing here, as most of a site sheet meets nothing on one page.
inline StyledPage forumThread(int posts, bool rules) {
    StyledPage page;
    std::string& b = page.body;
    b.reserve(std::size_t(posts) * 520 + 1000);
    b += "<div class=\"site\"><div class=\"site-header\"><a class=\"logo\" href=\"/\">Club</a><ul "
         "class=\"nav\"><li><a href=\"/f\">Forum</a></li><li><a href=\"/n\">News</a></li><li><a "
         "href=\"/e\">Events</a></li></ul></div><div class=\"thread\"><h1 class=\"thread-title\">Which "
         "exhaust for a daily driver?</h1><div class=\"posts\">";
    for (int i = 0; i < posts; ++i) {
        const std::string n = std::to_string(i);
        const std::string user = std::to_string(i % 311);
        b += "<div class=\"post\" id=\"post-" + n +
             "\"><div class=\"post-meta\"><img class=\"avatar\" src=\"/a/" + std::to_string(i % 50) +
             ".png\" width=\"32\" height=\"32\"><a class=\"author\" href=\"/u/" + user + "\">driver" + user +
             "</a><span class=\"date\">Dec " + std::to_string(1 + i % 28) +
             "</span></div><div class=\"post-body\"><p>Post " + n +
             ": the cat-back sounds fine at idle and drones at cruise.</p><p>See <a href=\"/t/" + n +
             "\">my build</a> for pictures.</p></div><div class=\"post-actions\"><a class=\"like\" "
             "href=\"#\">Like</a><a class=\"reply\" href=\"#\">Reply</a></div></div>";
    }
    b += "</div></div><div class=\"site-footer\"><p>Club forum</p></div></div>";
    if (!rules) return page;

    std::string& s = page.sheet;
    s = resetSheet();
    s += ".site{max-width:960px;margin:0 auto}.site-header{padding:8px;background-color:#20232a}"
         ".site-header .logo{color:#ffffff;font-weight:bold}.nav li{display:inline-block;margin-left:8px}"
         ".nav li a{color:#dddddd}.nav li a:hover{color:#ffffff}.thread{padding:0 8px}"
         ".thread-title{font-size:20px;margin:12px 0}.posts > .post{border-top:1px solid #e5e5e5;"
         "padding:8px 0}.post:first-child{border-top:0}.post:nth-child(even){background-color:#fafafa}"
         ".post-meta{height:32px;line-height:32px}.post-meta .avatar{float:left;width:32px;height:32px;"
         "margin-right:8px;border-radius:16px}.post-meta .author{font-weight:bold;color:#1a4f8b}"
         ".post-meta .author:hover{text-decoration:underline}.post-meta > .date{color:#888888;"
         "font-size:12px;margin-left:6px}.post-body{margin:6px 0 6px 40px}.post-body p{margin:0 0 6px 0}"
         ".post-body p + p{margin-top:4px}.post-body a{color:#1a4f8b}.post-body a:hover{color:#c00000}"
         ".post-actions{margin-left:40px;font-size:12px}.post-actions a{color:#666666;margin-right:10px}"
         ".post-actions a:hover{color:#000000}.post-actions .like:first-child{font-weight:bold}"
         ".site-footer{padding:16px;color:#888888}.site-footer p{text-align:center}";
    // The site's other components.
    for (int k = 0; k < 940; ++k) {
        const std::string c = std::to_string(k);
        switch (k % 9) {
            case 0:
                s += ".widget-" + c + " .title{font-size:14px;color:#333333;margin:4px 0}";
                break;
            case 1:
                s += ".btn-" + c + "{padding:4px 8px;border:1px solid #cccccc}";
                break;
            case 2:
                s += ".btn-" + c + ":hover{background-color:#eeeeee}";
                break;
            case 3:
                s += ".card-" + c + " > .header{font-weight:bold;padding:6px}";
                break;
            case 4:
                s += ".list-" + c + " li + li{border-top:1px solid #eeeeee}";
                break;
            case 5:
                s += "#modal-" + c + " .body{padding:12px}";
                break;
            case 6:
                s += ".post .badge-" + c + "{color:#aa5500;font-size:11px}";
                break;
            case 7:
                s += ".tab-" + c + ":first-child{margin-left:0}";
                break;
            default:
                s += "ul.menu-" + c + " > li a{color:#444444}";
                break;
        }
    }
    return page;
}

// An article of `paragraphs` paragraphs, a heading every fifty and a link and emphasis every
// tenth, under the reset and some two hundred rules of a news site.
inline StyledPage article(int paragraphs, bool rules) {
    StyledPage page;
    std::string& b = page.body;
    b += "<div class=\"article\"><h1 class=\"headline\">Track day report</h1><div class=\"byline\">By the "
         "editors</div><div class=\"content\">";
    for (int i = 0; i < paragraphs; ++i) {
        if (i % 50 == 0) b += "<h2>Session " + std::to_string(i / 50) + "</h2>";
        if (i % 10 == 0)
            b += "<p>Lap " + std::to_string(i) +
                 " went <em>faster</em> than the last; see <a href=\"/lap\">the times</a>.</p>";
        else
            b += "<p>Lap " + std::to_string(i) + " went much as the one before it did.</p>";
    }
    b += "</div></div>";
    if (!rules) return page;
    std::string& s = page.sheet;
    s = resetSheet();
    s += ".article{max-width:680px;margin:0 auto;padding:0 12px}.headline{font-size:28px;margin:16px 0}"
         ".byline{color:#777777;font-size:12px}.content p{margin:0 0 12px 0;line-height:1.6}"
         ".content h2{font-size:20px;margin:24px 0 8px 0}.content h2 + p{margin-top:0}"
         ".content a{color:#0055aa}.content a:hover{text-decoration:underline}.content em{color:#333333}"
         ".content p:first-child{font-size:18px}";
    for (int k = 0; k < 160; ++k) {
        const std::string c = std::to_string(k);
        switch (k % 4) {
            case 0:
                s += ".related-" + c + " a{color:#0055aa}";
                break;
            case 1:
                s += ".share-" + c + ":hover{opacity:0.8}";
                break;
            case 2:
                s += ".article .aside-" + c + " > p{font-size:13px}";
                break;
            default:
                s += ".gallery-" + c + " img + img{margin-left:4px}";
                break;
        }
    }
    return page;
}

// Rules of :not() nested `depth` deep around "p", over `paragraphs` paragraphs.
inline StyledPage nestedNot(int paragraphs, int ruleCount, int depth, bool rules) {
    StyledPage page;
    for (int i = 0; i < paragraphs; ++i) page.body += "<p>n</p>";
    if (!rules) return page;
    for (int r = 0; r < ruleCount; ++r) {
        std::string selector = "p";
        for (int d = 0; d < depth; ++d) selector = ":not(" + selector + ")";
        page.sheet += selector + "{color:#" + std::to_string(100000 + r) + "}";
    }
    return page;
}

// `elements` elements each of `classes` classes (c0 ...), against `ruleCount` rules .c0 ... .cN.
inline StyledPage manyClasses(int elements, int classes, int ruleCount, bool rules) {
    StyledPage page;
    std::string list;
    for (int c = 0; c < classes; ++c) list += (c ? " c" : "c") + std::to_string(c);
    for (int i = 0; i < elements; ++i) page.body += "<div class=\"" + list + "\">m</div>";
    if (!rules) return page;
    for (int r = 0; r < ruleCount; ++r)
        page.sheet += ".c" + std::to_string(r) + "{margin-left:" + std::to_string(r % 7) + "px}";
    return page;
}

// One rule of a background picture inline (a data: URL of about `bytes` bytes) over `elements`
// elements, beside ordinary rules for the same elements.
inline StyledPage dataBackground(int elements, std::size_t bytes, bool rules) {
    StyledPage page;
    for (int i = 0; i < elements; ++i) page.body += "<div class=\"tile\"><p>t</p></div>";
    if (!rules) return page;
    page.sheet = ".tile{background:url(\"data:image/png;base64," + std::string(bytes, 'A') +
                 "\")}.tile{color:#123456;height:20px}.tile p{width:30px}";
    return page;
}

// `paragraphs` sibling paragraphs (ids p0 ...) in one div (id c), under `chains` rules of
// `compounds` compounds each, chained by "+" and "~" from the div's first child ("#c >
// p:first-child + p ~ p + p ~ ..."), each rule's own mix of the two and its own colour: every
// compound of every chain is asked of nearly every paragraph, which is what a page built to make
// matching remember much looks like. Sixteen compounds is what a sheet may chain (see
// WebStyleSheetLimits::maxSelectorSteps).
inline StyledPage siblingChains(int paragraphs, int chains, int compounds, bool rules) {
    StyledPage page;
    std::string& b = page.body;
    b.reserve(std::size_t(paragraphs) * 24 + 32);
    b += "<div id=\"c\">";
    for (int i = 0; i < paragraphs; ++i) {
        const std::string n = std::to_string(i);
        b += "<p id=\"p" + n + "\">" + n + "</p>";
    }
    b += "</div>";
    if (!rules) return page;
    for (int k = 0; k < chains; ++k) {
        // Some chains start at the first child, some at any paragraph, some at a paragraph by id.
        std::string rule = k % 3 == 0   ? "#c > p:first-child"
                           : k % 3 == 1 ? "#c > p"
                                        : "#c > #p" + std::to_string(k);
        for (int j = 1; j < compounds; ++j) rule += ((k >> (j % 6)) & 1) == (j & 1) ? " + p" : " ~ p";
        page.sheet += rule + "{color:#" + std::to_string(100000 + k) + "}";
    }
    return page;
}

}  // namespace benchsupport
