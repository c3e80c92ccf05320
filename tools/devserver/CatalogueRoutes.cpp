#include "tools/devserver/CatalogueRoutes.h"

#include <utility>

namespace devserver {

CatalogueRoutes::CatalogueRoutes(std::shared_ptr<catalogue::SampleCatalogue> catalogue)
    : catalogue_(std::move(catalogue)) {}

std::string CatalogueRoutes::carListJSON(const DevServer& server) const {
    return catalogue_->carListJSON(server.modelPrefix());
}

bool CatalogueRoutes::bumpRevision(const std::string& car_en) const {
    return catalogue_->bumpRevision(car_en);
}

void CatalogueRoutes::install(RouteRegistry& registry, const std::shared_ptr<CatalogueRoutes>& routes) {
    DevServer& server = registry.server();
    registry.get(kCarListPath, [routes, &server](const Request&) {
        // A JSON reply keeps its object so that the route controls can bend it.
        return Reply::jsonValue(Value(routes->catalogue()->carList(server.modelPrefix())));
    });
    registry.addStatic(kModelAreaPath,
                       [routes](const std::string& relativePath) -> std::optional<StaticFile> {
                           auto file = routes->catalogue()->file(relativePath);
                           if (!file) return std::nullopt;
                           StaticFile served;
                           served.bytes = file->bytes.toString();
                           served.contentType = file->contentType;
                           return served;
                       });
    registry.get(kBumpRevisionPath, [routes](const Request& request) {
        auto car = request.queryParam("car_en");
        if (!car || !routes->bumpRevision(*car)) return Reply::notFound();
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("updated", routes->catalogue()->revision(*car));
        return Reply::success(fields);
    });
}

std::shared_ptr<CatalogueRoutes> addCatalogueRoutes(DevServer& server,
                                                    std::shared_ptr<catalogue::SampleCatalogue> catalogue) {
    if (!catalogue) catalogue = catalogue::SampleCatalogue::generate();
    auto routes = std::make_shared<CatalogueRoutes>(std::move(catalogue));
    server.addRoutes([&routes](RouteRegistry& registry) { CatalogueRoutes::install(registry, routes); });
    return routes;
}

}  // namespace devserver
