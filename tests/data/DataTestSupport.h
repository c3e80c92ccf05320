#pragma once
// The fixture of the helper tests: a fresh sandbox and main bundle (named Garage, holding the
// model file "Garage.model"), registered managed-object classes for the model's entities, a log
// that the test can read, and a clean default stack before and after.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "data/DataRecord.h"
#include "data/NSManagedObjectContext+DataRecord.h"
#include "data/NSPersistentStoreCoordinator+DataRecord.h"
#include "foundation/NSBundle.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace datatest {

class Owner : public NSManagedObject {
  public:
    std::string className() const override { return "Owner"; }
};
class Car : public NSManagedObject {
  public:
    std::string className() const override { return "Car"; }
};
class Part : public NSManagedObject {
  public:
    std::string className() const override { return "Part"; }
};

inline const NSManagedObjectClass* ownerClass() {
    static const auto* cls = NSManagedObjectClass::registerClass<Owner>("Owner");
    return cls;
}
inline const NSManagedObjectClass* carClass() {
    static const auto* cls = NSManagedObjectClass::registerClass<Car>("Car");
    return cls;
}
inline const NSManagedObjectClass* partClass() {
    static const auto* cls = NSManagedObjectClass::registerClass<Part>("Part");
    return cls;
}

inline std::string modelText(bool withColour = false) {
    std::string extra = withColour ? R"(, {"name": "colour", "type": "string", "defaultValue": "red"})" : "";
    return R"({"entities": [
      {"name": "Owner", "representedClassName": "Owner", "userInfo": {"relatedByAttribute": "ownerID"},
       "attributes": [{"name": "ownerID", "type": "integer64"}, {"name": "name", "type": "string"}],
       "relationships": [{"name": "cars", "destination": "Car", "inverse": "owner", "toMany": true, "ordered": true}]},
      {"name": "Car", "representedClassName": "Car",
       "attributes": [{"name": "carID", "type": "integer64"},
                      {"name": "name", "type": "string", "userInfo": {"mappedKeyName": "title", "mappedKeyName.1": "info.name"}},
                      {"name": "price", "type": "double", "userInfo": {"mappedKeyName": "cost", "mappedKeyName.1": "pricing.value"}},
                      {"name": "year", "type": "integer32", "defaultValue": 2000, "userInfo": {"useDefaultValueWhenNotPresent": true}},
                      {"name": "sold", "type": "boolean"},
                      {"name": "built", "type": "date", "userInfo": {"dateFormat": "UnixTime"}},
                      {"name": "registered", "type": "date"},
                      {"name": "tint", "type": "transformable", "userInfo": {"attributeValueClassName": "UIColor"}})" +
           extra + R"(],
       "relationships": [{"name": "owner", "destination": "Owner", "inverse": "cars"},
                         {"name": "parts", "destination": "Part", "inverse": "car", "toMany": true}]},
      {"name": "Part", "representedClassName": "Part", "userInfo": {"relatedByAttribute": "label"},
       "attributes": [{"name": "label", "type": "string"}, {"name": "weight", "type": "float"}],
       "relationships": [{"name": "car", "destination": "Car", "inverse": "parts"}]}
    ]})";
}

// A document as the import reads it, from its JSON text.
inline Value json(const std::string& text) {
    return NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), 0, nullptr);
}

class DataStack : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory sandbox;
    testsupport::TemporaryDirectory bundle;
    std::vector<std::string> logged;
    NSLogSink previousSink;

    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox.path()));
        std::ofstream(bundle.file("Garage.model")) << modelText();
        NSBundle::setMainBundlePath(bundle.path());
        NSBundle::setInfoValue("CFBundleName", "Garage");
        NSBundle::setInfoValue("CFBundleIdentifier", "com.example.garage");
        ownerClass();
        carClass();
        partClass();
        DataRecord::cleanUp();
        DataRecord::resetOptionsForTesting();
        previousSink = NSLogSetSink([this](const std::string& line) { logged.push_back(line); });
    }

    void TearDown() override {
        DataRecord::cleanUp();
        DataRecord::resetOptionsForTesting();
        testsupport::drainMainRunLoop();
        NSLogSetSink(previousSink);
        NSBundle::setInfoValue("CFBundleName", Value());
        NSBundle::setInfoValue("CFBundleIdentifier", Value());
    }

    bool loggedLine(const std::string& line) const {
        for (const auto& l : logged) {
            if (l == line) return true;
        }
        return false;
    }
    bool loggedContaining(const std::string& part) const {
        for (const auto& l : logged) {
            if (l.find(part) != std::string::npos) return true;
        }
        return false;
    }

    static Ref<NSManagedObjectContext> defaultContext() {
        return NSManagedObjectContext_DataRecord::DR_defaultContext();
    }
};

}  // namespace datatest
