#pragma once
// QVNCarTableView: the car drop-down: rows of QVNCarCell ("CarCell", 134 points high) over the
// background picture "zixunchexingkuang", without background colour or separators. setCars builds
// a new data source over the cars (nil gives an empty list) and makes it the table's; the owner
// reloads. Visible from the start; the owner hides and shows it. Main thread only.

#include <optional>

#include "app/ArrayDataSource.h"
#include "uikit/UITableView.h"

class QVNCarTableView : public UITableView {
  public:
    static constexpr char kBackgroundImageName[] = "zixunchexingkuang";
    static constexpr char kCellIdentifier[] = "CarCell";

    explicit QVNCarTableView(CGRect frame) : UITableView(frame, UITableViewStylePlain) {}
    std::string className() const override { return "QVNCarTableView"; }
    void didInit();

    void setupTableView();
    // Array of catalogue cars (QVNCatalogueCar).
    const std::optional<Array>& cars() const { return cars_; }
    void setCars(const std::optional<Array>& cars);
    const Ref<ArrayDataSource>& carsDataSource() const { return carsDataSource_; }

  private:
    std::optional<Array> cars_;
    Ref<ArrayDataSource> carsDataSource_;
};
