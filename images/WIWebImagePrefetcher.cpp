#include "images/WIWebImagePrefetcher.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSDate.h"
#include "foundation/NSMainThreadCheck.h"

WIWebImagePrefetcher::WIWebImagePrefetcher() : WIWebImagePrefetcher(make<WIWebImageManager>()) {}

WIWebImagePrefetcher::WIWebImagePrefetcher(Ref<WIWebImageManager> manager) : manager_(std::move(manager)) {
    setMaxConcurrentDownloads(3);
}

Ref<WIWebImagePrefetcher> WIWebImagePrefetcher::sharedImagePrefetcher() {
    static Ref<WIWebImagePrefetcher> instance = make<WIWebImagePrefetcher>();
    return instance;
}

long WIWebImagePrefetcher::maxConcurrentDownloads() const {
    return manager_->imageDownloader()->maxConcurrentDownloads();
}

void WIWebImagePrefetcher::setMaxConcurrentDownloads(long count) {
    NS_ASSERT_MAIN_THREAD();
    manager_->imageDownloader()->setMaxConcurrentDownloads(count);
}

void WIWebImagePrefetcher::cancelPrefetching() {
    NS_ASSERT_MAIN_THREAD();
    prefetchURLs_.clear();
    skippedCount_ = 0;
    requestedCount_ = 0;
    finishedCount_ = 0;
    ++batch_;
    manager_->cancelAll();
}

void WIWebImagePrefetcher::prefetchURLs(const std::vector<Ref<NSURL>>& urls,
                                        WIWebImagePrefetcherProgressBlock progress,
                                        WIWebImagePrefetcherCompletionBlock completion) {
    NS_ASSERT_MAIN_THREAD();
    cancelPrefetching();
    startedTime_ = CFAbsoluteTimeGetCurrent();
    prefetchURLs_ = urls;
    completionBlock_ = std::move(completion);
    progressBlock_ = std::move(progress);
    if (prefetchURLs_.empty()) {
        // Nothing to wait for: the batch is done at once.
        reportStatus();
        auto completionBlock = std::move(completionBlock_);
        completionBlock_ = nullptr;
        if (completionBlock) completionBlock(0, 0);
        return;
    }
    long width = maxConcurrentDownloads();
    if (width < 1) width = 1;
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) && requestedCount_ < prefetchURLs_.size();
         ++i) {
        startPrefetchingAtIndex(i);
    }
}

void WIWebImagePrefetcher::startPrefetchingAtIndex(std::size_t index) {
    NS_ASSERT_MAIN_THREAD();
    if (index >= prefetchURLs_.size()) return;
    ++requestedCount_;
    auto self = selfAs<WIWebImagePrefetcher>();
    std::uint64_t batch = batch_;
    manager_->downloadImageWithURL(prefetchURLs_[index], options_, nullptr,
                                   [self, index, batch](const Ref<UIImage>& image, const Ref<NSError>&,
                                                        WICacheSource, bool finished, const Ref<NSURL>&) {
                                       if (!finished || batch != self->batch_) return;
                                       ++self->finishedCount_;
                                       std::uint64_t total = self->prefetchURLs_.size();
                                       if (self->progressBlock_)
                                           self->progressBlock_(self->finishedCount_, total);
                                       if (!image) ++self->skippedCount_;
                                       auto delegate = self->delegate_.lock();
                                       if (delegate && delegate->implementsDidPrefetchURL()) {
                                           delegate->imagePrefetcherDidPrefetchURL(
                                               self, self->prefetchURLs_[index], self->finishedCount_, total);
                                       }
                                       if (total > self->requestedCount_) {
                                           dispatch_async(dispatch_get_main_queue(), [self, batch] {
                                               if (batch == self->batch_)
                                                   self->startPrefetchingAtIndex(self->requestedCount_);
                                           });
                                       } else if (self->finishedCount_ == self->requestedCount_) {
                                           self->reportStatus();
                                           auto completion = std::move(self->completionBlock_);
                                           self->completionBlock_ = nullptr;
                                           if (completion)
                                               completion(self->finishedCount_, self->skippedCount_);
                                       }
                                   });
}

void WIWebImagePrefetcher::reportStatus() {
    NS_ASSERT_MAIN_THREAD();
    auto delegate = delegate_.lock();
    if (delegate && delegate->implementsDidFinish()) {
        std::uint64_t total = prefetchURLs_.size();
        delegate->imagePrefetcherDidFinishWithTotalCount(selfAs<WIWebImagePrefetcher>(),
                                                         total - skippedCount_, skippedCount_);
    }
}
