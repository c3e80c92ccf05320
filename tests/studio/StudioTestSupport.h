#pragma once
// Shared pieces of the car studio tests: a sandbox per test, the stand-in server with the sample
// catalogue on loopback (the app's settings point at it), files served in place of a car's
// folder, a recording car delegate and waits that pump the main run loop.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "foundation/NSSandbox.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageDownloader.h"
#include "network/NSURLCache.h"
#include "studio/QVNCar.h"
#include "studio/QVNCarDelegate.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/CatalogueRoutes.h"
#include "tools/devserver/DevServer.h"
#include "tools/devserver/catalogue/SampleCatalogue.h"

namespace studiotest {

using devserver::catalogue::Picture;
using devserver::catalogue::SampleCatalogue;

// One catalogue per process: its pictures are drawn once, on first use.
inline std::shared_ptr<SampleCatalogue> sharedCatalogue() {
    static std::shared_ptr<SampleCatalogue> catalogue = SampleCatalogue::generate();
    return catalogue;
}

inline bool waitUntil(const std::function<bool()>& condition, double seconds = 20) {
    return testsupport::pumpMainRunLoopUntil(condition, seconds);
}

// Counts the success signals of a car.
class RecordingCarDelegate : public NSObject, public QVNCarDelegate {
  public:
    void carLoadOptionsSuccess(const Ref<QVNCar>& car) override {
        ++successes;
        lastCar = car;
    }
    int successes = 0;
    Ref<QVNCar> lastCar;
};

// Files served under "/static/model/<folder>/", replacing whatever the catalogue has there.
class ServedFiles {
  public:
    void set(const std::string& name, std::string bytes, std::string contentType = "") {
        std::lock_guard lock(mutex_);
        files_[name] = devserver::StaticFile{std::move(bytes), std::move(contentType), std::nullopt};
    }
    void remove(const std::string& name) {
        std::lock_guard lock(mutex_);
        files_.erase(name);
    }
    std::optional<devserver::StaticFile> get(const std::string& name) const {
        std::lock_guard lock(mutex_);
        auto it = files_.find(name);
        if (it == files_.end()) return std::nullopt;
        return it->second;
    }

  private:
    mutable std::mutex mutex_;
    std::map<std::string, devserver::StaticFile> files_;
};

class StudioServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        catalogue = sharedCatalogue();
        routes = devserver::addCatalogueRoutes(server, catalogue);
        ASSERT_TRUE(server.start()) << server.lastError();
        QVNConfiguration::useServer(server.baseURL());
        // The stand-in's stop() waits for idle keep-alive connections; closed ones keep tests quick.
        QVNAPIClient::sharedClient()->requestSerializer()->setValue(std::string("close"), "Connection");
        WIWebImageDownloader::sharedDownloader()->setValue(std::string("close"), "Connection");
        Ref<WIImageCache> images = WIImageCache::sharedImageCache();
        images->setDiskCachePath(sandbox_.path() + "/Library/Caches/images");
        images->clearMemory();
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        server.stop();
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
    }

    // Serves `files` under "/static/model/<folder>/"; names not in it come from the catalogue's
    // folder `sourceCar` when one is given.
    void serveFolder(const std::string& folder, std::shared_ptr<ServedFiles> files,
                     const std::string& sourceCar = "") {
        auto source = catalogue;
        server.routes().addStatic(
            "/static/model/" + folder + "/",
            [files, source, sourceCar](const std::string& name) -> std::optional<devserver::StaticFile> {
                if (auto file = files->get(name)) return file;
                if (sourceCar.empty()) return std::nullopt;
                auto file = source->file(sourceCar + "/" + name);
                if (!file) return std::nullopt;
                return devserver::StaticFile{file->bytes.toString(), file->contentType, std::nullopt};
            });
    }

    // A catalogue car as the list would give it.
    Ref<QVNCar> carNamed(const std::string& car_en, const std::string& folder = "") {
        auto car = make<QVNCar>();
        car->car_en = car_en;
        car->cars_json = server.modelPrefix() + (folder.empty() ? car_en : folder) + "/car.json";
        if (const auto* sample = catalogue->car(car_en)) {
            car->cars_id = NSNumber::numberWithInt(sample->cars_id);
            car->cars_name = sample->cars_name;
        }
        return car;
    }

    // Fetches the description; nullopt when it did not finish in time.
    std::optional<bool> loadDescription(const Ref<QVNCar>& car) {
        std::optional<bool> result;
        car->downLoadAndConfigureInformationWithCompletion([&](bool ok) { result = ok; });
        if (!waitUntil([&] { return result.has_value(); })) return std::nullopt;
        return result;
    }

    // One download pass; true on the success signal, false on a failure report. Progress comes on
    // the download threads, several at once, hence the atomic count.
    std::optional<bool> loadOptions(const Ref<QVNCar>& car, std::atomic<int>* progressCalls = nullptr) {
        auto delegate = make<RecordingCarDelegate>();
        car->setDelegate(delegate);
        int failures = 0;
        car->downLoadAndSetupOptionsWithProgress(
            [progressCalls](std::int64_t, std::int64_t) {
                if (progressCalls) ++*progressCalls;
            },
            [&](bool ok) {
                EXPECT_FALSE(ok);
                ++failures;
            });
        bool ended = waitUntil([&] { return delegate->successes > 0 || failures > 0; }, 60);
        car->setDelegate(Weak<QVNCarDelegate>());
        if (!ended) return std::nullopt;
        return delegate->successes > 0;
    }

    // The sample car the studio opens with, and one with an attach sheet.
    std::string defaultCar() const { return catalogue->brands().front().cars.front().car_en; }

    std::string carFolder(const std::string& car_en) const {
        return sandbox_.path() + "/Library/Caches/Cars/" + car_en;
    }

    testsupport::TemporaryDirectory sandbox_;
    devserver::DevServer server;
    std::shared_ptr<SampleCatalogue> catalogue;
    std::shared_ptr<devserver::CatalogueRoutes> routes;
};

}  // namespace studiotest
