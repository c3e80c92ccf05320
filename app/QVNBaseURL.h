#pragma once
// QVNBaseURL: the second server root as one string ending in "/", for the few requests that build
// absolute URLs by formatting ("%@question/commentlike.do", "%@search/search.do"). The root is a
// deployment setting (QVNConfiguration, QVN_SECOND_ROOT). Thread-safe.

#include <string>

class QVNBaseURL {
  public:
    // "http://HOST2:8080/trasselin/" in production.
    static std::string sharedURL();
};
