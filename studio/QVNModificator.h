#pragma once
// QVNModificator: a whole-car preset from a car description: a name, a thumbnail file name and a
// map of part selector -> option identifier ("" stands for the part's default option).

#include <optional>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class QVNModificator : public NSObject {
  public:
    QVNModificator() = default;
    // initWithAttribute: — values of the wrong kind count as absent.
    explicit QVNModificator(const Value& attributes);
    std::string className() const override { return "QVNModificator"; }

    const std::optional<std::string>& name() const { return name_; }
    const std::optional<std::string>& thumbnail() const { return thumbnail_; }
    const Dictionary& partsAndOptions() const { return partsAndOptions_; }

  private:
    std::optional<std::string> name_, thumbnail_;
    Dictionary partsAndOptions_;
};
