// A process that sets user defaults and ends by returning from main, without synchronize: what a
// second process finds in the defaults file tells whether the exit saved them.
//
//   user_defaults_writer <sandbox root> <bundle identifier> (<key> <value>)...
//   user_defaults_writer --threads <sandbox root> <bundle identifier> <count>
//   user_defaults_writer --die-mid-write <sandbox root> <bundle identifier> <key> <value>
//   user_defaults_writer --hold-mid-write <release file> <sandbox root> <bundle identifier> <key> <value>
//
// With --threads, four threads each set <count> keys "t<thread>.<i>" to i while the main thread
// returns as soon as they are done. With --die-mid-write the process writes the value and is
// killed once its temporary file is filled, before the file is renamed into place; with
// --hold-mid-write it waits there until the release file exists (at most a minute), then goes on.

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NSBundle.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"

namespace {

int writeMidWrite(const std::string& mode, int argc, char** argv) {
    const bool hold = mode == "--hold-mid-write";
    const int first = hold ? 3 : 2;
    if (argc < first + 4) return 2;
    const std::string release = hold ? argv[2] : "";
    if (!NSSandbox::setRoot(argv[first])) return 3;
    NSBundle::setInfoValue("CFBundleIdentifier", std::string(argv[first + 1]));
    detail::setUserDefaultsTemporaryFileHook([hold, release](const std::string&) {
        if (!hold) ::raise(SIGKILL);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!std::filesystem::exists(release) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(argv[first + 2], std::string(argv[first + 3]));
    return defaults->synchronize() ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::string(argv[1]) == "--die-mid-write" || std::string(argv[1]) == "--hold-mid-write"))
        return writeMidWrite(argv[1], argc, argv);
    bool threads = argc > 1 && std::string(argv[1]) == "--threads";
    int first = threads ? 2 : 1;
    if (argc < first + 2) return 2;
    if (!NSSandbox::setRoot(argv[first])) return 3;
    NSBundle::setInfoValue("CFBundleIdentifier", std::string(argv[first + 1]));
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (threads) {
        if (argc < first + 3) return 2;
        int count = std::atoi(argv[first + 2]);
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([defaults, t, count] {
                for (int i = 0; i < count; ++i)
                    defaults->setInteger("t" + std::to_string(t) + "." + std::to_string(i), i);
            });
        }
        for (auto& w : writers) w.join();
        return 0;
    }
    for (int i = first + 2; i + 1 < argc; i += 2) defaults->setObject(argv[i], std::string(argv[i + 1]));
    return 0;
}
