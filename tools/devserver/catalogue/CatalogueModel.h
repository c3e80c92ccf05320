#pragma once
// The sample catalogue's content: brands, their cars, each car's parts, options and presets, and
// the look the painter gives every option. Plain data, fixed at build time, so every run serves
// the same catalogue.
//
// File names follow the car-model folder layout: per option "<identifier>_metal.png" with its
// frame table "<identifier>_metal.json", "<identifier>_attach.png/.json" when the option has a
// second layer, "<identifier>_thumb.png"; per preset "<identifier>_thumb.png"; the description
// "car.json" and the car's logo "logo.png". No name holds ".png" before its extension, since the
// client finds a frame table by replacing every ".png" of a sheet's address.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CarPainter.h"
#include "foundation/Value.h"

namespace devserver::catalogue {

struct SampleOption {
    std::string name, identifier;
    PartLook look;
    // False for the option that shows nothing (its "metalFile" is empty).
    bool hasMetal = true;
    // Packed into the one sheet that is deliberately wider than 4096 pixels.
    bool wideSheet = false;

    bool hasAttach() const { return hasMetal && lookHasAttach(look); }
    std::string metalFile() const { return hasMetal ? identifier + "_metal.png" : ""; }
    std::string attachFile() const { return hasAttach() ? identifier + "_attach.png" : ""; }
    std::string thumbnail() const { return identifier + "_thumb.png"; }
};

struct SamplePart {
    std::string name, selector;
    PartKind kind = PartKind::Body;
    int z = 0;
    bool active = true, canModify = true, color = false, suspensible = true;
    // nullopt: the description leaves "defaultOption" out.
    std::optional<std::string> defaultOption;
    int modifyAngle = 1;
    std::vector<SampleOption> options;
};

struct SamplePreset {
    std::string name, identifier;
    // Part selector to option identifier; "" stands for the part's default.
    std::vector<std::pair<std::string, std::string>> partsAndOptions;
    std::string thumbnail() const { return identifier + "_thumb.png"; }
};

struct SampleCar {
    int cars_id = 0;
    std::string cars_name, car_en, identifier;
    bool kuanti = false;
    CarShape shape;
    double suspension = 8;
    std::vector<SamplePart> parts;
    std::vector<SamplePreset> presets;

    const SamplePart* part(const std::string& selector) const;
    // The option with this identifier and its part, or nulls.
    std::pair<const SamplePart*, const SampleOption*> option(const std::string& identifier) const;
    // The option a part shows first: a non-empty default names it, else the one named "原厂".
    const SampleOption* defaultOption(const SamplePart& part) const;
};

struct SampleBrand {
    int brand_id = 0;
    std::string brand_name, brand;
    RGB colour;
    std::vector<SampleCar> cars;
};

// The brand the studio opens with.
inline constexpr char kDefaultBrandName[] = "玛莎拉蒂";
// The selectors a tuning list stores, besides the body.
inline constexpr const char* kTuningSelectors[] = {"lunke",      "qianbaowei", "houbaowei", "cequn",
                                                   "yinqinggai", "yeziban",    "weiyi"};
inline constexpr char kBodySelector[] = "cheshen";

std::vector<SampleBrand> sampleBrands();

// The car description the client downloads (no envelope).
Dictionary describeCar(const SampleCar& car, int showcaseWidth, int showcaseHeight,
                       const std::string& updated);

}  // namespace devserver::catalogue
