#include "images/WIWebImageDownloaderOperation.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSRunLoop.h"
#include "graphics/CGContext.h"
#include "graphics/CGImageSource.h"
#include "images/UIImage+ForceDecode.h"
#include "images/UIImage+MultiFormat.h"
#include "images/WIImageWithScaleFromKey.h"
#include "images/WIWebImageManager.h"
#include "network/NSURLCache.h"

namespace {
constexpr char kIsExecuting[] = "isExecuting";
constexpr char kIsFinished[] = "isFinished";
}  // namespace

WIWebImageDownloaderOperation::WIWebImageDownloaderOperation(
    Ref<NSURLRequest> request, WIDownloadOptions options, WIWebImageDownloaderProgressBlock progressBlock,
    WIWebImageDownloaderCompletedBlock completedBlock, WIWebImageDownloaderCancelBlock cancelBlock)
    : request_(std::move(request)),
      options_(options),
      progressBlock_(std::move(progressBlock)),
      completedBlock_(std::move(completedBlock)),
      cancelBlock_(std::move(cancelBlock)) {}

WIWebImageDownloaderOperation::~WIWebImageDownloaderOperation() = default;

Ref<NSURLCredential> WIWebImageDownloaderOperation::credential() const {
    Synchronized guard(*this);
    return credential_;
}

void WIWebImageDownloaderOperation::setCredential(const Ref<NSURLCredential>& credential) {
    Synchronized guard(*this);
    credential_ = credential;
}

UIImageOrientation WIWebImageDownloaderOperation::orientationFromPropertyValue(long value) {
    return UIImageOrientationFromEXIF(value);
}

Ref<UIImage> WIWebImageDownloaderOperation::scaledImageForKey(const std::optional<std::string>& key,
                                                              const Ref<UIImage>& image) const {
    return WIImageWithScaleFromKey(key, image);
}

// ---- state ----------------------------------------------------------------------------------------

void WIWebImageDownloaderOperation::setExecutingState(bool executing) {
    if (executing_.load() == executing) return;
    KVO::willChangeValueForKey(*this, kIsExecuting);
    executing_.store(executing);
    KVO::didChangeValueForKey(*this, kIsExecuting);
}

void WIWebImageDownloaderOperation::setFinishedState(bool finished) {
    if (finished_.load() == finished) return;
    KVO::willChangeValueForKey(*this, kIsFinished);
    finished_.store(finished);
    KVO::didChangeValueForKey(*this, kIsFinished);
}

void WIWebImageDownloaderOperation::done() {
    setFinishedState(true);
    setExecutingState(false);
    reset();
}

void WIWebImageDownloaderOperation::reset() {
    Synchronized guard(*this);
    cancelBlock_ = nullptr;
    completedBlock_ = nullptr;
    progressBlock_ = nullptr;
    connection_ = nullptr;
    imageData_ = NSData();
    thread_ = nullptr;
}

void WIWebImageDownloaderOperation::postNotification(const char* name, bool withObject) {
    Ref<NSObject> object = withObject ? self() : nullptr;
    std::string notification = name;
    dispatch_async(dispatch_get_main_queue(), [notification, object] {
        NSNotificationCenter::defaultCenter()->postNotificationName(notification, object);
    });
}

void WIWebImageDownloaderOperation::endBackgroundTask() {
    UIBackgroundTaskIdentifier task = backgroundTaskId_.exchange(UIBackgroundTaskInvalid);
    if (task != UIBackgroundTaskInvalid) UIApplication::sharedApplication()->endBackgroundTask(task);
}

// ---- running ------------------------------------------------------------------------------------

void WIWebImageDownloaderOperation::start() {
    Ref<NSURLConnection> connection;
    WIWebImageDownloaderProgressBlock progress;
    {
        Synchronized guard(*this);
        if (isCancelled()) {
            setFinishedState(true);
            reset();
            return;
        }
        if (shouldContinueWhenAppEntersBackground()) {
            Weak<WIWebImageDownloaderOperation> weak = me();
            backgroundTaskId_.store(
                UIApplication::sharedApplication()->beginBackgroundTaskWithExpirationHandler([weak] {
                    if (auto operation = weak.lock()) {
                        operation->cancel();
                        operation->endBackgroundTask();
                    }
                }));
        }
        setExecutingState(true);
        auto delegate = std::static_pointer_cast<NSURLConnectionDelegate>(me());
        connection_ = make<NSURLConnection>(request_, delegate, false);
        thread_ = NSThread::currentThread();
        connection = connection_;
        progress = progressBlock_;
    }

    auto runLoop = NSRunLoop::currentRunLoop();
    if (connection) {
        connection->scheduleInRunLoop(runLoop, NSDefaultRunLoopMode);
        connection->start();
        if (progress) progress(0, -1);
        postNotification(WIWebImageDownloadStartNotification, true);
        // The connection's callbacks arrive as performs on this thread's run loop; a port keeps
        // the loop waiting between them until the finish, failure or cancel stops it.
        auto port = NSPort::port();
        runLoop->addPort(port, NSDefaultRunLoopMode);
        runningLoop_ = true;
        runLoop->run();
        runningLoop_ = false;
        runLoop->removePort(port, NSDefaultRunLoopMode);
        if (!isFinished()) {
            connection->cancel();
            Dictionary info = Dictionary::mutableDictionary();
            if (request_->URL()) info.setObject(NSURLErrorFailingURLErrorKey, Value(request_->URL()));
            connectionDidFailWithError(connection,
                                       NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorTimedOut, info));
        }
    } else {
        WIWebImageDownloaderCompletedBlock completed;
        {
            Synchronized guard(*this);
            completed = completedBlock_;
        }
        if (completed) {
            completed(nullptr, std::nullopt,
                      NSError::errorWithDomain(
                          NSURLErrorDomain, 0,
                          Dictionary{{NSLocalizedDescriptionKey, "Connection can't be initialized"}}),
                      true);
        }
        done();
    }
    endBackgroundTask();
}

void WIWebImageDownloaderOperation::cancel() {
    Synchronized guard(*this);
    if (thread_) {
        auto self = me();
        performSelectorOnThread(self, thread_, [self] { self->cancelInternalAndStop(); }, false,
                                {NSDefaultRunLoopMode});
    } else {
        cancelInternal();
    }
}

void WIWebImageDownloaderOperation::cancelInternalAndStop() {
    if (isFinished() || !runningLoop_) return;
    cancelInternal();
    NSRunLoop::currentRunLoop()->stop();
}

void WIWebImageDownloaderOperation::cancelInternal() {
    WIWebImageDownloaderCancelBlock cancelBlock;
    Ref<NSURLConnection> connection;
    {
        Synchronized guard(*this);
        if (isFinished() || finishing_.load()) return;
        NSOperation::cancel();
        cancelBlock = cancelBlock_;
        connection = connection_;
    }
    if (cancelBlock) cancelBlock();
    if (connection) {
        connection->cancel();
        postNotification(WIWebImageDownloadStopNotification, true);
        setExecutingState(false);
        setFinishedState(true);
    }
    reset();
}

// ---- connection callbacks -------------------------------------------------------------------------

void WIWebImageDownloaderOperation::connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                                                 const Ref<NSURLResponse>& response) {
    auto http = asKind<NSHTTPURLResponse>(response);
    if (http && http->statusCode() > 399) {
        connection->cancel();
        postNotification(WIWebImageDownloadStopNotification, false);
        WIWebImageDownloaderCompletedBlock completed;
        {
            Synchronized guard(*this);
            finishing_.store(true);
            completed = completedBlock_;
        }
        if (completed) {
            completed(nullptr, std::nullopt, NSError::errorWithDomain(NSURLErrorDomain, http->statusCode()),
                      true);
        }
        NSRunLoop::currentRunLoop()->stop();
        done();
        return;
    }
    long long expected = response ? response->expectedContentLength() : 0;
    expectedSize_ = expected > 0 ? expected : 0;
    WIWebImageDownloaderProgressBlock progress;
    {
        Synchronized guard(*this);
        progress = progressBlock_;
    }
    if (progress) progress(0, expectedSize_);
    imageData_ = NSData();
    imageData_.reserve(static_cast<std::size_t>(expectedSize_));
}

void WIWebImageDownloaderOperation::connectionDidReceiveData(const Ref<NSURLConnection>& connection,
                                                             const NSData& data) {
    imageData_.appendData(data);
    progressiveStep();
    WIWebImageDownloaderProgressBlock progress;
    {
        Synchronized guard(*this);
        progress = progressBlock_;
    }
    if (progress) progress(static_cast<std::int64_t>(imageData_.length()), expectedSize_);
}

void WIWebImageDownloaderOperation::progressiveStep() {
    if (!(options_ & WIDownloadProgressive) || expectedSize_ <= 0) return;
    WIWebImageDownloaderCompletedBlock completed;
    {
        Synchronized guard(*this);
        completed = completedBlock_;
    }
    if (!completed) return;

    std::int64_t total = static_cast<std::int64_t>(imageData_.length());
    auto source = CGImageSourceCreateIncremental();
    CGImageSourceUpdateData(source, imageData_, total == expectedSize_);

    if (width_ + height_ == 0) {
        auto properties = CGImageSourceCopyPropertiesAtIndex(source, 0);
        if (properties) {
            height_ = static_cast<std::uint64_t>(
                std::max(0LL, properties->objectForKey(kCGImagePropertyPixelHeight).longLongValue()));
            width_ = static_cast<std::uint64_t>(
                std::max(0LL, properties->objectForKey(kCGImagePropertyPixelWidth).longLongValue()));
            const Value& exif = properties->objectForKey(kCGImagePropertyOrientation);
            orientation_ = orientationFromPropertyValue(exif.isNumber() ? exif.integerValue() : 1);
        }
    }

    if (width_ + height_ > 0 && total < expectedSize_) {
        CGImageRef partial = CGImageSourceCreateImageAtIndex(source, 0);
        if (partial) {
            std::size_t partialHeight = CGImageGetHeight(partial);
            CGContextRef context =
                CGBitmapContextCreate(nullptr, width_, height_, 8, width_ * 4, CGColorSpaceCreateDeviceRGB(),
                                      kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst);
            if (context) {
                CGContextDrawImage(context, CGRectMake(0, 0, width_, partialHeight), partial);
                partial = CGBitmapContextCreateImage(context);
            } else {
                partial = nullptr;
            }
        }
        if (partial) {
            auto image = UIImage::imageWithCGImage(partial, 1, orientation_);
            auto key = WIWebImageManager::sharedManager()->cacheKeyForURL(request_->URL());
            image = UIImage_ForceDecode::decodedImageWithImage(scaledImageForKey(key, image));
            detail::wiRunOnMainThreadSync([&] { completed(image, std::nullopt, nullptr, false); });
        }
    }
}

void WIWebImageDownloaderOperation::connectionDidFinishLoading(const Ref<NSURLConnection>& connection) {
    WIWebImageDownloaderCompletedBlock completed;
    {
        Synchronized guard(*this);
        completed = completedBlock_;
        finishing_.store(true);
        NSRunLoop::currentRunLoop()->stop();
        thread_ = nullptr;
        connection_ = nullptr;
    }
    postNotification(WIWebImageDownloadStopNotification, false);

    // Only asked when no fresh reply was offered for caching: then the bytes came from the URL
    // cache exactly when it holds the request.
    if (responseFromCached_.load() && !NSURLCache::sharedURLCache()->cachedResponseForRequest(request_)) {
        responseFromCached_.store(false);
    }

    if (completed) {
        if ((options_ & WIDownloadIgnoreCachedResponse) && responseFromCached_.load()) {
            completed(nullptr, std::nullopt, nullptr, true);
        } else {
            NSData data = imageData_;
            auto image = UIImage_MultiFormat::wi_imageWithData(data);
            auto key = WIWebImageManager::sharedManager()->cacheKeyForURL(request_->URL());
            image = scaledImageForKey(key, image);
            if (image && image->images().empty()) image = UIImage_ForceDecode::decodedImageWithImage(image);
            if (image && image->size().width * image->size().height != 0) {
                completed(image, data, nullptr, true);
            } else {
                completed(nullptr, std::nullopt,
                          NSError::errorWithDomain(
                              WIWebImageErrorDomain, 0,
                              Dictionary{{NSLocalizedDescriptionKey, "Downloaded image has 0 pixels"}}),
                          true);
            }
        }
    }
    setCompletionBlock(nullptr);
    done();
}

void WIWebImageDownloaderOperation::connectionDidFailWithError(const Ref<NSURLConnection>& connection,
                                                               const Ref<NSError>& error) {
    WIWebImageDownloaderCompletedBlock completed;
    {
        Synchronized guard(*this);
        finishing_.store(true);
        completed = completedBlock_;
    }
    // A stop left behind after the run ended would end the next run on this queue thread.
    if (runningLoop_) NSRunLoop::currentRunLoop()->stop();
    postNotification(WIWebImageDownloadStopNotification, false);
    if (completed) completed(nullptr, std::nullopt, error, true);
    done();
}

std::optional<Ref<NSCachedURLResponse>>
WIWebImageDownloaderOperation::connectionWillCacheResponse(const Ref<NSURLConnection>& connection,
                                                           const Ref<NSCachedURLResponse>& cachedResponse) {
    responseFromCached_.store(false);
    if (request_->cachePolicy() == NSURLRequestReloadIgnoringLocalCacheData) {
        return Ref<NSCachedURLResponse>();
    }
    return std::nullopt;
}

void WIWebImageDownloaderOperation::connectionWillSendRequestForAuthenticationChallenge(
    const Ref<NSURLConnection>& connection, const Ref<NSURLAuthenticationChallenge>& challenge) {
    auto sender = challenge->sender();
    if (!sender) return;
    if (challenge->protectionSpace()->authenticationMethod() == NSURLAuthenticationMethodServerTrust) {
        // The platform's own evaluation decides; a chain it refuses fails the download.
        sender->performDefaultHandlingForAuthenticationChallenge(challenge);
        return;
    }
    auto credential = this->credential();
    if (challenge->previousFailureCount() == 0 && credential) {
        sender->useCredential(credential, challenge);
    } else {
        sender->continueWithoutCredentialForAuthenticationChallenge(challenge);
    }
}
