#pragma once
// Segues: a move from one controller (the source) to a new one (the destination), named by an
// identifier that screens test in prepareForSegue.
//
// A scene factory (UIStoryboard.h) declares the segues of the controller it builds with a
// UIStoryboardSegueDeclaration: the identifier, the kind of move and how to make the destination
// (a scene of a storyboard, or a factory). performSegueWithIdentifier then makes the destination,
// makes the segue, calls the source's prepareForSegue(segue, sender) and performs the segue:
//
// - Show: pushed when the source is in a navigation controller, presented modally otherwise;
// - Present: presented modally by the source;
// - Custom: the segue object made by the declaration's segueFactory performs itself.
//
// Segues that the storyboard triggers from a control or a cell (UIStoryboard::triggerSegue) first
// ask the source's shouldPerformSegueWithIdentifier; performSegueWithIdentifier called by code
// does not ask.
//
// Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSObject.h"

class UIViewController;
class UIStoryboardSegue;

enum class UIStoryboardSegueKind {
    Show,
    Present,
    Custom,
};

struct UIStoryboardSegueDeclaration {
    std::string identifier;
    UIStoryboardSegueKind kind = UIStoryboardSegueKind::Show;
    // The destination scene: its identifier in destinationStoryboard, or in the source's own
    // storyboard when that is not given...
    std::string destinationIdentifier;
    std::optional<std::string> destinationStoryboard;
    // ...or, when set, this factory (which wins).
    std::function<Ref<UIViewController>()> destinationFactory;
    // Custom segues: makes the segue whose perform() runs. Without it a Custom segue behaves as Show.
    std::function<Ref<UIStoryboardSegue>(const std::string& identifier, const Ref<UIViewController>& source,
                                         const Ref<UIViewController>& destination)>
        segueFactory;
    // Whether the push or presentation animates.
    bool animated = true;
};

class UIStoryboardSegue : public NSObject {
  public:
    // initWithIdentifier:source:destination:
    UIStoryboardSegue(std::optional<std::string> identifier, Ref<UIViewController> source,
                      Ref<UIViewController> destination);
    std::string className() const override { return "UIStoryboardSegue"; }

    // segueWithIdentifier:source:destination:performHandler:
    static Ref<UIStoryboardSegue> segueWithIdentifier(std::optional<std::string> identifier,
                                                      Ref<UIViewController> source,
                                                      Ref<UIViewController> destination,
                                                      std::function<void()> performHandler);

    const std::optional<std::string>& identifier() const { return identifier_; }
    const Ref<UIViewController>& sourceViewController() const { return source_; }
    const Ref<UIViewController>& destinationViewController() const { return destination_; }

    // Makes the move. The default does what its kind says (Show unless set), or runs the perform
    // handler when one was given.
    virtual void perform();

    // How the default perform() moves (set from the declaration).
    UIStoryboardSegueKind kind() const { return kind_; }
    void setKind(UIStoryboardSegueKind kind) { kind_ = kind; }
    bool isAnimated() const { return animated_; }
    void setAnimated(bool animated) { animated_ = animated; }

  private:
    std::optional<std::string> identifier_;
    Ref<UIViewController> source_;
    Ref<UIViewController> destination_;
    std::function<void()> performHandler_;
    UIStoryboardSegueKind kind_ = UIStoryboardSegueKind::Show;
    bool animated_ = true;
};
