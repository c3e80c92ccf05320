#pragma once
// Nibs: on the phone, resource files of archived views (a cell, a header, a screen's view) with
// their outlets and actions. Here a nib is a name in a process-wide registry of code factories,
// registered at start-up by the code beside the views. A factory makes the top-level objects
// (in order), connects their outlets (weakly) and actions, and connects the owner's outlets when
// it is given an owner (the "File's Owner"), e.g.
//
//   UINib::registerNib("MaskImgCell", [](const Ref<NSObject>& owner, const Dictionary& options) {
//       auto cell = make<MaskImgCell>(...);
//       ... subviews, outlets, cell->awakeFromNib() ...
//       return std::vector<Ref<NSObject>>{cell};
//   });
//
// A view controller whose nibName names a registered nib loads its view from it (UIViewController.h).
// Unknown names: nibWithNibName answers nullptr and loadNibNamed an empty list, both logged (the
// platform raises when loading). The registry may be used from any thread; the objects belong to
// the thread that instantiates them (the main thread for views).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSBundle.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class UINib : public NSObject {
  public:
    using Factory =
        std::function<std::vector<Ref<NSObject>>(const Ref<NSObject>& owner, const Dictionary& options)>;

    explicit UINib(std::string name) : name_(std::move(name)) {}
    std::string className() const override { return "UINib"; }

    // ---- the registry -------------------------------------------------------------------------
    // A later registration of the same name replaces the earlier.
    static void registerNib(const std::string& name, Factory factory);
    static bool hasNibNamed(const std::string& name);
    static void unregisterNib(const std::string& name);

    // ---- the platform's interface --------------------------------------------------------------
    // nibWithNibName:bundle: — nullptr for a name never registered. The bundle is not used.
    static Ref<UINib> nibWithNibName(const std::string& name, const Ref<NSBundle>& bundle);
    // instantiateWithOwner:options: — a new set of top-level objects on every call.
    std::vector<Ref<NSObject>> instantiateWithOwner(const Ref<NSObject>& owner,
                                                    const Dictionary& options = Dictionary());
    const std::string& name() const { return name_; }

  private:
    std::string name_;
};

// The bundle's nib loading (NSBundle(UINibLoadingAdditions)): the top-level objects of the nib,
// empty (logged) for an unknown name.
namespace NSBundle_UINibLoadingAdditions {
std::vector<Ref<NSObject>> loadNibNamed(const Ref<NSBundle>& bundle, const std::string& name,
                                        const Ref<NSObject>& owner, const Dictionary& options = Dictionary());
}  // namespace NSBundle_UINibLoadingAdditions

// The same on the main bundle, as screens call it.
std::vector<Ref<NSObject>> loadNibNamed(const std::string& name, const Ref<NSObject>& owner,
                                        const Dictionary& options = Dictionary());
