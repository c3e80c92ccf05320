#pragma once
// A small graph of filters that looks like one filter. Producers feed the group like any input and
// it forwards each input call to its initial filters; consumers attach to it like any output and
// it forwards the output side to its terminal filter. Whoever builds the group wires the inner
// filters to each other. Before a terminal filter is set, output-side calls do nothing.

#include <vector>

#include "gpu/core/GPXOutput.h"

class GPXFilterGroup : public GPXOutput, public GPXInput {
  public:
    GPXFilterGroup() = default;

    // An output that is also an input (a filter or another group).
    void addFilter(const Ref<GPXOutput>& newFilter);
    Ref<GPXOutput> filterAtIndex(std::size_t filterIndex) const;
    std::size_t filterCount() const;

    // Output side, forwarded to the terminal filter.
    void useNextFrameForImageCapture() override;
    CGImageRef newCGImageFromCurrentlyProcessedOutput() override;
    void setTargetToIgnoreForUpdates(const Ref<GPXInput>& targetToIgnoreForUpdates) override;
    void addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) override;
    void removeTarget(const Ref<GPXInput>& targetToRemove) override;
    void removeAllTargets() override;
    std::vector<Ref<GPXInput>> targets() override;
    void setFrameProcessingCompletionBlock(FrameProcessingCompletionBlock block) override;
    FrameProcessingCompletionBlock frameProcessingCompletionBlock() override;

    // Input side, forwarded to the initial filters.
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    long nextAvailableTextureIndex() override { return 0; }
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    CGSize maximumOutputSize() override { return CGSizeZero; }
    void endProcessing() override;
    bool shouldIgnoreUpdatesToThisTarget() override { return GPXOutput::shouldIgnoreUpdatesToThisTarget(); }
    bool enabled() override { return GPXOutput::enabled(); }
    bool wantsMonochromeInput() override;
    void setCurrentlyReceivingMonochromeInput(bool newValue) override;

    // Every inner filter, not only the initial ones.
    void forceProcessingAtSize(CGSize frameSize) override;
    void forceProcessingAtSizeRespectingAspectRatio(CGSize frameSize) override;

    Ref<GPXOutput> terminalFilter() const;
    void setTerminalFilter(const Ref<GPXOutput>& filter);
    std::vector<Ref<GPXInput>> initialFilters() const;
    void setInitialFilters(std::vector<Ref<GPXInput>> filters);
    Ref<GPXInput> inputFilterToIgnoreForUpdates() const;
    void setInputFilterToIgnoreForUpdates(const Ref<GPXInput>& filter);

    std::string className() const override { return "GPXFilterGroup"; }

  private:
    mutable std::mutex groupMutex_;  // guards the four below
    std::vector<Ref<GPXOutput>> filters_;
    Ref<GPXOutput> terminalFilter_;
    std::vector<Ref<GPXInput>> initialFilters_;
    Ref<GPXInput> inputFilterToIgnoreForUpdates_;
    bool isEndProcessing_ = false;
};
