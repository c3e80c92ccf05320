#include "gpu/core/GPXFilterGroup.h"

void GPXFilterGroup::addFilter(const Ref<GPXOutput>& newFilter) {
    if (!newFilter) return;
    std::lock_guard lock(groupMutex_);
    filters_.push_back(newFilter);
}

Ref<GPXOutput> GPXFilterGroup::filterAtIndex(std::size_t filterIndex) const {
    std::lock_guard lock(groupMutex_);
    return filterIndex < filters_.size() ? filters_[filterIndex] : nullptr;
}

std::size_t GPXFilterGroup::filterCount() const {
    std::lock_guard lock(groupMutex_);
    return filters_.size();
}

// ---- output side -------------------------------------------------------------------------------

void GPXFilterGroup::useNextFrameForImageCapture() {
    if (auto terminal = terminalFilter()) terminal->useNextFrameForImageCapture();
}

CGImageRef GPXFilterGroup::newCGImageFromCurrentlyProcessedOutput() {
    auto terminal = terminalFilter();
    return terminal ? terminal->newCGImageFromCurrentlyProcessedOutput() : nullptr;
}

void GPXFilterGroup::setTargetToIgnoreForUpdates(const Ref<GPXInput>& target) {
    if (auto terminal = terminalFilter()) terminal->setTargetToIgnoreForUpdates(target);
}

void GPXFilterGroup::addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) {
    if (auto terminal = terminalFilter()) terminal->addTargetAtTextureLocation(newTarget, textureLocation);
}

void GPXFilterGroup::removeTarget(const Ref<GPXInput>& targetToRemove) {
    if (auto terminal = terminalFilter()) terminal->removeTarget(targetToRemove);
}

void GPXFilterGroup::removeAllTargets() {
    if (auto terminal = terminalFilter()) terminal->removeAllTargets();
}

std::vector<Ref<GPXInput>> GPXFilterGroup::targets() {
    auto terminal = terminalFilter();
    return terminal ? terminal->targets() : std::vector<Ref<GPXInput>>{};
}

void GPXFilterGroup::setFrameProcessingCompletionBlock(FrameProcessingCompletionBlock block) {
    if (auto terminal = terminalFilter()) terminal->setFrameProcessingCompletionBlock(std::move(block));
}

GPXOutput::FrameProcessingCompletionBlock GPXFilterGroup::frameProcessingCompletionBlock() {
    auto terminal = terminalFilter();
    return terminal ? terminal->frameProcessingCompletionBlock() : nullptr;
}

// ---- input side --------------------------------------------------------------------------------

void GPXFilterGroup::newFrameReadyAtTime(CMTime frameTime, long textureIndex) {
    auto ignored = inputFilterToIgnoreForUpdates();
    for (auto& filter : initialFilters()) {
        if (filter != ignored) filter->newFrameReadyAtTime(frameTime, textureIndex);
    }
}

void GPXFilterGroup::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) {
    for (auto& filter : initialFilters()) filter->setInputFramebuffer(newInputFramebuffer, textureIndex);
}

void GPXFilterGroup::setInputSize(CGSize newSize, long textureIndex) {
    for (auto& filter : initialFilters()) filter->setInputSize(newSize, textureIndex);
}

void GPXFilterGroup::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    for (auto& filter : initialFilters()) filter->setInputRotation(newInputRotation, textureIndex);
}

void GPXFilterGroup::setCurrentlyReceivingMonochromeInput(bool newValue) {
    for (auto& filter : initialFilters()) filter->setCurrentlyReceivingMonochromeInput(newValue);
}

void GPXFilterGroup::endProcessing() {
    {
        std::lock_guard lock(groupMutex_);
        if (isEndProcessing_) return;
        isEndProcessing_ = true;
    }
    for (auto& filter : initialFilters()) filter->endProcessing();
}

bool GPXFilterGroup::wantsMonochromeInput() {
    for (auto& filter : initialFilters()) {
        if (!filter->wantsMonochromeInput()) return false;
    }
    return true;
}

void GPXFilterGroup::forceProcessingAtSize(CGSize frameSize) {
    std::vector<Ref<GPXOutput>> all;
    {
        std::lock_guard lock(groupMutex_);
        all = filters_;
    }
    for (auto& filter : all) filter->forceProcessingAtSize(frameSize);
}

void GPXFilterGroup::forceProcessingAtSizeRespectingAspectRatio(CGSize frameSize) {
    std::vector<Ref<GPXOutput>> all;
    {
        std::lock_guard lock(groupMutex_);
        all = filters_;
    }
    for (auto& filter : all) filter->forceProcessingAtSizeRespectingAspectRatio(frameSize);
}

// ---- properties --------------------------------------------------------------------------------

Ref<GPXOutput> GPXFilterGroup::terminalFilter() const {
    std::lock_guard lock(groupMutex_);
    return terminalFilter_;
}

void GPXFilterGroup::setTerminalFilter(const Ref<GPXOutput>& filter) {
    std::lock_guard lock(groupMutex_);
    terminalFilter_ = filter;
}

std::vector<Ref<GPXInput>> GPXFilterGroup::initialFilters() const {
    std::lock_guard lock(groupMutex_);
    return initialFilters_;
}

void GPXFilterGroup::setInitialFilters(std::vector<Ref<GPXInput>> filters) {
    std::lock_guard lock(groupMutex_);
    initialFilters_ = std::move(filters);
}

Ref<GPXInput> GPXFilterGroup::inputFilterToIgnoreForUpdates() const {
    std::lock_guard lock(groupMutex_);
    return inputFilterToIgnoreForUpdates_;
}

void GPXFilterGroup::setInputFilterToIgnoreForUpdates(const Ref<GPXInput>& filter) {
    std::lock_guard lock(groupMutex_);
    inputFilterToIgnoreForUpdates_ = filter;
}
