// A process that sets user defaults and ends by returning from main, without synchronize: what a
// second process finds in the defaults file tells whether the exit saved them.
//
//   user_defaults_writer <sandbox root> <bundle identifier> (<key> <value>)...
//   user_defaults_writer --threads <sandbox root> <bundle identifier> <count>
//
// With --threads, four threads each set <count> keys "t<thread>.<i>" to i while the main thread
// returns as soon as they are done.

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NSBundle.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"

int main(int argc, char** argv) {
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
