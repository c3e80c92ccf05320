#pragma once
// The car studio's catalogue on the stand-in server: "car/getcarlist.do" and the static car-model
// area under /static/model/ (descriptions, sprite sheets, frame tables, thumbnails and logos), all
// answered from a SampleCatalogue.
//
// The car list's "cars_json" and logo addresses point back at this server (its modelPrefix()), so
// they are built per request from the server's own address. Static files carry the validators of
// the picture replies (ETag, Last-Modified, 304, ranges); paths with runs of "/" find the same file.
//
// A car's revision moves on through the returned handle (catalogue()->bumpRevision), or over HTTP
// with the test control "GET /test/catalogue/bump?car_en=<word>" (404 for an unknown car).
//
// Thread-safe: handlers run on the server's worker threads; the catalogue is thread-safe itself.

#include <memory>
#include <string>

#include "tools/devserver/DevServer.h"
#include "tools/devserver/catalogue/SampleCatalogue.h"

namespace devserver {

// The path of the car list, relative to the API root.
inline constexpr char kCarListPath[] = "car/getcarlist.do";
// The static area's prefix (absolute path).
inline constexpr char kModelAreaPath[] = "/static/model/";
// The test control that bumps a car's revision (absolute path).
inline constexpr char kBumpRevisionPath[] = "/test/catalogue/bump";

class CatalogueRoutes {
  public:
    explicit CatalogueRoutes(std::shared_ptr<catalogue::SampleCatalogue> catalogue);

    const std::shared_ptr<catalogue::SampleCatalogue>& catalogue() const { return catalogue_; }
    // The catalogue's car list with the server's own addresses.
    std::string carListJSON(const DevServer& server) const;
    // Moves a car's "updated" value on; false for an unknown car.
    bool bumpRevision(const std::string& car_en) const;

    // Registers the routes on a registry (the handlers keep this object alive).
    static void install(RouteRegistry& registry, const std::shared_ptr<CatalogueRoutes>& routes);

  private:
    std::shared_ptr<catalogue::SampleCatalogue> catalogue_;
};

// Installs the catalogue routes on the server: the given catalogue, or a newly generated one with
// the default options. Answers the routes' handle.
std::shared_ptr<CatalogueRoutes>
addCatalogueRoutes(DevServer& server, std::shared_ptr<catalogue::SampleCatalogue> catalogue = nullptr);

}  // namespace devserver
