#pragma once
// QVNNavigationController: the navigation controller class that the storyboards name for the
// app's stacks. It adds nothing to its superclass; rotation questions go to the top screen for
// every navigation controller alike (UINavigationController+AutoRotate).

#include <string>

#include "uikit/UINavigationController.h"

class QVNNavigationController : public UINavigationController {
  public:
    QVNNavigationController() = default;
    explicit QVNNavigationController(Ref<UIViewController> rootViewController)
        : UINavigationController(std::move(rootViewController)) {}
    std::string className() const override { return "QVNNavigationController"; }

    void viewDidLoad() override;
    void didReceiveMemoryWarning() override;
};
