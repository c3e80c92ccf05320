#include "CatalogueModel.h"

namespace devserver::catalogue {

const SamplePart* SampleCar::part(const std::string& selector) const {
    for (const SamplePart& p : parts)
        if (p.selector == selector) return &p;
    return nullptr;
}

std::pair<const SamplePart*, const SampleOption*> SampleCar::option(const std::string& identifier) const {
    for (const SamplePart& p : parts)
        for (const SampleOption& o : p.options)
            if (o.identifier == identifier) return {&p, &o};
    return {nullptr, nullptr};
}

const SampleOption* SampleCar::defaultOption(const SamplePart& p) const {
    if (p.defaultOption && !p.defaultOption->empty()) {
        for (const SampleOption& o : p.options)
            if (o.identifier == *p.defaultOption) return &o;
        return nullptr;
    }
    for (const SampleOption& o : p.options)
        if (o.name == "原厂") return &o;
    return nullptr;
}

namespace {

SampleOption option(std::string name, std::string identifier, PartKind kind, int variant) {
    SampleOption o;
    o.name = std::move(name);
    o.identifier = std::move(identifier);
    o.look = {kind, variant, false};
    return o;
}

// Which options a car offers, by look variant per part; the first entry of each list is the
// option named "原厂" unless said otherwise.
struct Offer {
    std::vector<int> wheels{0, 1, 2};
    std::vector<int> frontBumper{0, 1, 2};
    std::vector<int> rearBumper{0, 1};
    std::vector<int> skirts{0, 1};
    std::vector<int> hood{0, 1};
    std::vector<int> fenders{0, 1};
    std::vector<int> spoiler{0, 1, 2};
    bool carbonHoodOnWideSheet = false;
    int fenderDefault = 0;
    // The spoiler part of this car has neither a default nor an option named "原厂".
    bool spoilerWithoutDefault = false;
};

std::vector<SamplePart> makeParts(const Offer& offer) {
    auto named = [](PartKind kind, int v) -> std::pair<std::string, std::string> {
        switch (kind) {
            case PartKind::Body:
                return {"原厂", "cheshen_std"};
            case PartKind::Wheels: {
                static const char* names[] = {"原厂", "运动轮毂", "锻造轮毂"};
                static const char* ids[] = {"lunke_std", "lunke_sport", "lunke_forged"};
                return {names[v], ids[v]};
            }
            case PartKind::FrontBumper: {
                static const char* names[] = {"原厂", "运动前唇", "竞技前杠"};
                static const char* ids[] = {"qianbaowei_std", "qianbaowei_sport", "qianbaowei_race"};
                return {names[v], ids[v]};
            }
            case PartKind::RearBumper: {
                static const char* names[] = {"原厂", "扩散器后杠"};
                static const char* ids[] = {"houbaowei_std", "houbaowei_diffuser"};
                return {names[v], ids[v]};
            }
            case PartKind::SideSkirts: {
                static const char* names[] = {"原厂", "加宽侧裙"};
                static const char* ids[] = {"cequn_std", "cequn_wide"};
                return {names[v], ids[v]};
            }
            case PartKind::Hood: {
                static const char* names[] = {"原厂", "散热孔机盖", "碳纤维机盖"};
                static const char* ids[] = {"yinqinggai_std", "yinqinggai_vented", "yinqinggai_carbon"};
                return {names[v], ids[v]};
            }
            case PartKind::Fenders: {
                static const char* names[] = {"原厂", "宽体叶子板"};
                static const char* ids[] = {"yeziban_std", "yeziban_wide"};
                return {names[v], ids[v]};
            }
            case PartKind::Spoiler: {
                static const char* names[] = {"无尾翼", "鸭尾", "竞技尾翼"};
                static const char* ids[] = {"weiyi_none", "weiyi_duck", "weiyi_wing"};
                return {names[v], ids[v]};
            }
        }
        return {};
    };
    auto options = [&](PartKind kind, const std::vector<int>& variants) {
        std::vector<SampleOption> list;
        for (int v : variants) {
            auto [name, id] = named(kind, v);
            list.push_back(option(name, id, kind, v));
        }
        return list;
    };
    auto part = [](std::string name, std::string selector, PartKind kind, int z, bool color, int angle) {
        SamplePart p;
        p.name = std::move(name);
        p.selector = std::move(selector);
        p.kind = kind;
        p.z = z;
        p.color = color;
        p.modifyAngle = angle;
        return p;
    };

    std::vector<SamplePart> parts;
    // Listed in an order other than their layers, so that a client sorting by "z" shows it.
    SamplePart body = part("车身", kBodySelector, PartKind::Body, 0, true, 1);
    body.active = false;
    body.canModify = false;  // its modifyAngle is then not to be read
    body.defaultOption = "";
    body.options = options(PartKind::Body, {0});
    parts.push_back(body);

    SamplePart wheels = part("轮毂", "lunke", PartKind::Wheels, 6, false, 4);
    wheels.suspensible = false;
    wheels.defaultOption = "lunke_std";
    wheels.options = options(PartKind::Wheels, offer.wheels);
    parts.push_back(wheels);

    SamplePart front = part("前保险杠", "qianbaowei", PartKind::FrontBumper, 2, true, 23);
    front.defaultOption = "";  // the option named "原厂"
    front.options = options(PartKind::FrontBumper, offer.frontBumper);
    parts.push_back(front);

    SamplePart rear = part("后保险杠", "houbaowei", PartKind::RearBumper, 3, true, 10);
    rear.defaultOption = "houbaowei_std";
    rear.options = options(PartKind::RearBumper, offer.rearBumper);
    parts.push_back(rear);

    SamplePart skirts = part("侧裙", "cequn", PartKind::SideSkirts, 1, false, 4);
    skirts.options = options(PartKind::SideSkirts, offer.skirts);  // no "defaultOption": "原厂" is taken
    parts.push_back(skirts);

    SamplePart hood = part("引擎盖", "yinqinggai", PartKind::Hood, 5, true, 25);
    hood.defaultOption = "";
    hood.options = options(PartKind::Hood, offer.hood);
    for (SampleOption& o : hood.options) o.wideSheet = offer.carbonHoodOnWideSheet && o.look.variant == 2;
    parts.push_back(hood);

    SamplePart fenders = part("叶子板", "yeziban", PartKind::Fenders, 4, false, 2);
    fenders.defaultOption = named(PartKind::Fenders, offer.fenderDefault).second;
    fenders.options = options(PartKind::Fenders, offer.fenders);
    parts.push_back(fenders);

    SamplePart spoiler = part("尾翼", "weiyi", PartKind::Spoiler, 7, true, 8);
    spoiler.options = options(PartKind::Spoiler, offer.spoiler);
    for (SampleOption& o : spoiler.options) o.hasMetal = o.look.variant != 0;
    if (!offer.spoilerWithoutDefault) spoiler.defaultOption = "weiyi_none";
    parts.push_back(spoiler);
    return parts;
}

std::vector<SamplePreset> makePresets(const SampleCar& car) {
    std::vector<SamplePreset> presets;
    auto has = [&](const std::string& id) { return car.option(id).second != nullptr; };
    auto add = [&](std::string name, std::string id, std::vector<std::pair<std::string, std::string>> map) {
        SamplePreset p{std::move(name), std::move(id), {}};
        for (auto& [selector, option] : map)
            if (option.empty() || has(option)) p.partsAndOptions.push_back({selector, option});
        presets.push_back(std::move(p));
    };
    add("运动套件", "preset_sport",
        {{"qianbaowei", "qianbaowei_sport"},
         {"houbaowei", "houbaowei_diffuser"},
         {"cequn", "cequn_wide"},
         {"weiyi", "weiyi_duck"},
         {"lunke", ""}});
    add("赛道套件", "preset_track",
        {{"qianbaowei", "qianbaowei_race"},
         {"lunke", "lunke_sport"},
         {"weiyi", "weiyi_wing"},
         {"yinqinggai", "yinqinggai_vented"},
         {"yeziban", "yeziban_wide"}});
    std::vector<std::pair<std::string, std::string>> stock;
    for (const char* s : kTuningSelectors) stock.push_back({s, ""});
    add("原厂外观", "preset_stock", stock);
    return presets;
}

SampleCar makeCar(int id, std::string name, std::string word, std::string identifier, bool kuanti,
                  CarShape shape, const Offer& offer) {
    SampleCar car;
    car.cars_id = id;
    car.cars_name = std::move(name);
    car.car_en = std::move(word);
    car.identifier = std::move(identifier);
    car.kuanti = kuanti;
    car.shape = shape;
    car.parts = makeParts(offer);
    car.presets = makePresets(car);
    return car;
}

}  // namespace

std::vector<SampleBrand> sampleBrands() {
    std::vector<SampleBrand> brands;

    SampleBrand first{1, kDefaultBrandName, "brand_1", {28, 60, 120}, {}};
    {
        Offer offer;
        offer.hood = {0, 1, 2};
        offer.carbonHoodOnWideSheet = true;
        first.cars.push_back(
            makeCar(101, "示例轿跑", "sample_coupe", "sample_coupe", false, CarShape{}, offer));
    }
    {
        CarShape wide;
        wide.length = 4.5;
        wide.width = 2.08;
        wide.beltline = 0.8;
        wide.roof = 1.22;
        wide.paint = {236, 224, 204};
        Offer offer;
        offer.wheels = {0, 2};
        offer.frontBumper = {0, 1};
        offer.spoiler = {0, 2};
        offer.fenderDefault = 1;
        first.cars.push_back(makeCar(102, "示例宽体", "sample_wide", "sample_wide", true, wide, offer));
    }
    brands.push_back(std::move(first));

    SampleBrand second{2, "青岚汽车", "brand_2", {30, 120, 90}, {}};
    {
        CarShape wagon;
        wagon.length = 4.8;
        wagon.roof = 1.42;
        wagon.cabinRear = -2.05;
        wagon.roofRear = -1.98;
        wagon.cabinFront = 0.7;
        wagon.roofFront = 0.2;
        wagon.paint = {200, 228, 210};
        Offer offer;
        offer.wheels = {0, 1};
        offer.frontBumper = {0, 2};
        offer.spoiler = {1, 2};
        offer.spoilerWithoutDefault = true;
        // Its pictures keep the folder of its car word; the identifier is a later revision's.
        second.cars.push_back(
            makeCar(201, "示例旅行车", "sample_wagon", "sample_wagon_v2", false, wagon, offer));
    }
    brands.push_back(std::move(second));

    SampleBrand third{3, "样车工坊", "brand_3", {150, 60, 30}, {}};
    {
        CarShape tall;
        tall.length = 4.4;
        tall.width = 1.95;
        tall.clearance = 0.38;
        tall.beltline = 1.05;
        tall.roof = 1.72;
        tall.wheelRadius = 0.42;
        tall.axle = 1.35;
        tall.cabinRear = -1.9;
        tall.roofRear = -1.85;
        tall.cabinFront = 0.5;
        tall.roofFront = 0.1;
        tall.paint = {228, 208, 200};
        Offer offer;
        offer.wheels = {0, 2};
        offer.frontBumper = {0, 1};
        offer.spoiler = {0, 1};
        third.cars.push_back(
            makeCar(301, "示例越野", "sample_offroad", "sample_offroad", false, tall, offer));
    }
    brands.push_back(std::move(third));
    return brands;
}

Dictionary describeCar(const SampleCar& car, int showcaseWidth, int showcaseHeight,
                       const std::string& updated) {
    Dictionary showcase;
    showcase.setObject("width", showcaseWidth);
    showcase.setObject("height", showcaseHeight);
    showcase.setObject("suspension", car.suspension);

    Array parts = Array::mutableArray();
    for (const SamplePart& p : car.parts) {
        Dictionary part;
        part.setObject("name", p.name);
        part.setObject("partSelector", p.selector);
        part.setObject("z", p.z);
        part.setObject("active", p.active);
        part.setObject("canModify", p.canModify);
        part.setObject("color", p.color);
        part.setObject("suspensible", p.suspensible);
        if (p.defaultOption) part.setObject("defaultOption", *p.defaultOption);
        part.setObject("modifyAngle", p.modifyAngle);
        Array options = Array::mutableArray();
        for (const SampleOption& o : p.options) {
            Dictionary option;
            option.setObject("name", o.name);
            option.setObject("identifier", o.identifier);
            option.setObject("thumbnail", o.thumbnail());
            option.setObject("metalFile", o.metalFile());
            // Without a second layer the name is left out for some parts and empty for others;
            // the client treats both alike.
            if (o.hasAttach() || (p.kind != PartKind::Body && p.kind != PartKind::Hood))
                option.setObject("attachFile", o.attachFile());
            options.addObject(option);
        }
        part.setObject("options", options);
        parts.addObject(part);
    }

    Array presets = Array::mutableArray();
    for (const SamplePreset& m : car.presets) {
        Dictionary map;
        for (auto& [selector, option] : m.partsAndOptions) map.setObject(selector, option);
        Dictionary preset;
        preset.setObject("name", m.name);
        preset.setObject("thumbnail", m.thumbnail());
        preset.setObject("partsAndOptions", map);
        presets.addObject(preset);
    }

    Dictionary description;
    description.setObject("showcase", showcase);
    description.setObject("updated", updated);
    description.setObject("identifier", car.identifier);
    description.setObject("parts", parts);
    description.setObject("modificator", presets);
    return description;
}

}  // namespace devserver::catalogue
