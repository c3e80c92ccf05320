#pragma once
// QVNBrandTableView: the brand drop-down: a plain table over the background picture
// "zixunpinpaikuang", without background colour or separators, hidden until its owner shows it.
// The owner (the news screen) gives it its frame, delegate and data source. Main thread only.

#include "uikit/UITableView.h"

class QVNBrandTableView : public UITableView {
  public:
    static constexpr char kBackgroundImageName[] = "zixunpinpaikuang";

    explicit QVNBrandTableView(CGRect frame) : UITableView(frame, UITableViewStylePlain) {}
    std::string className() const override { return "QVNBrandTableView"; }
    void didInit();
};
