#include "media/AVAssetWriter.h"

#include <algorithm>
#include <filesystem>

#include "foundation/NSFileManager.h"

namespace {

std::string containerForFileType(const std::string& fileType) {
    if (fileType == AVFileTypeQuickTimeMovie) return "mov";
    if (fileType == AVFileTypeMPEG4) return "mp4";
    return "";
}

long integerSetting(const Dictionary& settings, const char* key, long fallback) {
    const Value& v = settings[key];
    return v.isNumber() ? v.integerValue() : fallback;
}

struct AudioFormat {
    int sampleRate = 44100;
    int channels = 1;
    int bitRate = 64000;
};

AudioFormat audioFormat(const Value& settings) {
    AudioFormat format;
    if (const Dictionary* d = settings.dictionary()) {
        format.sampleRate =
            static_cast<int>((*d)[AVSampleRateKey].isNumber() ? (*d)[AVSampleRateKey].doubleValue() : 44100);
        format.channels = static_cast<int>(integerSetting(*d, AVNumberOfChannelsKey, 1));
        format.bitRate = static_cast<int>(integerSetting(*d, AVEncoderBitRateKey, 64000));
    }
    return format;
}

}  // namespace

namespace detail {

bool videoSettingsUsable(const Dictionary& settings, std::string* reason) {
    const Value& codec = settings[AVVideoCodecKey];
    if (!codec.isString() || *codec.string() != AVVideoCodecH264) {
        if (reason) *reason = "the video codec must be H.264";
        return false;
    }
    const long width = integerSetting(settings, AVVideoWidthKey, 0),
               height = integerSetting(settings, AVVideoHeightKey, 0);
    if (width <= 0 || height <= 0 || width > kMaximumFrameSide || height > kMaximumFrameSide) {
        if (reason)
            *reason = "the video needs a width and height from 1 to " + std::to_string(kMaximumFrameSide);
        return false;
    }
    return true;
}

bool audioSettingsUsable(const Value& settings, std::string* reason) {
    if (settings.isNil()) return true;
    const Dictionary* d = settings.dictionary();
    if (!d) {
        if (reason) *reason = "audio settings must be a dictionary";
        return false;
    }
    const Value& format = (*d)[AVFormatIDKey];
    if (!format.isNumber() || format.unsignedLongLongValue() != kAudioFormatMPEG4AAC) {
        if (reason) *reason = "the audio format must be MPEG-4 AAC";
        return false;
    }
    const AudioFormat f = audioFormat(settings);
    if (f.channels < 1 || f.channels > 2 || f.sampleRate < 8000 || f.sampleRate > 96000) {
        if (reason) *reason = "AAC needs one or two channels at 8,000 to 96,000 Hz";
        return false;
    }
    return true;
}

}  // namespace detail

// ---- input -------------------------------------------------------------------------------------

AVAssetWriterInput::AVAssetWriterInput(std::string mediaType, Value outputSettings)
    : mediaType_(std::move(mediaType)), outputSettings_(std::move(outputSettings)) {}

CGAffineTransform AVAssetWriterInput::transform() const {
    std::lock_guard lock(mutex_);
    return transform_;
}

void AVAssetWriterInput::setTransform(CGAffineTransform transform) {
    std::lock_guard lock(mutex_);
    transform_ = transform;
}

Ref<AVAssetWriter> AVAssetWriterInput::writer() const {
    std::lock_guard lock(mutex_);
    return writer_.lock();
}

bool AVAssetWriterInput::isReadyForMoreMediaData() const {
    auto w = writer();
    return w && w->status() == AVAssetWriterStatusWriting && !finished_.load();
}

void AVAssetWriterInput::markAsFinished() {
    finished_.store(true);
}

namespace {

// One turn per dispatch, so that other work on the queue (and markAsFinished) gets in between.
void requestTurn(Weak<AVAssetWriterInput> weak, dispatch_queue_t queue, std::function<void()> block) {
    dispatch_async(queue, [weak, queue, block] {
        auto input = weak.lock();
        if (!input || !input->isReadyForMoreMediaData()) return;
        block();
        if (!input->isFinished()) requestTurn(weak, queue, block);
    });
}

}  // namespace

void AVAssetWriterInput::requestMediaDataWhenReadyOnQueue(const dispatch_queue_t& queue,
                                                          std::function<void()> block) {
    if (!block) return;
    requestTurn(std::static_pointer_cast<AVAssetWriterInput>(self()), queue, std::move(block));
}

bool AVAssetWriterInput::appendSampleBuffer(const CMSampleBufferRef& sampleBuffer) {
    auto w = writer();
    if (!w || !sampleBuffer || finished_.load()) return false;
    if (sampleBuffer->isAudio()) return w->appendAudio(sampleBuffer);
    if (!sampleBuffer->imageBuffer()) return false;
    return w->appendVideo(sampleBuffer->imageBuffer(), sampleBuffer->presentationTimeStamp());
}

// ---- adaptor -----------------------------------------------------------------------------------

AVAssetWriterInputPixelBufferAdaptor::AVAssetWriterInputPixelBufferAdaptor(Ref<AVAssetWriterInput> input,
                                                                           Dictionary attributes)
    : input_(std::move(input)), attributes_(std::move(attributes)) {
    const long width = integerSetting(attributes_, kCVPixelBufferWidthKey, 0);
    const long height = integerSetting(attributes_, kCVPixelBufferHeightKey, 0);
    if (width > 0 && height > 0)
        pool_ = make<CVPixelBufferPool>(static_cast<std::size_t>(width), static_cast<std::size_t>(height),
                                        kCVPixelFormatType_32BGRA);
}

CVPixelBufferPoolRef AVAssetWriterInputPixelBufferAdaptor::pixelBufferPool() const {
    auto w = input_ ? input_->writer() : nullptr;
    return w && w->status() == AVAssetWriterStatusWriting ? pool_ : nullptr;
}

bool AVAssetWriterInputPixelBufferAdaptor::appendPixelBuffer(const CVPixelBufferRef& pixelBuffer,
                                                             CMTime presentationTime) {
    if (!input_ || input_->isFinished()) return false;
    auto w = input_->writer();
    return w && w->appendVideo(pixelBuffer, presentationTime);
}

// ---- writer ------------------------------------------------------------------------------------

AVAssetWriter::AVAssetWriter(Ref<NSURL> outputURL, std::string fileType, Ref<NSError>* error)
    : url_(std::move(outputURL)), fileType_(std::move(fileType)) {
    std::string reason;
    long code = AVErrorUnknown;
    if (!url_ || !url_->isFileURL()) {
        reason = "the output must be a file URL";
    } else if (containerForFileType(fileType_).empty()) {
        reason = "unsupported file type " + fileType_;
    } else {
        std::error_code ignored;
        if (std::filesystem::exists(url_->path(), ignored)) {
            reason = "the file already exists";
            code = AVErrorFileAlreadyExists;
        }
    }
    if (!reason.empty()) {
        error_ = detail::avError(code, reason);
        status_.store(AVAssetWriterStatusFailed);
    }
    if (error) *error = error_;
}

AVAssetWriter::~AVAssetWriter() {
    std::lock_guard lock(mutex_);
    // A writer that goes without finishing leaves nothing behind.
    if (encoder_ && status_.load() == AVAssetWriterStatusWriting) encoder_->abort();
}

CMTime AVAssetWriter::movieFragmentInterval() const {
    std::lock_guard lock(mutex_);
    return fragmentInterval_;
}

void AVAssetWriter::setMovieFragmentInterval(CMTime interval) {
    std::lock_guard lock(mutex_);
    fragmentInterval_ = interval;
}

std::vector<Ref<AVMetadataItem>> AVAssetWriter::metadata() const {
    std::lock_guard lock(mutex_);
    return metadata_;
}

void AVAssetWriter::setMetadata(std::vector<Ref<AVMetadataItem>> items) {
    std::lock_guard lock(mutex_);
    metadata_ = std::move(items);
}

bool AVAssetWriter::canAddInput(const Ref<AVAssetWriterInput>& input) const {
    if (!input || status() != AVAssetWriterStatusUnknown) return false;
    std::lock_guard lock(mutex_);
    for (auto& existing : inputs_) {
        if (existing == input || existing->mediaType() == input->mediaType()) return false;
    }
    if (input->writer()) return false;
    if (input->mediaType() != AVMediaTypeVideo && input->mediaType() != AVMediaTypeAudio) return false;
    return settingsRefusal(*input).empty();
}

std::string AVAssetWriter::settingsRefusal(const AVAssetWriterInput& input) {
    std::string reason;
    if (input.mediaType() == AVMediaTypeVideo) {
        const Dictionary* d = input.outputSettings().dictionary();
        if (!d)
            reason = "the video settings must be a dictionary";
        else
            detail::videoSettingsUsable(*d, &reason);
    } else if (input.mediaType() == AVMediaTypeAudio) {
        detail::audioSettingsUsable(input.outputSettings(), &reason);
    }
    return reason;
}

void AVAssetWriter::addInput(const Ref<AVAssetWriterInput>& input) {
    if (!canAddInput(input)) {
        // Settings the writer cannot make a track of fail it at once, with the reason: a writer
        // that went on without the track would complete a movie that lacks it.
        const std::string reason = input ? settingsRefusal(*input) : std::string();
        std::lock_guard lock(mutex_);
        if (!reason.empty() && status_.load() == AVAssetWriterStatusUnknown) failLocked(reason);
        return;
    }
    {
        std::lock_guard inputLock(input->mutex_);
        input->writer_ = std::static_pointer_cast<AVAssetWriter>(self());
    }
    std::lock_guard lock(mutex_);
    inputs_.push_back(input);
}

std::vector<Ref<AVAssetWriterInput>> AVAssetWriter::inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
}

void AVAssetWriter::failLocked(const std::string& reason) {
    if (!error_) error_ = detail::avError(AVErrorUnknown, reason);
    if (encoder_) encoder_->abort();
    encoder_.reset();
    status_.store(AVAssetWriterStatusFailed);
}

bool AVAssetWriter::startWriting() {
    std::lock_guard lock(mutex_);
    if (status_.load() != AVAssetWriterStatusUnknown) return false;
    auto encoder = std::make_unique<detail::MovieEncoder>(url_->path(), containerForFileType(fileType_));
    std::string reason;
    for (auto& input : inputs_) {
        bool added = false;
        if (input->mediaType() == AVMediaTypeVideo) {
            const Dictionary& d = *input->outputSettings().dictionary();
            added = encoder->addVideoTrack(static_cast<int>(integerSetting(d, AVVideoWidthKey, 0)),
                                           static_cast<int>(integerSetting(d, AVVideoHeightKey, 0)), &reason);
        } else {
            const AudioFormat f = audioFormat(input->outputSettings());
            added = encoder->addAudioTrack(f.sampleRate, f.channels, f.bitRate, &reason);
        }
        if (!added) {
            failLocked(reason);
            return false;
        }
    }
    std::error_code ignored;
    if (std::filesystem::exists(url_->path(), ignored)) {
        error_ = detail::avError(AVErrorFileAlreadyExists, "the file already exists");
        status_.store(AVAssetWriterStatusFailed);
        return false;
    }
    if (!encoder->begin(&reason)) {
        encoder->abort();
        failLocked(reason);
        return false;
    }
    encoder_ = std::move(encoder);
    status_.store(AVAssetWriterStatusWriting);
    return true;
}

void AVAssetWriter::startSessionAtSourceTime(CMTime startTime) {
    std::lock_guard lock(mutex_);
    if (status_.load() != AVAssetWriterStatusWriting || CMTIME_IS_VALID(sessionStart_)) return;
    if (CMTIME_IS_NUMERIC(startTime)) sessionStart_ = startTime;
}

Ref<NSError> AVAssetWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool AVAssetWriter::appendVideo(const CVPixelBufferRef& buffer, CMTime time) {
    std::lock_guard lock(mutex_);
    if (status_.load() != AVAssetWriterStatusWriting || !encoder_) return false;
    if (!CMTIME_IS_NUMERIC(sessionStart_) || !CMTIME_IS_NUMERIC(time) ||
        CMTimeCompare(time, sessionStart_) < 0)
        return false;
    std::string reason;
    if (!encoder_->appendVideo(buffer, CMTimeSubtract(time, sessionStart_), &reason)) {
        // Refused frames (out of order, wrong format) fail the append, not the movie.
        if (reason.rfind("cannot", 0) == 0) failLocked(reason);
        return false;
    }
    return true;
}

bool AVAssetWriter::appendAudio(const CMSampleBufferRef& buffer) {
    std::lock_guard lock(mutex_);
    if (status_.load() != AVAssetWriterStatusWriting || !encoder_) return false;
    const CMTime time = buffer->presentationTimeStamp();
    if (!CMTIME_IS_NUMERIC(sessionStart_) || !CMTIME_IS_NUMERIC(time) ||
        CMTimeCompare(time, sessionStart_) < 0)
        return false;
    std::string reason;
    if (!encoder_->appendAudio(buffer->audioSampleVector().data(), buffer->numSamples(),
                               static_cast<int>(buffer->audioChannels()), buffer->audioSampleRate(),
                               CMTimeSubtract(time, sessionStart_), &reason)) {
        if (reason.rfind("cannot", 0) == 0) failLocked(reason);
        return false;
    }
    return true;
}

bool AVAssetWriter::finishLocked() {
    if (status_.load() != AVAssetWriterStatusWriting || !encoder_) return false;
    std::string reason;
    if (!CMTIME_IS_NUMERIC(sessionStart_)) {
        failLocked("the session was never started");
        return false;
    }
    if (!encoder_->finish(&reason)) {
        encoder_->abort();
        failLocked(reason);
        return false;
    }
    encoder_.reset();
    for (auto& input : inputs_) input->markAsFinished();
    status_.store(AVAssetWriterStatusCompleted);
    return true;
}

bool AVAssetWriter::finishWriting() {
    std::lock_guard lock(mutex_);
    return finishLocked();
}

void AVAssetWriter::finishWritingWithCompletionHandler(std::function<void()> handler) {
    {
        std::lock_guard lock(mutex_);
        finishLocked();
    }
    if (handler)
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), std::move(handler));
}

void AVAssetWriter::cancelWriting() {
    std::lock_guard lock(mutex_);
    const auto status = status_.load();
    if (status != AVAssetWriterStatusWriting && status != AVAssetWriterStatusUnknown) return;
    if (encoder_) encoder_->abort();
    encoder_.reset();
    status_.store(AVAssetWriterStatusCancelled);
}
