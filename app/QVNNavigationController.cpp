#include "app/QVNNavigationController.h"

void QVNNavigationController::viewDidLoad() {
    UINavigationController::viewDidLoad();
}

void QVNNavigationController::didReceiveMemoryWarning() {
    UINavigationController::didReceiveMemoryWarning();
}
