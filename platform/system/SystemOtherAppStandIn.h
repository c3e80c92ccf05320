#pragma once
// The plumbing shared by the stand-ins of other apps that tests drive (the social apps): installing
// one as a fake app whose URLs reach it on the main thread, the journal of what it received with
// the queue of scripted answers, its transfer pasteboard, and opening URLs in our app from it.

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "system/SystemOtherApps.h"
#include "system/UIPasteboard.h"

namespace otherapps {

// Installs (or replaces) the fake app `bundleIdentifier` claiming `schemes`; a URL opened in it
// reaches the stand-in's `receive` on the main thread for as long as the stand-in lives.
template <class StandIn>
void installStandIn(const Ref<StandIn>& standIn, const std::string& bundleIdentifier,
                    const std::vector<std::string>& schemes,
                    void (StandIn::*receive)(const Ref<NSURL>&, const std::string&)) {
    Weak<StandIn> weak = standIn;
    SystemOtherApps::installApp(bundleIdentifier, schemes,
                                [weak, receive](const Ref<NSURL>& url, const std::string& source) {
                                    if (auto self = weak.lock()) ((*self).*receive)(url, source);
                                });
}

// The fake app opens a URL (in our app, as a rule); an unparsable one is dropped.
inline void openURLFromStandIn(const std::string& bundleIdentifier, const std::string& url) {
    if (auto u = NSURL::URLWithString(url)) SystemOtherApps::openURLFromApp(bundleIdentifier, u);
}

// The named pasteboard the app and the fake app hand their transfers over, made persistent.
inline Ref<UIPasteboard> transferPasteboard(const std::string& name) {
    auto board = UIPasteboard::pasteboardWithName(name, true);
    if (board && !board->isPersistent()) board->setPersistent(true);
    return board;
}

// What a stand-in received, in order, and the answers scripted for what comes next. Thread-safe.
template <class Received, class Answer>
class Journal {
  public:
    std::vector<Received> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::size_t receivedCount() const {
        std::lock_guard lock(mutex_);
        return received_.size();
    }
    void script(Answer answer) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(answer));
    }
    // Keeps what arrived and takes the next scripted answer (a default one when none is left).
    Answer record(Received got) {
        std::lock_guard lock(mutex_);
        received_.push_back(std::move(got));
        if (script_.empty()) return Answer{};
        Answer next = std::move(script_.front());
        script_.pop_front();
        return next;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::deque<Answer> script_;
};

}  // namespace otherapps
