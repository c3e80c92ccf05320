#include "app/QVNBrandTableView.h"

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "uikit/UIImageView.h"

void QVNBrandTableView::didInit() {
    UITableView::didInit();
    setBackgroundView(make<UIImageView>(UIImage::imageNamed(kBackgroundImageName)));
    setBackgroundColor(UIColor::clearColor());
    setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    setHidden(true);
}
