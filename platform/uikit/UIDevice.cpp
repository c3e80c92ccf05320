#include "uikit/UIDevice.h"

#include "foundation/NSNotificationCenter.h"
#include "foundation/NSProcessInfo.h"
#include "foundation/NSUserDefaults.h"

Ref<UIDevice> UIDevice::currentDevice() {
    static const Ref<UIDevice> device = make<UIDevice>();
    return device;
}

std::string UIDevice::model() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_;
}
std::string UIDevice::name() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}
std::string UIDevice::systemName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return systemName_;
}
std::string UIDevice::systemVersion() const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (systemVersion_) return *systemVersion_;
    }
    return NSProcessInfo::versionText(NSProcessInfo::processInfo()->operatingSystemVersion());
}
UIUserInterfaceIdiom UIDevice::userInterfaceIdiom() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return idiom_;
}

Ref<NSUUID> UIDevice::identifierForVendor() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (identifierAbsent_) return nullptr;
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (auto text = defaults->stringForKey(kIdentifierDefaultsKey)) {
        if (auto uuid = NSUUID::initWithUUIDString(*text)) return uuid;
    }
    auto uuid = NSUUID::UUID();
    defaults->setObject(kIdentifierDefaultsKey, Value(uuid->UUIDString()));
    defaults->synchronize();
    return uuid;
}

void UIDevice::setIdentifierForVendor(const Ref<NSUUID>& identifier) {
    std::lock_guard<std::mutex> lock(mutex_);
    identifierAbsent_ = !identifier;
    if (!identifier) return;
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(kIdentifierDefaultsKey, Value(identifier->UUIDString()));
    defaults->synchronize();
}

UIDeviceOrientation UIDevice::orientation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return orientation_;
}

void UIDevice::setOrientation(UIDeviceOrientation orientation) {
    bool notify;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (orientation_ == orientation) return;
        orientation_ = orientation;
        notify = orientationNotifications_ > 0;
    }
    if (notify)
        NSNotificationCenter::defaultCenter()->postNotificationName(UIDeviceOrientationDidChangeNotification,
                                                                    self());
}

void UIDevice::beginGeneratingDeviceOrientationNotifications() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++orientationNotifications_;
}

void UIDevice::endGeneratingDeviceOrientationNotifications() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (orientationNotifications_ > 0) --orientationNotifications_;
}

bool UIDevice::isGeneratingDeviceOrientationNotifications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return orientationNotifications_ > 0;
}

bool UIDevice::isBatteryMonitoringEnabled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return batteryMonitoring_;
}
void UIDevice::setBatteryMonitoringEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    batteryMonitoring_ = enabled;
}
float UIDevice::batteryLevel() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return batteryMonitoring_ ? batteryLevel_ : -1.0f;
}
UIDeviceBatteryState UIDevice::batteryState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return batteryMonitoring_ ? batteryState_ : UIDeviceBatteryStateUnknown;
}

void UIDevice::setModel(std::string model) {
    std::lock_guard<std::mutex> lock(mutex_);
    model_ = std::move(model);
}
void UIDevice::setName(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = std::move(name);
}
void UIDevice::setSystemName(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    systemName_ = std::move(name);
}
void UIDevice::setSystemVersion(std::optional<std::string> version) {
    std::lock_guard<std::mutex> lock(mutex_);
    systemVersion_ = std::move(version);
}
void UIDevice::setUserInterfaceIdiom(UIUserInterfaceIdiom idiom) {
    std::lock_guard<std::mutex> lock(mutex_);
    idiom_ = idiom;
}
void UIDevice::setBatteryLevel(float level) {
    std::lock_guard<std::mutex> lock(mutex_);
    batteryLevel_ = level < 0 ? 0 : level > 1 ? 1 : level;
}
void UIDevice::setBatteryState(UIDeviceBatteryState state) {
    std::lock_guard<std::mutex> lock(mutex_);
    batteryState_ = state;
}

void UIDevice::resetConfiguration() {
    std::lock_guard<std::mutex> lock(mutex_);
    model_ = "iPhone";
    name_ = "iPhone";
    systemName_ = "iPhone OS";
    systemVersion_.reset();
    idiom_ = UIUserInterfaceIdiomPhone;
    orientation_ = UIDeviceOrientationPortrait;
    orientationNotifications_ = 0;
    batteryMonitoring_ = false;
    batteryLevel_ = 1;
    batteryState_ = UIDeviceBatteryStateUnplugged;
    identifierAbsent_ = false;
}
