#pragma once
// What the home screen sees of the information tab. The tab is the scene
// "InformationRootViewController" of the storyboard "MyInformation"; the home screen cannot see
// its class, so the tab adopts InformationTab and the home screen, its delegate, hears through
// InformationRootViewControllerDelegate when the user drags past the tab's last page.
//
// Main thread only.

#include "foundation/NSObject.h"

inline constexpr char QVNInformationStoryboard[] = "MyInformation";
inline constexpr char QVNInformationRootIdentifier[] = "InformationRootViewController";

class InformationRootViewControllerDelegate {
  public:
    virtual ~InformationRootViewControllerDelegate() = default;
    // The tab was dragged past its last page (comes again on every scroll step while it stays
    // there).
    virtual void informationRootViewControllerDidScrollToNext() = 0;
};

namespace QVNInformationScreens {

class InformationTab {
  public:
    virtual ~InformationTab() = default;
    // Held weakly.
    virtual void setDelegate(const Ref<InformationRootViewControllerDelegate>& delegate) = 0;
    // Back to the first page, which reloads from the server.
    virtual void refreshFirstViewController() = 0;
};

}  // namespace QVNInformationScreens
