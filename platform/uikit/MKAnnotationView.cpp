#include "uikit/MKAnnotationView.h"

void MKAnnotationView::setImage(const Ref<UIImage>& image) {
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
