#pragma once
// Shared set-up for the readers built on libxml2 (property lists, the XML parser).

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <mutex>

namespace detail {

inline void initXML() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// The backing library reports some problems (encoding conversions) through its per-thread
// generic handler, which prints; they surface as parse errors, so the printing is muted for the
// duration of a parse.
class QuietXMLErrors {
  public:
    QuietXMLErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, &ignore);
    }
    ~QuietXMLErrors() { xmlSetGenericErrorFunc(context_, handler_); }
    QuietXMLErrors(const QuietXMLErrors&) = delete;
    QuietXMLErrors& operator=(const QuietXMLErrors&) = delete;

  private:
    static void ignore(void*, const char*, ...) {}
    xmlGenericErrorFunc handler_;
    void* context_;
};

}  // namespace detail
