#pragma once
// Turns the bytes of a page or a stylesheet into UTF-8 text the way a browser picks their
// encoding. Private to the web view.
//
// A page: a byte-order mark first (UTF-8, UTF-16LE or UTF-16BE; the mark is not part of the
// text), then the charset the transport gave, then a <meta> declaration in the first 1,024 bytes
// (<meta charset> or an http-equiv content-type with a charset, attributes in any order, comments
// skipped; a UTF-16 label there means UTF-8, since the bytes that declare it were not UTF-16),
// then UTF-8. A stylesheet: a byte-order mark, the transport's charset, an `@charset "...";` at
// its very start (UTF-16 meaning UTF-8 again), the encoding of the page that refers to it, UTF-8.
//
// Labels are matched ignoring ASCII case and surrounding white space; a label not known or not
// supported is ignored and the next source decides. Bytes that do not decode become U+FFFD. The
// work is linear in the input; nothing throws. Any thread.

#include <optional>
#include <string>
#include <string_view>

namespace detail {

// The name of the encoding a label stands for ("gbk", "windows-1252", "utf-16le", ...), nullopt
// for a label not known or not supported.
std::optional<std::string> encodingForLabel(std::string_view label);

// A page's text. `encodingUsed` receives the name of the encoding that decoded it.
std::string decodeHTMLBytes(std::string_view bytes, const std::optional<std::string>& transportCharset,
                            std::string* encodingUsed = nullptr);

// Text that declares nothing inside itself (a plain-text document): byte-order mark, transport's
// charset, UTF-8.
std::string decodeTextBytes(std::string_view bytes, const std::optional<std::string>& transportCharset,
                            std::string* encodingUsed = nullptr);

// A stylesheet's text; `documentEncoding` is the encoding (or label) of the page that refers to it.
std::string decodeStyleSheetBytes(std::string_view bytes, const std::optional<std::string>& transportCharset,
                                  const std::optional<std::string>& documentEncoding);

}  // namespace detail
