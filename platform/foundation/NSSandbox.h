#pragma once
// The app's sandbox: one root directory per process that holds everything a device keeps for the
// app (Documents, Library, Library/Caches, Library/Preferences, tmp; the defaults file, the
// keychain file, caches). Everything that reads or writes app state finds its place through here,
// so that two processes (two tests) with different roots never see each other's state.
//
// The root comes from setRoot(), else the environment variable APP_SANDBOX_ROOT, else a fresh
// per-process folder under the system's temporary directory (removed when the process exits).
// The standard folders are created whenever a root is taken. All functions are thread-safe.

#include <cstdint>
#include <string>

class NSSandbox {
  public:
    // Makes `path` (made absolute) the root and creates the standard folders below it. Answers
    // false, leaving the current root as it was, when the folders cannot be created.
    static bool setRoot(const std::string& path);
    // The current root, without a trailing "/"; chosen and created on first use.
    static std::string root();
    // Changes with every setRoot(), so holders of per-root state (the standard defaults, a
    // keychain file) can tell that the root moved and start afresh.
    static std::uint64_t generation();

    // The standard folders of the current root.
    static std::string documentsPath() { return root() + "/Documents"; }
    static std::string libraryPath() { return root() + "/Library"; }
    static std::string cachesPath() { return root() + "/Library/Caches"; }
    static std::string preferencesPath() { return root() + "/Library/Preferences"; }
    static std::string applicationSupportPath() { return root() + "/Library/Application Support"; }
    static std::string temporaryPath() { return root() + "/tmp"; }
};
