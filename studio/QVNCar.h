#pragma once
// QVNCar: a car of the catalogue and, once its description is loaded, the car the studio dresses.
//
// List side: the catalogue record it derives from (app/QVNCatalogueCar.h), filled by the JSON
// mapping from "car/getcarlist.do"; the brand list maps its cars into QVNCar once the studio is
// part of the program.
//
// Description side: the showcase size and suspension, the picture folder URL
// (model prefix + "/" + car_en: the prefix already ends in "/", so two slashes stand before the
// car word, and the image cache keys keep them), the parts and the presets. Each parse replaces
// every part, option and preset with new objects.
//
// On disk, under Library/Caches/Cars/<car_en>/: the description as last downloaded (a file named
// car_en) and the options' frame tables. A description whose "updated" differs from the stored
// one first removes the stored revision's option files.
//
// Downloading the selected options (one pass): every part's selected option downloads side by
// side; each success (and each part without a selected option) adds one to asyncCount through
// the observable setter; the car watches its counter and tells its delegate once the count equals
// the number of parts. A car without parts succeeds at once. A pass ends with the first failure:
// the count goes back to 0 silently and the completion hears NO once; completions of an ended or
// earlier pass are ignored.
//
// Main thread only: the API client and the image manager call back there.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/QVNCatalogueCar.h"
#include "app/RMRecord.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIColor.h"
#include "studio/AsyncCount.h"
#include "studio/QVNCarDelegate.h"
#include "studio/QVNModificator.h"
#include "studio/QVNPart.h"

class QVNTuningList;

class QVNCar : public QVNCatalogueCar, public NSKeyValueObserving {
    RM_RECORD(QVNCar, QVNCatalogueCar)

    using BoolCompletion = std::function<void(bool ok)>;
    using ErrorCompletion = std::function<void(const Ref<NSError>& error)>;
    using ProgressBlock = QVNOption::ProgressBlock;

    QVNCar() = default;
    ~QVNCar() override;

    // ---- the description ---------------------------------------------------------------------------
    // GET cars_json, reconcile with the stored copy, parse and store; completion(YES) on success.
    void downLoadAndConfigureInformationWithCompletion(BoolCompletion completion);
    // Parses a description; anything that is not a dictionary gives a car without parts.
    void prepareForModify(const Value& description);
    // Library/Caches/Cars/<car_en>; "" when car_en cannot name a folder.
    std::string cachePath() const;
    bool hasInformationCache() const;
    void saveFileWithJson(const Value& json) const;
    // The stored description (mutable containers), nil when absent or unreadable.
    Value cacheJson() const;

    CGSize showcaseSize() const { return showcaseSize_; }
    double suspension() const { return suspension_; }
    bool suspensionSwitch() const { return suspensionSwitch_; }
    void setSuspensionSwitch(bool on) { suspensionSwitch_ = on; }
    const std::string& urlPrefix() const { return urlPrefix_; }
    const std::vector<Ref<QVNPart>>& parts() const { return parts_; }
    const std::vector<Ref<QVNModificator>>& modificators() const { return modificators_; }

    // ---- selection ---------------------------------------------------------------------------------
    Ref<QVNPart> selectedPartWithPartSelector(const std::string& selector) const;
    void configureSelectedOptionsWithModificator(const Ref<QVNModificator>& modificator);
    void configureSelectedOptionsWithTuningList(const Ref<QVNTuningList>& tuningList);
    void resetParts();
    int countOfDownLoadOptionsWithModificator(const Ref<QVNModificator>& modificator) const;
    void tintColor(const Ref<UIColor>& color);
    // The colour of {"r","g","b"} (0-255) without looking at "isColor".
    void setPartTintColor(const Ref<QVNPart>& part, const Value& dictionary);

    // ---- the cache ---------------------------------------------------------------------------------
    void setupOptionFromCache(const Ref<QVNOption>& option, const std::string& partSelector,
                              BoolCompletion completion);
    void setupOptionsFromCacheWithCompletion(BoolCompletion completion);
    bool hasSelectedOptionsCache() const;
    void clearOptionCacheFromDisk();
    void clearOptionsCacheFromMemory();
    void clearNotSelecteOptionsCacheFromMemory();

    // ---- downloads ---------------------------------------------------------------------------------
    // completion is called only with NO (once per pass); success goes to the delegate.
    void downLoadAndSetupOptionsWithProgress(ProgressBlock progress, BoolCompletion completion);
    void downLoadAndSetupOption(const Ref<QVNOption>& option, const std::string& partSelector,
                                ErrorCompletion completion);
    // Created on first use; the car observes it from then on.
    const Ref<AsyncCount>& asyncCount();
    Weak<QVNCarDelegate> delegate() const { return delegate_; }
    void setDelegate(const Weak<QVNCarDelegate>& delegate) { delegate_ = delegate; }

    void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                const Dictionary& change, void* context) override;

  private:
    CGSize showcaseSize_ = CGSizeZero;
    double suspension_ = 0;
    bool suspensionSwitch_ = false;
    std::string urlPrefix_;
    std::vector<Ref<QVNPart>> parts_;
    std::vector<Ref<QVNModificator>> modificators_;
    Weak<QVNCarDelegate> delegate_;
    Ref<AsyncCount> asyncCount_;
    // The current download pass, and whether it has ended with a failure.
    std::uint64_t pass_ = 0;
    bool passFailed_ = false;
};
