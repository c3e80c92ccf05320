#pragma once
// How tests drive the controls: a fresh start for the shared instances between tests. Nothing
// here is part of the product; product code never calls it. The controls name this struct a
// friend, since tearing an instance down reaches its private parts.

struct ControlsTesting {
    // Tears the shared progress HUD down and forgets it and the class-wide settings, so that the
    // next class operation starts afresh.
    static void resetProgressHUD();
    // Releases the shared status-bar notification (hiding its window) so that the next class
    // operation starts afresh.
    static void resetStatusBarNotification();
};
