#include "net/UIProgressView+HKNetworking.h"

#include <memory>

#include "dispatch/Dispatch.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"

namespace UIProgressView_HKNetworking {

namespace {

const char kUploadAnimatedKey = 0;
const char kDownloadAnimatedKey = 0;
const char kObserverKey = 0;
// The operation's progress blocks set through these bindings, to chain the next one after.
const char kUploadChainKey = 0;
const char kDownloadChainKey = 0;
char uploadContext = 0;
char downloadContext = 0;

// Observes tasks on the view's behalf (a view is no key-value observer); lives as long as the
// view and holds it weakly.
class TaskProgressObserver : public NSObject, public NSKeyValueObserving {
  public:
    explicit TaskProgressObserver(Weak<UIProgressView> view) : view_(std::move(view)) {}
    std::string className() const override { return "HKTaskProgressObserver"; }

    void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object, const Dictionary&,
                                void* context) override {
        if (context != &uploadContext && context != &downloadContext) return;
        auto task = asKind<NSURLSessionTask>(object);
        if (!task) return;
        if (keyPath == "countOfBytesSent" || keyPath == "countOfBytesReceived") {
            bool upload = keyPath == "countOfBytesSent";
            std::int64_t expected =
                upload ? task->countOfBytesExpectedToSend() : task->countOfBytesExpectedToReceive();
            if (expected < 1) return;
            std::int64_t done = upload ? task->countOfBytesSent() : task->countOfBytesReceived();
            float progress = static_cast<float>(done) / static_cast<float>(expected);
            Weak<UIProgressView> weak = view_;
            dispatch_async(dispatch_get_main_queue(), [weak, progress, upload] {
                auto view = weak.lock();
                if (!view) return;
                view->setProgress(progress, upload ? hk_uploadProgressAnimated(view)
                                                   : hk_downloadProgressAnimated(view));
            });
        } else if (keyPath == "state" && task->state() == NSURLSessionTaskStateCompleted) {
            KVO::removeObserver(*task, this, "state", context);
            KVO::removeObserver(*task, this,
                                context == &uploadContext ? "countOfBytesSent" : "countOfBytesReceived",
                                context);
        }
    }

  private:
    Weak<UIProgressView> view_;
};

// A std::function boxed for the associated-object store.
template <class Block>
class BlockBox : public NSObject {
  public:
    explicit BlockBox(Block block) : block(std::move(block)) {}
    Block block;
};

Ref<TaskProgressObserver> observerFor(const Ref<UIProgressView>& view) {
    auto observer = view->associatedObject(&kObserverKey).objectAs<TaskProgressObserver>();
    if (!observer) {
        observer = make<TaskProgressObserver>(view);
        view->setAssociatedObject(&kObserverKey, Value(observer));
    }
    return observer;
}

void observeTask(const Ref<UIProgressView>& view, const Ref<NSURLSessionTask>& task, bool animated,
                 bool upload) {
    if (!view || !task) return;
    auto observer = observerFor(view);
    void* context = upload ? &uploadContext : &downloadContext;
    KVO::addObserver(*task, observer, "state", 0, context);
    KVO::addObserver(*task, observer, upload ? "countOfBytesSent" : "countOfBytesReceived", 0, context);
    view->setAssociatedObject(upload ? &kUploadAnimatedKey : &kDownloadAnimatedKey, Value(animated));
}

void setFromBlock(const Weak<UIProgressView>& weak, std::int64_t total, std::int64_t expected,
                  bool animated) {
    if (expected < 1) return;
    float progress = static_cast<float>(total) / static_cast<float>(expected);
    dispatch_async(dispatch_get_main_queue(), [weak, progress, animated] {
        if (auto view = weak.lock()) view->setProgress(progress, animated);
    });
}

}  // namespace

bool hk_uploadProgressAnimated(const Ref<UIProgressView>& view) {
    return view && view->associatedObject(&kUploadAnimatedKey).boolValue();
}

bool hk_downloadProgressAnimated(const Ref<UIProgressView>& view) {
    return view && view->associatedObject(&kDownloadAnimatedKey).boolValue();
}

void setProgressWithUploadProgressOfTask(const Ref<UIProgressView>& view, const Ref<NSURLSessionTask>& task,
                                         bool animated) {
    NS_ASSERT_MAIN_THREAD();
    observeTask(view, task, animated, true);
}

void setProgressWithDownloadProgressOfTask(const Ref<UIProgressView>& view, const Ref<NSURLSessionTask>& task,
                                           bool animated) {
    NS_ASSERT_MAIN_THREAD();
    observeTask(view, task, animated, false);
}

void setProgressWithUploadProgressOfOperation(const Ref<UIProgressView>& view,
                                              const Ref<HKURLConnectionOperation>& operation, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!view || !operation) return;
    using Block = HKURLConnectionOperation::UploadProgressBlock;
    auto previous = operation->associatedObject(&kUploadChainKey).objectAs<BlockBox<Block>>();
    Block before = previous ? previous->block : nullptr;
    Weak<UIProgressView> weak = view;
    Block block = [before, weak, animated](std::int64_t bytes, std::int64_t total, std::int64_t expected) {
        if (before) before(bytes, total, expected);
        setFromBlock(weak, total, expected, animated);
    };
    operation->setAssociatedObject(&kUploadChainKey, Value(make<BlockBox<Block>>(block)));
    operation->setUploadProgressBlock(block);
}

void setProgressWithDownloadProgressOfOperation(const Ref<UIProgressView>& view,
                                                const Ref<HKURLConnectionOperation>& operation,
                                                bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!view || !operation) return;
    using Block = HKURLConnectionOperation::DownloadProgressBlock;
    auto previous = operation->associatedObject(&kDownloadChainKey).objectAs<BlockBox<Block>>();
    Block before = previous ? previous->block : nullptr;
    Weak<UIProgressView> weak = view;
    Block block = [before, weak, animated](std::uint64_t bytes, std::int64_t total, std::int64_t expected) {
        if (before) before(bytes, total, expected);
        setFromBlock(weak, total, expected, animated);
    };
    operation->setAssociatedObject(&kDownloadChainKey, Value(make<BlockBox<Block>>(block)));
    operation->setDownloadProgressBlock(block);
}

}  // namespace UIProgressView_HKNetworking
