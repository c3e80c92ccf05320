#pragma once
// The device: what kind of phone this is and what it runs. The values are configuration, settable
// by tests and start-up code: model "iPhone", system name "iPhone OS", system version from
// NSProcessInfo's configured version ("8.4" unless set), portrait orientation, phone idiom.
//
// identifierForVendor is a random UUID made on first use and kept in the sandbox's user defaults,
// so it survives restarts of the app; it can be injected (an all-zero identifier included) or made
// absent (nullptr).
//
// Orientation changes are posted as UIDeviceOrientationDidChangeNotification while orientation
// notifications are being generated. Everything here may be read from any thread.

#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/NSUUID.h"

inline constexpr char UIDeviceOrientationDidChangeNotification[] = "UIDeviceOrientationDidChangeNotification";
inline constexpr char UIDeviceBatteryLevelDidChangeNotification[] =
    "UIDeviceBatteryLevelDidChangeNotification";
inline constexpr char UIDeviceBatteryStateDidChangeNotification[] =
    "UIDeviceBatteryStateDidChangeNotification";

enum UIDeviceOrientation : long {
    UIDeviceOrientationUnknown = 0,
    UIDeviceOrientationPortrait = 1,
    UIDeviceOrientationPortraitUpsideDown = 2,
    UIDeviceOrientationLandscapeLeft = 3,
    UIDeviceOrientationLandscapeRight = 4,
    UIDeviceOrientationFaceUp = 5,
    UIDeviceOrientationFaceDown = 6,
};

enum UIUserInterfaceIdiom : long {
    UIUserInterfaceIdiomUnspecified = -1,
    UIUserInterfaceIdiomPhone = 0,
    UIUserInterfaceIdiomPad = 1,
};

enum UIDeviceBatteryState : long {
    UIDeviceBatteryStateUnknown = 0,
    UIDeviceBatteryStateUnplugged = 1,
    UIDeviceBatteryStateCharging = 2,
    UIDeviceBatteryStateFull = 3,
};

class UIDevice : public NSObject {
  public:
    UIDevice() = default;
    std::string className() const override { return "UIDevice"; }
    static Ref<UIDevice> currentDevice();

    std::string model() const;
    std::string localizedModel() const { return model(); }
    std::string name() const;
    std::string systemName() const;
    std::string systemVersion() const;
    UIUserInterfaceIdiom userInterfaceIdiom() const;
    bool isMultitaskingSupported() const { return true; }

    // The stored identifier (made and stored on first use); nullptr when made absent.
    Ref<NSUUID> identifierForVendor();
    // Injects an identifier (persisted); nullptr makes it absent until set again.
    void setIdentifierForVendor(const Ref<NSUUID>& identifier);
    // The user-defaults key the identifier is kept under.
    static constexpr const char* kIdentifierDefaultsKey = "UIDeviceIdentifierForVendor";

    UIDeviceOrientation orientation() const;
    // Posts the change notification when generating notifications and the value changes.
    void setOrientation(UIDeviceOrientation orientation);
    void beginGeneratingDeviceOrientationNotifications();
    void endGeneratingDeviceOrientationNotifications();
    bool isGeneratingDeviceOrientationNotifications() const;

    bool isBatteryMonitoringEnabled() const;
    void setBatteryMonitoringEnabled(bool enabled);
    // -1 unless monitoring is enabled.
    float batteryLevel() const;
    UIDeviceBatteryState batteryState() const;
    bool isProximityMonitoringEnabled() const { return false; }

    // Configuration.
    void setModel(std::string model);
    void setName(std::string name);
    void setSystemName(std::string name);
    // nullopt returns to NSProcessInfo's configured version.
    void setSystemVersion(std::optional<std::string> version);
    void setUserInterfaceIdiom(UIUserInterfaceIdiom idiom);
    void setBatteryLevel(float level);
    void setBatteryState(UIDeviceBatteryState state);
    // Back to every default (the stored identifier is kept).
    void resetConfiguration();

  private:
    mutable std::mutex mutex_;
    std::string model_ = "iPhone";
    std::string name_ = "iPhone";
    std::string systemName_ = "iPhone OS";
    std::optional<std::string> systemVersion_;
    UIUserInterfaceIdiom idiom_ = UIUserInterfaceIdiomPhone;
    UIDeviceOrientation orientation_ = UIDeviceOrientationPortrait;
    int orientationNotifications_ = 0;
    bool batteryMonitoring_ = false;
    float batteryLevel_ = 1;
    UIDeviceBatteryState batteryState_ = UIDeviceBatteryStateUnplugged;
    bool identifierAbsent_ = false;
};
