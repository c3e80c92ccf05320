// The object store's readers of outside data: model files and store files. The first byte picks
// the reader. A model that is refused must come with an error; an accepted one must be usable (a
// store made over it takes one object of each entity and reads them back). A store file that
// cannot be opened must come with an error; one that opens must answer fetches of every entity.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzSupport.h"
#include "coredata/NSManagedObjectContext.h"

namespace {

const char kModel[] = R"({"entities": [
  {"name": "Car", "attributes": [{"name": "name", "type": "string"}, {"name": "year", "type": "integer32"},
                                 {"name": "price", "type": "double"}, {"name": "built", "type": "date"},
                                 {"name": "blob", "type": "binary"}, {"name": "extra", "type": "transformable"}],
   "relationships": [{"name": "owner", "destination": "Owner", "inverse": "cars"}]},
  {"name": "Owner", "attributes": [{"name": "name", "type": "string"}],
   "relationships": [{"name": "cars", "destination": "Car", "inverse": "owner", "toMany": true}]}]})";

std::string storePath() {
    const char* base = std::getenv("APP_TEST_TMP");
    std::string dir = base && *base ? base : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(dir);
    return dir + "/fuzz-store-" + std::to_string(getpid()) + ".sqlite";
}

void fetchEverything(const Ref<NSManagedObjectContext>& context) {
    for (const auto& entity : context->managedObjectModel()->entities()) {
        Ref<NSError> error;
        auto request = NSFetchRequest::fetchRequestWithEntityName(entity->name());
        auto result = context->executeFetchRequest(request, &error);
        FUZZ_CHECK(result || error);
        if (!result) continue;
        for (const Value& v : *result) {
            auto object = v.objectAs<NSManagedObject>();
            FUZZ_CHECK(object);
            for (const auto& p : entity->properties()) object->valueForKey(p->name());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool silenced = (fuzz::silenceLog(), true);
    (void)silenced;
    if (size == 0) return 0;
    NSData bytes(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        Ref<NSError> error;
        auto model = NSManagedObjectModel::modelWithData(bytes, &error);
        if (!model) {
            FUZZ_CHECK(error != nullptr);
            return 0;
        }
        if (model->entities().size() > 16) return 0;
        auto coordinator = make<NSPersistentStoreCoordinator>(model);
        auto store = coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr,
                                                             std::nullopt, &error);
        FUZZ_CHECK(store || error);
        if (!store) return 0;
        auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
        context->setPersistentStoreCoordinator(coordinator);
        for (const auto& entity : model->entities()) NSManagedObject::insertNewObject(entity, context);
        FUZZ_CHECK(context->save(&error) || error);
        fetchEverything(context);
        return 0;
    }
    static const std::string path = storePath();
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.bytes()), static_cast<std::streamsize>(bytes.length()));
    }
    auto coordinator =
        make<NSPersistentStoreCoordinator>(NSManagedObjectModel::modelWithData(NSData::fromString(kModel)));
    Ref<NSError> error;
    auto store = coordinator->addPersistentStoreWithType(
        NSSQLiteStoreType, std::nullopt, NSURL::fileURLWithPath(path),
        Dictionary{{NSMigratePersistentStoresAutomaticallyOption, true},
                   {NSInferMappingModelAutomaticallyOption, true}},
        &error);
    if (!store) {
        FUZZ_CHECK(error != nullptr);
        // A file that is refused is left as it was.
        std::ifstream in(path, std::ios::binary);
        std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        FUZZ_CHECK(after == std::string(bytes.view()));
        return 0;
    }
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setPersistentStoreCoordinator(coordinator);
    fetchEverything(context);
    return 0;
}
