// The main operation queue: its operations run on the main thread, handed to the main dispatch
// queue one at a time.

#include "dispatch/Dispatch.h"
#include "foundation/NSOperationQueue.h"

namespace {

class MainThreadExecutor final : public detail::OperationExecutor {
  public:
    void execute(std::function<void()> job) override {
        dispatch_async(dispatch_get_main_queue(), std::move(job));
    }
    long fixedWidth() const override { return 1; }
};

}  // namespace

Ref<NSOperationQueue> NSOperationQueue::mainQueue() {
    // Made once and never destroyed: work may reach it while the process ends.
    static Ref<NSOperationQueue>* queue = [] {
        auto made = new Ref<NSOperationQueue>(make<NSOperationQueue>(std::make_shared<MainThreadExecutor>()));
        (*made)->setName("NSOperationQueue Main Queue");
        return made;
    }();
    return *queue;
}
