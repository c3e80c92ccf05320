#pragma once
// How tests drive the system services' stand-ins: what the device would hold (photos, carrier,
// joined network, interfaces, files another app left), what it would answer (reachability,
// authorisation, failures) and a fresh start between tests. Nothing here is part of the product;
// product code never calls it.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSDate.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "system/ALAssetsLibrary.h"
#include "system/CTTelephonyNetworkInfo.h"
#include "system/DeviceProbes.h"
#include "system/SCNetworkReachability.h"

class UIImage;

namespace system_testing {

// ---- the photo library -----------------------------------------------------------------------------
void setPhotoLibraryAuthorizationStatus(ALAuthorizationStatus status);
// A new group; answers its ID.
std::string addPhotoGroup(const std::string& name, ALAssetsGroupType type);
std::string savedPhotosGroupID();
// A photo (stored as PNG) or a video (its poster picture and duration) at the end of a group;
// answers the asset's URL, nullptr for an unknown group or a null picture.
Ref<NSURL> addPhoto(const std::string& groupID, const Ref<UIImage>& image,
                    std::optional<NSDate> date = std::nullopt);
Ref<NSURL> addVideo(const std::string& groupID, const Ref<UIImage>& poster, double duration,
                    std::optional<NSDate> date = std::nullopt);
bool addAssetToGroup(const Ref<NSURL>& assetURL, const std::string& groupID);
// The screen's pixel size that full-screen pictures fit into (750 x 1334 unless set).
void setFullScreenPixelSize(CGSize size);
// Forgets the groups and assets added by tests and every setting.
void resetPhotoLibrary();

// ---- the photo album folder ------------------------------------------------------------------------
// Every save fails with this error while it is set (nullptr clears it); nothing is written.
void setPhotoAlbumSaveError(Ref<NSError> error);
Ref<NSError> photoAlbumSaveError();

// ---- reachability ----------------------------------------------------------------------------------
// The flags every target answers (unless a host override applies); nullopt returns to derived
// flags. Every scheduled target whose flags change hears of it.
void setReachabilityFlags(std::optional<SCNetworkReachabilityFlags> flags);
// Flags for one host name or numeric address ("0.0.0.0", "169.254.0.0", "example.test").
void setHostReachabilityFlags(const std::string& host, std::optional<SCNetworkReachabilityFlags> flags);
// Makes SCNetworkReachabilityGetFlags fail (answer false) while set.
void setReachabilityGetFlagsFails(bool fails);
// Drops every override and the failure switch.
void resetReachability();

// ---- device probes ---------------------------------------------------------------------------------
// nullopt returns to the host's list. Tells the change listeners.
void setNetworkInterfaces(std::optional<std::vector<detail::NetworkInterfaceAddress>> interfaces);
// The folder that holds one folder per interface; "/sys/class/net" unless set (empty returns).
void setSysfsNetDirectory(const std::string& path);
// Paths that exist on the phone's own file system.
void setDeviceFiles(std::vector<std::string> paths);
// Overrides one system class name; nullopt returns it to the table.
void setSystemClassAvailable(const std::string& className, std::optional<bool> available);
// Returns every probe to its default (model, interfaces, Wi-Fi interface, sysfs folder, device
// files, class overrides).
void resetDeviceProbes();

// ---- Wi-Fi -------------------------------------------------------------------------------------------
struct WiFiNetwork {
    std::string ssid;
    std::string bssid;  // "aa:bb:cc:dd:ee:ff"
};
// nullopt leaves the network.
void setCurrentWiFiNetwork(std::optional<WiFiNetwork> network);

// ---- telephony ---------------------------------------------------------------------------------------
// nullopt returns to "no SIM".
void setCarrier(std::optional<CTCarrierInfo> carrier);
void setRadioAccessTechnology(std::optional<std::string> technology);

// ---- pasteboards -------------------------------------------------------------------------------------
// The binary property list for items, as the pasteboard files hold them; for tests acting as
// other apps.
NSData encodePasteboardItems(const Array& items);
// Forgets every pasteboard object of this process (files stay).
void resetPasteboards();

// ---- other apps ----------------------------------------------------------------------------------------
// Removes every other app, the URL handler, our schemes and identifier, and the records.
void resetOtherApps();

}  // namespace system_testing
