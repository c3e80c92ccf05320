// devserver: the stand-in app server as a program, for the demo and for trying the app by hand.
//
//   devserver --port N [--host 127.0.0.1] [--data DIR] [--second-host H] [--second-port N]
//             [--tls] [--tls-port N]
//
// Prints its roots, then serves until interrupted.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/devserver/CatalogueRoutes.h"
#include "tools/devserver/DevServer.h"
#include "tools/devserver/ForumRoutes.h"
#include "tools/devserver/InformationRoutes.h"
#include "tools/devserver/WatermarkRoutes.h"

namespace {

void usage() {
    std::fprintf(stderr, "usage: devserver --port N [--host 127.0.0.1] [--data DIR] [--second-host H] "
                         "[--second-port N] [--tls] [--tls-port N]\n");
}

bool parsePort(const char* text, int& port) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!text[0] || *end || value < 0 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    devserver::DevServer::Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* value = nullptr;
        if (arg == "--port" || arg == "--second-port" || arg == "--tls-port") {
            value = next();
            int port = 0;
            if (!value || !parsePort(value, port)) {
                usage();
                return 2;
            }
            (arg == "--port"          ? options.port
             : arg == "--second-port" ? options.secondPort
                                      : options.tlsPort) = port;
        } else if (arg == "--host" || arg == "--data" || arg == "--second-host") {
            value = next();
            if (!value) {
                usage();
                return 2;
            }
            (arg == "--host"   ? options.host
             : arg == "--data" ? options.dataDirectory
                               : options.secondHost) = value;
        } else if (arg == "--tls") {
            options.enableTLS = true;
        } else {
            usage();
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }

    // Block the stop signals before any thread starts, so that only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    devserver::DevServer server(options);
    devserver::addCatalogueRoutes(server);
    devserver::addWatermarkRoutes(server);
    devserver::addForumRoutes(server);
    devserver::addInformationRoutes(server);
    if (!server.start()) {
        std::fprintf(stderr, "devserver: %s\n", server.lastError().c_str());
        return 1;
    }
    std::printf("api root:     %s\n", server.apiRoot().c_str());
    std::printf("second root:  %s\n", server.secondRoot().c_str());
    std::printf("model prefix: %s\n", server.modelPrefix().c_str());
    if (options.enableTLS) std::printf("tls base:     %s\n", server.tlsBaseURL().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    return 0;
}
