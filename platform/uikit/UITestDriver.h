#pragma once
// The event source: fingers put on the screen by tests and by the main job's scripted run.
//
// Every call makes real UITouch and UIEvent objects and sends them through
// UIApplication::sendEvent, so hit testing, gesture recognisers, cancellation and the responder
// chain all run as for a user's finger. The touched tree is the view's window (or, for a view
// outside any window, its root view); a hidden window takes no touches (a line is logged).
//
// Time: each event comes one step interval (1/60 s by default) after the previous one. On the
// manual clock the driver advances the clock by that step before each event and runs what fell
// due on the main run loop (a double tap's timeout, timers), so gestures see the same time as the
// rest of the platform; on the real clock it never sleeps: timestamps step ahead of real time.
//
// Fingers are numbered 0, 1, 2...; a finger must lift before it can go down again (a second
// touchDown on a finger that is down lifts it first). Points are in the view's space for the
// high-level calls and in the window's (root's) space for the low-level ones.
//
// Main thread only.

#include <utility>
#include <vector>

#include "graphics/CGGeometry.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UISwipeGestureRecognizer.h"

class UIView;

class UITestDriver {
  public:
    // ---- high level, in the view's space ------------------------------------------------------
    // Taps the view's centre (or a point) `taps` times in quick succession.
    static void tap(const Ref<UIView>& view, unsigned taps = 1);
    static void tapAt(const Ref<UIView>& view, CGPoint point, unsigned taps = 1);
    // One finger down at `from`, `steps` moves along the line, up at `to` (the line is fixed in the
    // window when the finger goes down, so a view that follows the finger does not bend it).
    static void drag(const Ref<UIView>& view, CGPoint from, CGPoint to, int steps = 10);
    // Two fingers placed horizontally around `centre`, `fromSpan` apart (in the window's space),
    // moved to `toSpan` apart in `steps` moves, then lifted.
    static void pinch(const Ref<UIView>& view, CGPoint centre, CGFloat fromSpan, CGFloat toSpan,
                      int steps = 10);
    // A quick 120-point stroke from the view's centre in the direction (5 moves).
    static void swipe(const Ref<UIView>& view, UISwipeGestureRecognizerDirection direction);

    // ---- low level, in the root's (window's) space ---------------------------------------------
    static void touchDown(const Ref<UIView>& root, CGPoint point, int finger = 0);
    static void touchMove(const Ref<UIView>& root, CGPoint point, int finger = 0);
    static void touchUp(const Ref<UIView>& root, CGPoint point, int finger = 0);
    // The system takes the finger away (an alert, a call): the touch is cancelled.
    static void touchCancel(const Ref<UIView>& root, int finger = 0);
    // Several fingers in one event.
    using Fingers = std::vector<std::pair<int, CGPoint>>;
    static void touchesDown(const Ref<UIView>& root, const Fingers& fingers);
    static void touchesMove(const Ref<UIView>& root, const Fingers& fingers);
    static void touchesUp(const Ref<UIView>& root, const Fingers& fingers);

    // Lifts every finger still down (as cancelled) and forgets the tap history.
    static void reset();
    static std::size_t fingersDown();

    static double stepInterval();
    static void setStepInterval(double seconds);
    // Lets the clock run: advances the manual clock by `seconds` (running what falls due); on the
    // real clock only the timestamps move on.
    static void wait(double seconds);

    // Walks a recogniser to a state directly, with its actions and observers (as for a scroll
    // view's pan, whose dragging tests drive). Possible resets it.
    static void setGestureRecognizerState(const Ref<UIGestureRecognizer>& recognizer,
                                          UIGestureRecognizerState state);

    // The tree a view's touches go to: its window, or its root view.
    static Ref<UIView> rootFor(const Ref<UIView>& view);
};
