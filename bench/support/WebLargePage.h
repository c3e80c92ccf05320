#pragma once
// The large page the web benchmarks load: questions with paragraphs, links, bold words, lists and a
// few tables, in English and Chinese, about 50 elements and 2 KB of text each.

#include <string>

namespace benchsupport {

// One question: about 50 elements and 2 KB of text.
inline std::string largePageQuestion(int i) {
    const std::string words = "The front bumper of this car was fitted last week and the wheels are wider ";
    const std::string zh = "这辆车的前保险杠上周刚换过，轮毂也换成了更宽的一套。";
    const std::string n = std::to_string(i);
    std::string s = "<h2>Question " + n + " about wheels and tyres for the winter, and the snow chains</h2>";
    s += "<p>" + words + "<a href=\"/q/" + n + "\">the answers</a> " + words + "<b>bold words</b> " + zh +
         "</p>";
    s += "<p>" + zh + words + "<a href=\"/u/" + n + "\">a user</a> and more " + words + words + "</p><ul>";
    for (int k = 0; k < 8; ++k)
        s += "<li>An item of the list, with a few words " + std::string(k % 3 ? "" : zh) + "</li>";
    s += "</ul><ol>";
    for (int k = 0; k < 6; ++k)
        s += "<li><a href=\"/i/" + std::to_string(k) + "\">link " + std::to_string(k) + "</a> text</li>";
    s += "</ol>";
    if (i % 8 == 0) {
        s += "<table>";
        for (int r = 0; r < 3; ++r) {
            s += "<tr>";
            for (int c = 0; c < 4; ++c) s += "<td>cell " + std::to_string(r * 4 + c) + "</td>";
            s += "</tr>";
        }
        s += "</table>";
    } else {
        s += "<div><span>" + words + "</span><em>a few words</em><span>" + zh + "</span></div>";
        for (int k = 0; k < 7; ++k)
            s += "<p>Short <b>paragraph</b> " + std::to_string(k) + " of the answer, " +
                 (k % 2 ? zh : words) + "</p>";
        s += "<p><a href=\"/more\">more</a> <i>in italics</i> <code>code</code></p>";
    }
    return s;
}

// The site's rules for it.
inline const char* kLargePageSheet = "body{margin:8px;font-size:15px;line-height:1.5;word-wrap:break-word}"
                                     "a{color:#2a7ae2}h2{font-size:20px}td{border:1px solid #ccc}";

// The page of so many questions (2,000: about 100,000 elements and 4 MB of text, the page bounds),
// its rules in a <style> element, or linked (<link rel=stylesheet href=linked>) when given.
inline std::string largePage(int questions, const std::string& linked = "") {
    std::string body;
    for (int i = 0; i < questions; ++i) body += largePageQuestion(i);
    const std::string head = linked.empty() ? "<style>" + std::string(kLargePageSheet) + "</style>"
                                            : "<link rel=stylesheet href=\"" + linked + "\">";
    return "<html><head>" + head + "</head><body>" + body + "</body></html>";
}

}  // namespace benchsupport
