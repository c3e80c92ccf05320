#pragma once
// What a movie under test hands on: its frames, taken as a filter takes them, and its ends.

#include <atomic>

#include "gpu/media/GPXMovie.h"
#include "tests/gpu/core/GPUTestSupport.h"

namespace gputest {

// Counts the ends the movie reports; `done` is signalled at each.
class CompletionRecorder : public NSObject, public GPXMovieDelegate {
  public:
    std::atomic<int> completions{0};
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    void didCompletePlayingMovie() override {
        ++completions;
        dispatch_semaphore_signal(done);
    }
    bool implementsDidCompletePlayingMovie() const override { return true; }
};

struct MovieListeners {
    Ref<RecordingInput> target;
    Ref<CompletionRecorder> delegate;
};

// Adds a target that holds each framebuffer until its frame is drawn, as a filter does, and
// becomes the movie's delegate.
inline MovieListeners listenTo(const Ref<GPXMovie>& movie) {
    MovieListeners listeners{make<RecordingInput>(), make<CompletionRecorder>()};
    listeners.target->lockInputs_ = true;
    listeners.target->unlockOnFrame_ = true;
    movie->addTarget(listeners.target);
    movie->setDelegate(listeners.delegate);
    return listeners;
}

}  // namespace gputest
