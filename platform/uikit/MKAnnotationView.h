#pragma once
// A map annotation's view: a plain view with an image, sized to the image when it is set, drawn as
// the layer's contents (centred).

#include "graphics/UIImage.h"
#include "uikit/UIView.h"

class MKAnnotationView : public UIView {
  public:
    MKAnnotationView() = default;
    explicit MKAnnotationView(CGRect frame) : UIView(frame) {}
    std::string className() const override { return "MKAnnotationView"; }

    const Ref<UIImage>& image() const { return image_; }
    void setImage(const Ref<UIImage>& image);

  private:
    Ref<UIImage> image_;
};
