#include "uikit/MKAnnotationView.h"

#include "foundation/NSMainThreadCheck.h"

void MKAnnotationView::setImage(const Ref<UIImage>& image) {
    NS_ASSERT_MAIN_THREAD();
    image_ = image;
    if (!image) {
        layer()->setContents(nullptr);
        return;
    }
    CGPoint c = center();
    CGSize size = image->size();
    setBounds({bounds().origin, size});
    setCenter(c);
    layer()->setContents(image->CGImage());
    layer()->setContentsScale(image->scale());
    layer()->setContentsGravity(kCAGravityCenter);
}
