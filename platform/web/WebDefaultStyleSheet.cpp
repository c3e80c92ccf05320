#include "web/WebDefaultStyleSheet.h"

namespace detail {

// The classic HTML 4 rendering as CSS 2.1 describes it, written for what the layout engine reads:
// no unicode-bidi or direction (it lays text out left to right only), no outline, no print
// rules; lists indent with padding (so a list's own margin stays free for the page's rules);
// "bolder" where headings and strong text thicken; the engine's "inline-text" display is never
// set here. Hidden elements come first so that nothing below can show them.
const char* webDefaultStyleSheet() {
    return R"css(
head, script, style, title, meta, link, base, template, datalist, param, area, map, noframes,
iframe, noembed, object, embed, frame, frameset,
[hidden], input[type=hidden] { display: none }

html, address, blockquote, body, dd, div, dl, dt, fieldset, form,
h1, h2, h3, h4, h5, h6, ol, p, ul, center, dir, hr, menu, pre, article, aside, footer,
header, hgroup, main, nav, section, figure, figcaption, details, summary, legend, listing,
plaintext, xmp { display: block }

li { display: list-item }
table { display: table }
tr { display: table-row }
thead { display: table-header-group }
tbody { display: table-row-group }
tfoot { display: table-footer-group }
col { display: table-column }
colgroup { display: table-column-group }
td, th { display: table-cell }
caption { display: table-caption }
button, textarea, input, select, img { display: inline-block }

html { color: black; font-size: 16px; line-height: normal }
body { margin: 8px }

h1 { font-size: 2em; margin: 0.67em 0 }
h2 { font-size: 1.5em; margin: 0.75em 0 }
h3 { font-size: 1.17em; margin: 0.83em 0 }
h4, p, blockquote, ul, fieldset, form, ol, dl, dir, menu, figure { margin: 1.12em 0 }
h5 { font-size: 0.83em; margin: 1.5em 0 }
h6 { font-size: 0.75em; margin: 1.67em 0 }
h1, h2, h3, h4, h5, h6, b, strong, th { font-weight: bold }
blockquote, figure { margin-left: 40px; margin-right: 40px }
i, cite, em, var, address, dfn { font-style: italic }
pre, tt, code, kbd, samp, listing, plaintext, xmp { font-family: monospace }
pre, listing, plaintext, xmp { white-space: pre; margin: 1em 0 }
big { font-size: 1.17em }
small, sub, sup { font-size: 0.83em }
sub { vertical-align: sub }
sup { vertical-align: super }

table { border-spacing: 2px; border-collapse: separate; text-align: left }
thead, tbody, tfoot, tr { vertical-align: middle }
td, th { vertical-align: middle; padding: 1px }
th { text-align: center }
table[border] { border: 1px outset #808080 }
table[border] td, table[border] th { border: 1px inset #808080 }
caption { text-align: center }

s, strike, del { text-decoration: line-through }
u, ins { text-decoration: underline }
hr { border: 1px inset #a0a0a0; margin: 0.5em 0 }

ol, ul, dir, menu { padding-left: 40px }
dd { margin-left: 40px }
ul, dir, menu { list-style-type: disc }
ol { list-style-type: decimal }
ul ul, ol ul { list-style-type: circle }
ul ul ul, ol ul ul, ul ol ul, ol ol ul { list-style-type: square }
ol ul, ul ol, ul ul, ol ol { margin-top: 0; margin-bottom: 0 }

center { text-align: center }
a[href] { color: #0000ee; text-decoration: underline; cursor: pointer }
mark { background-color: yellow; color: black }
)css";
}

}  // namespace detail
