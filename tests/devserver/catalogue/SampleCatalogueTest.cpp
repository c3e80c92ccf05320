// The catalogue as the client sees it: the car list, the descriptions and every sheet cut back
// into its frames exactly as the studio cuts them.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "foundation/NSJSONSerialization.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/catalogue/SampleCatalogue.h"

using namespace devserver::catalogue;

namespace {

constexpr char kPrefix[] = "http://127.0.0.1:4321/static/model/";

Value parse(const NSData& bytes) {
    Ref<NSError> error;
    Value v = NSJSONSerialization::JSONObjectWithData(bytes, 0, &error);
    EXPECT_FALSE(error) << (error ? error->localizedDescription() : "");
    return v;
}

class SampleCatalogueTest : public ::testing::Test {
  protected:
    std::shared_ptr<SampleCatalogue> catalogue = SampleCatalogue::generate();

    Value json(const std::string& path) {
        auto f = catalogue->file(path);
        EXPECT_TRUE(f) << path;
        if (!f) return {};
        EXPECT_EQ(f->contentType, "application/json") << path;
        return parse(f->bytes);
    }
    Value description(const std::string& car) { return json(car + "/car.json"); }

    // Calls fn(car word, description) for every car.
    template <class Fn>
    void forEachDescription(Fn fn) {
        for (const SampleBrand& b : catalogue->brands())
            for (const SampleCar& c : b.cars) {
                // Held in a local: the loop must not run over a destroyed temporary.
                Value d = description(c.car_en);
                fn(c.car_en, d);
            }
    }

    // Every part of every car, with its car word.
    std::vector<std::pair<std::string, Value>> allParts() {
        std::vector<std::pair<std::string, Value>> out;
        forEachDescription([&](const std::string& car, const Value& d) {
            for (const Value& p : *d["parts"].array()) out.push_back({car, p});
        });
        return out;
    }

    // Cuts every frame of a sheet the way the client does, from the served bytes only, and
    // compares it with the drawing it came from. Returns the number of rotated frames.
    int checkSheet(const std::string& car, const std::string& option, bool attach) {
        const std::string stem = car + "/" + option + (attach ? "_attach" : "_metal");
        auto png = catalogue->file(stem + ".png");
        EXPECT_TRUE(png) << stem;
        if (!png) return 0;
        EXPECT_EQ(png->contentType, "image/png");
        auto sheet = decodePicture(png->bytes);
        EXPECT_TRUE(sheet) << stem;
        Value table = json(stem + ".json");
        const Array* frames = table["frames"].array();
        EXPECT_TRUE(frames && frames->count() == 25) << stem;
        if (!sheet || !frames) return 0;
        for (std::size_t i = 3; i < sheet->rgba.size(); i += 4)
            if (sheet->rgba[i] != 0 && sheet->rgba[i] != 255) {
                ADD_FAILURE() << stem << " has partial alpha";
                break;
            }
        int rotatedCount = 0;
        std::set<std::string> names;
        for (const Value& f : *frames) {
            const std::string name = f["filename"].stringValue();
            names.insert(name);
            const int angle = std::stoi(name.substr(0, name.find('.')));
            const int x = f["frame"]["x"].intValue(), y = f["frame"]["y"].intValue();
            const int w = f["frame"]["w"].intValue(), h = f["frame"]["h"].intValue();
            const bool rotated = f["rotated"].boolValue();
            rotatedCount += rotated;
            EXPECT_TRUE(f["trimmed"].boolValue()) << stem << " " << name;
            EXPECT_EQ(f["sourceSize"]["w"].intValue(), catalogue->options().showcaseWidth);
            EXPECT_EQ(f["sourceSize"]["h"].intValue(), catalogue->options().showcaseHeight);
            EXPECT_EQ(f["spriteSourceSize"]["w"].intValue(), w);
            EXPECT_EQ(f["spriteSourceSize"]["h"].intValue(), h);
            const int sx = f["spriteSourceSize"]["x"].intValue(), sy = f["spriteSourceSize"]["y"].intValue();
            const int sheetW = rotated ? h : w, sheetH = rotated ? w : h;
            if (x < 0 || y < 0 || x + sheetW > sheet->width || y + sheetH > sheet->height) {
                ADD_FAILURE() << stem << " " << name << " lies outside the sheet";
                continue;
            }
            // Upright pixel (i, j) sits at (x + h - 1 - j, y + i) when rotated, (x + i, y + j) if not.
            Picture canvas(f["sourceSize"]["w"].intValue(), f["sourceSize"]["h"].intValue());
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i) {
                    const std::uint8_t* from =
                        rotated ? sheet->pixel(x + h - 1 - j, y + i) : sheet->pixel(x + i, y + j);
                    std::memcpy(canvas.pixel(sx + i, sy + j), from, 4);
                }
            auto original = catalogue->sourceDrawing(car, option, angle, attach);
            EXPECT_TRUE(original);
            if (original && !(canvas == *original)) ADD_FAILURE() << stem << " frame " << name << " differs";
            // Trimmed to the drawn pixels: every edge row and column of the cut has one.
            EXPECT_EQ(opaqueBounds(canvas), (PixelRect{sx, sy, w, h})) << stem << " " << name;
            EXPECT_EQ(readAngleMark(canvas), angle) << stem << " " << name;
        }
        EXPECT_EQ(names.size(), 25u);
        EXPECT_TRUE(names.count("01.png") && names.count("25.png"));
        return rotatedCount;
    }
};

}  // namespace

// ---- sheets and frame tables --------------------------------------------------------------

TEST_F(SampleCatalogueTest, EverySheetOfTheDefaultCarRoundTrips) {
    const SampleCar* car = catalogue->car("sample_coupe");
    ASSERT_NE(car, nullptr);
    int sheets = 0;
    for (const SamplePart& part : car->parts)
        for (const SampleOption& option : part.options) {
            if (option.hasMetal) {
                EXPECT_GT(checkSheet(car->car_en, option.identifier, false), 0) << option.identifier;
                ++sheets;
            }
            if (option.hasAttach()) {
                checkSheet(car->car_en, option.identifier, true);
                ++sheets;
            }
        }
    EXPECT_GE(sheets, 18);
}

TEST_F(SampleCatalogueTest, SheetsOfTheOtherCarsRoundTrip) {
    for (const char* car : {"sample_wide", "sample_wagon", "sample_offroad"}) {
        checkSheet(car, "cheshen_std", false);
        checkSheet(car, "lunke_std", false);
    }
    checkSheet("sample_wagon", "weiyi_wing", true);
    checkSheet("sample_wide", "yeziban_wide", false);
}

TEST_F(SampleCatalogueTest, OneSheetIsWiderThan4096AndTheRestAreNot) {
    int wide = 0;
    for (const std::string& path : catalogue->filePaths()) {
        if (!path.ends_with("_metal.png") && !path.ends_with("_attach.png")) continue;
        auto f = catalogue->file(path);
        ASSERT_TRUE(f);
        // Width from the PNG header, without decoding.
        const std::uint8_t* b = f->bytes.bytes();
        const int width = (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
        if (width > 4096) {
            ++wide;
            EXPECT_EQ(width, 4097) << path;
            EXPECT_EQ(path, "sample_coupe/yinqinggai_carbon_metal.png");
        }
    }
    EXPECT_EQ(wide, 1);
    checkSheet("sample_coupe", "yinqinggai_carbon", false);
}

TEST_F(SampleCatalogueTest, SourceDrawingRefusesWhatHasNoSheet) {
    EXPECT_FALSE(catalogue->sourceDrawing("nope", "cheshen_std", 1));
    EXPECT_FALSE(catalogue->sourceDrawing("sample_coupe", "nope", 1));
    EXPECT_FALSE(catalogue->sourceDrawing("sample_coupe", "cheshen_std", 0));
    EXPECT_FALSE(catalogue->sourceDrawing("sample_coupe", "cheshen_std", 26));
    EXPECT_FALSE(catalogue->sourceDrawing("sample_coupe", "weiyi_none", 1));
    EXPECT_FALSE(catalogue->sourceDrawing("sample_coupe", "lunke_std", 1, true));
    EXPECT_TRUE(catalogue->sourceDrawing("sample_coupe", "lunke_sport", 1, true));
    EXPECT_FALSE(catalogue->file("sample_coupe/weiyi_none_metal.png"));
    EXPECT_FALSE(catalogue->file("sample_coupe/lunke_std_attach.png"));
}

TEST_F(SampleCatalogueTest, RotationIsAMixPerSheet) {
    int rotated = 0;
    for (int angle = 1; angle <= 25; ++angle) rotated += SampleCatalogue::frameRotated(angle);
    EXPECT_GT(rotated, 0);
    EXPECT_LT(rotated, 25);
}

// ---- descriptions ----------------------------------------------------------------------------

TEST_F(SampleCatalogueTest, EveryCarHasEveryTuningSelectorAndLayersZeroToNMinusOne) {
    forEachDescription([&](const std::string& car, const Value& d) {
        const Array* parts = d["parts"].array();
        ASSERT_NE(parts, nullptr);
        std::set<long> z;
        std::set<std::string> selectors;
        bool inOrder = true;
        for (std::size_t i = 0; i < parts->count(); ++i) {
            z.insert((*parts)[i]["z"].integerValue());
            selectors.insert((*parts)[i]["partSelector"].stringValue());
            inOrder = inOrder && (*parts)[i]["z"].integerValue() == static_cast<long>(i);
        }
        EXPECT_EQ(z.size(), parts->count()) << car;
        EXPECT_EQ(*z.begin(), 0);
        EXPECT_EQ(*z.rbegin(), static_cast<long>(parts->count()) - 1);
        EXPECT_FALSE(inOrder) << "listing order differs from layer order, so sorting shows";
        for (const char* s :
             {"lunke", "qianbaowei", "houbaowei", "cequn", "yinqinggai", "yeziban", "weiyi", "cheshen"})
            EXPECT_TRUE(selectors.count(s)) << car << " lacks " << s;
    });
}

TEST_F(SampleCatalogueTest, DescriptionKeysAndTypes) {
    Value d = description("sample_coupe");
    EXPECT_EQ(d["showcase"]["width"].intValue(), 400);
    EXPECT_EQ(d["showcase"]["height"].intValue(), 240);
    EXPECT_TRUE(d["showcase"]["suspension"].isNumber());
    EXPECT_EQ(d["identifier"].stringValue(), "sample_coupe");
    EXPECT_TRUE(d["updated"].isString());
    EXPECT_FALSE(d.dictionary()->containsKey("resultCode")) << "no envelope";
    for (const Value& p : *d["parts"].array()) {
        for (const char* key : {"active", "canModify", "color", "suspensible"})
            EXPECT_TRUE(p[key].number() && p[key].number()->isBoolean()) << key;
        EXPECT_TRUE(p["name"].isString());
        EXPECT_TRUE(p["modifyAngle"].isNumber());
        if (p["canModify"].boolValue()) {
            EXPECT_GE(p["modifyAngle"].intValue(), 1);
            EXPECT_LE(p["modifyAngle"].intValue(), 25);
        }
        std::set<std::string> ids;
        for (const Value& o : *p["options"].array()) {
            EXPECT_TRUE(ids.insert(o["identifier"].stringValue()).second);
            EXPECT_TRUE(o["name"].isString());
            EXPECT_FALSE(o["thumbnail"].stringValue().empty());
        }
    }
}

TEST_F(SampleCatalogueTest, DefaultOptionCasesAllOccur) {
    bool withoutDefault = false, byOriginalName = false, byIdentifier = false, colourable = false,
         plain = false, emptyMetal = false, attach = false, absentAttach = false;
    for (auto& [car, p] : allParts()) {
        const Array& options = *p["options"].array();
        const Value& def = p["defaultOption"];
        bool hasOriginal = false;
        for (const Value& o : options) {
            hasOriginal = hasOriginal || o["name"].stringValue() == "原厂";
            emptyMetal = emptyMetal || (o["metalFile"].isString() && o["metalFile"].stringValue().empty());
            attach = attach || !o["attachFile"].stringValue().empty();
            absentAttach = absentAttach || o["attachFile"].isNil();
        }
        if (def.isString() && !def.stringValue().empty()) {
            byIdentifier = true;
            bool found = false;
            for (const Value& o : options)
                found = found || o["identifier"].stringValue() == def.stringValue();
            EXPECT_TRUE(found) << car << " " << p["partSelector"].stringValue() << " names a missing option";
        } else if (hasOriginal) {
            byOriginalName = true;
        } else {
            withoutDefault = true;
        }
        (p["color"].boolValue() ? colourable : plain) = true;
    }
    EXPECT_TRUE(withoutDefault);
    EXPECT_TRUE(byOriginalName);
    EXPECT_TRUE(byIdentifier);
    EXPECT_TRUE(colourable);
    EXPECT_TRUE(plain);
    EXPECT_TRUE(emptyMetal);
    EXPECT_TRUE(attach);
    EXPECT_TRUE(absentAttach);
}

TEST_F(SampleCatalogueTest, TheDefaultCarShowsSomethingForEveryPart) {
    // The studio opens this car first; each part must have a default so its download completes.
    const SampleCar* car = catalogue->car("sample_coupe");
    for (const SamplePart& part : car->parts) EXPECT_NE(car->defaultOption(part), nullptr) << part.selector;
}

TEST_F(SampleCatalogueTest, PresetsNameRealOptionsAndOneMapsToTheDefault) {
    bool mapsToDefault = false;
    forEachDescription([&](const std::string& car, const Value& d) {
        std::map<std::string, std::set<std::string>> options;
        for (const Value& p : *d["parts"].array())
            for (const Value& o : *p["options"].array())
                options[p["partSelector"].stringValue()].insert(o["identifier"].stringValue());
        ASSERT_GT(d["modificator"].array()->count(), 0u);
        for (const Value& m : *d["modificator"].array()) {
            EXPECT_FALSE(m["name"].stringValue().empty());
            EXPECT_TRUE(catalogue->file(car + "/" + m["thumbnail"].stringValue()));
            for (const auto& [selector, id] : m["partsAndOptions"].dictionary()->entries()) {
                ASSERT_TRUE(options.count(selector)) << selector;
                if (id.stringValue().empty())
                    mapsToDefault = true;
                else
                    EXPECT_TRUE(options[selector].count(id.stringValue())) << car << " " << id.stringValue();
            }
        }
    });
    EXPECT_TRUE(mapsToDefault);
}

TEST_F(SampleCatalogueTest, EveryNamedFileIsServedWithItsType) {
    forEachDescription([&](const std::string& car, const Value& d) {
        for (const Value& p : *d["parts"].array())
            for (const Value& o : *p["options"].array()) {
                for (const char* key : {"thumbnail", "metalFile", "attachFile"}) {
                    const std::string name = o[key].stringValue();
                    if (name.empty()) continue;
                    ASSERT_TRUE(name.ends_with(".png")) << name;
                    EXPECT_EQ(name.find(".png"), name.size() - 4) << "only the extension may read .png";
                    auto f = catalogue->file(car + "/" + name);
                    ASSERT_TRUE(f) << car << "/" << name;
                    EXPECT_EQ(f->contentType, "image/png");
                    if (std::string(key) != "thumbnail") {
                        EXPECT_TRUE(catalogue->file(car + "/" + name.substr(0, name.size() - 4) + ".json"));
                    }
                }
            }
    });
}

TEST_F(SampleCatalogueTest, ThumbnailsAndLogosArePictures) {
    for (const char* path : {"sample_coupe/lunke_sport_thumb.png", "sample_coupe/weiyi_none_thumb.png",
                             "sample_coupe/preset_sport_thumb.png", "logos/brand_1.png",
                             "logos/brand_1_down.png", "logos/car_sample_coupe.png"}) {
        auto f = catalogue->file(path);
        ASSERT_TRUE(f) << path;
        EXPECT_EQ(f->contentType, "image/png");
        auto p = decodePicture(f->bytes);
        ASSERT_TRUE(p) << path;
        EXPECT_GT(p->width, 32);
    }
    EXPECT_NE(catalogue->file("logos/brand_1.png")->bytes, catalogue->file("logos/brand_1_down.png")->bytes);
}

// Each brand's badge carries its name: the white marks inside the discs differ from brand to brand
// (the discs' colours aside), and fill a name's worth of the disc.
TEST_F(SampleCatalogueTest, BrandBadgesCarryTheirNames) {
    std::vector<std::vector<bool>> marks;
    for (const char* path : {"logos/brand_1.png", "logos/brand_2.png", "logos/brand_3.png"}) {
        SCOPED_TRACE(path);
        auto p = decodePicture(catalogue->file(path)->bytes);
        ASSERT_TRUE(p);
        std::vector<bool> mark;
        std::size_t white = 0;
        // The middle half of the disc, where the name lies (brand 1's disc is itself white).
        for (int y = p->height / 4; y < p->height * 3 / 4; ++y)
            for (int x = p->width / 4; x < p->width * 3 / 4; ++x) {
                const std::uint8_t* px = p->pixel(x, y);
                const bool isWhite = px[0] > 230 && px[1] > 230 && px[2] > 230;
                mark.push_back(isWhite);
                white += isWhite;
            }
        EXPECT_GT(white, mark.size() / 20);
        EXPECT_LT(white, mark.size() * 19 / 20);
        marks.push_back(std::move(mark));
    }
    EXPECT_NE(marks[1], marks[2]);
}

// ---- the car list ---------------------------------------------------------------------------

TEST_F(SampleCatalogueTest, CarListShape) {
    Value reply = parse(NSData::fromString(catalogue->carListJSON(kPrefix)));
    ASSERT_TRUE(reply["resultCode"].isNumber());
    EXPECT_EQ(reply["resultCode"].intValue(), 0);
    const Array* brands = reply["data"].array();
    ASSERT_NE(brands, nullptr);
    ASSERT_GE(brands->count(), 3u);
    bool wide = false, otherIdentifier = false;
    std::set<std::string> logos;
    for (const Value& b : *brands) {
        EXPECT_TRUE(b["brand_id"].isNumber());
        EXPECT_TRUE(b["kuanti"].isArray());
        EXPECT_TRUE(b["brand"].isString());
        logos.insert(b["brand_logo"].stringValue());
        logos.insert(b["logo_down"].stringValue());
        for (const Value& c : *b["cars"].array()) {
            EXPECT_TRUE(c["cars_id"].isNumber());
            EXPECT_TRUE(c["cars_brand"].isString());
            const std::string word = c["car_en"].stringValue();
            EXPECT_EQ(c["cars_json"].stringValue(), std::string(kPrefix) + word + "/car.json");
            logos.insert(c["cars_logo"].stringValue());
            const std::string k = c["kuanti"].stringValue();
            EXPECT_TRUE(k == "true" || k == "false");
            wide = wide || k == "true";
            otherIdentifier = otherIdentifier || description(word)["identifier"].stringValue() != word;
        }
    }
    EXPECT_TRUE(wide);
    EXPECT_TRUE(otherIdentifier);
    for (const std::string& url : logos) {
        ASSERT_EQ(url.rfind(kPrefix, 0), 0u) << url;
        EXPECT_TRUE(catalogue->file(url.substr(std::string(kPrefix).size()))) << url;
    }
}

TEST_F(SampleCatalogueTest, TheDefaultBrandComesWithItsFirstCar) {
    Dictionary reply = catalogue->carList(kPrefix);
    int named = 0;
    for (const Value& b : *reply["data"].array()) {
        if (b["brand_name"].stringValue() != "玛莎拉蒂") continue;
        ++named;
        ASSERT_GE(b["cars"].array()->count(), 1u);
        EXPECT_EQ(b["cars"][0]["car_en"].stringValue(), "sample_coupe");
    }
    EXPECT_EQ(named, 1);
}

TEST_F(SampleCatalogueTest, PrefixesGainTheirSlashAndLogosMayLiveElsewhere) {
    Dictionary reply = catalogue->carList("http://h:1/static/model", "http://pics:2/p");
    const Value& brand = reply["data"][0];
    EXPECT_EQ(brand["cars"][0]["cars_json"].stringValue(), "http://h:1/static/model/sample_coupe/car.json");
    EXPECT_EQ(brand["brand_logo"].stringValue(), "http://pics:2/p/logos/brand_1.png");
}

TEST_F(SampleCatalogueTest, DescriptionIsServedAsItsOwnDictionary) {
    auto d = catalogue->description("sample_wagon");
    ASSERT_TRUE(d);
    EXPECT_EQ((*d)["identifier"].stringValue(), "sample_wagon_v2");
    EXPECT_FALSE(catalogue->description("sample_wagon_v2"))
        << "the folder is the car word, not the identifier";
    EXPECT_FALSE(catalogue->file("sample_wagon_v2/car.json"));
}

// ---- paths ----------------------------------------------------------------------------------

TEST_F(SampleCatalogueTest, RunsOfSlashesCountAsOne) {
    auto plain = catalogue->file("sample_coupe/lunke_std_metal.json");
    ASSERT_TRUE(plain);
    for (const char* path : {"/sample_coupe/lunke_std_metal.json", "//sample_coupe//lunke_std_metal.json",
                             "sample_coupe///lunke_std_metal.json"}) {
        auto f = catalogue->file(path);
        ASSERT_TRUE(f) << path;
        EXPECT_EQ(f->bytes, plain->bytes);
    }
    EXPECT_EQ(SampleCatalogue::normalisePath("//a///b/"), "a/b/");
    EXPECT_EQ(SampleCatalogue::normalisePath(""), "");
}

TEST_F(SampleCatalogueTest, UnknownAndHostilePathsFindNothing) {
    for (const char* path :
         {"", "/", "sample_coupe", "sample_coupe/", "sample_coupe/car.json/", "../sample_coupe/car.json",
          "sample_coupe/../sample_coupe/car.json", "sample_coupe/CAR.JSON", "nope/car.json",
          "sample_coupe/lunke_std_metal.png?x=1", "sample_coupe/weiyi_none_metal.json", "logos/brand_9.png"})
        EXPECT_FALSE(catalogue->file(path)) << path;
    EXPECT_FALSE(catalogue->file(std::string_view("sample_coupe/car.json\0x", 24)));
}

TEST_F(SampleCatalogueTest, MutatedPathsNeverCrash) {
    const std::vector<std::string> seeds = {"sample_coupe/car.json", "sample_wide/yeziban_wide_metal.json",
                                            "logos/car_sample_coupe.png"};
    int found = 0;
    for (unsigned seed = 0; seed < 600; ++seed) {
        std::string path = testsupport::mutate(seeds[seed % seeds.size()], seed);
        // Only look at paths that do not make the catalogue draw, to keep this quick; the
        // lookup itself is what is under test.
        if (path.find(".png") != std::string::npos) continue;
        if (auto f = catalogue->file(path)) {
            ++found;
            EXPECT_FALSE(f->bytes.empty());
        }
    }
    EXPECT_LT(found, 600);
}

// ---- revisions ------------------------------------------------------------------------------

TEST_F(SampleCatalogueTest, BumpingChangesOnlyThatCar) {
    const std::string before = description("sample_coupe")["updated"].stringValue();
    const std::string other = description("sample_wide")["updated"].stringValue();
    EXPECT_EQ(catalogue->revision("sample_coupe"), before);
    EXPECT_TRUE(catalogue->bumpRevision("sample_coupe"));
    const std::string after = description("sample_coupe")["updated"].stringValue();
    EXPECT_NE(after, before);
    EXPECT_EQ(description("sample_wide")["updated"].stringValue(), other);
    EXPECT_TRUE(catalogue->bumpRevision("sample_coupe"));
    EXPECT_NE(description("sample_coupe")["updated"].stringValue(), after);
    EXPECT_FALSE(catalogue->bumpRevision("nope"));
    EXPECT_FALSE(catalogue->bumpRevision("sample_wagon_v2"));
    EXPECT_EQ(catalogue->revision("nope"), "");
}

TEST_F(SampleCatalogueTest, EachCatalogueKeepsItsOwnRevisions) {
    auto second = SampleCatalogue::generate();
    catalogue->bumpRevision("sample_coupe");
    EXPECT_NE(catalogue->revision("sample_coupe"), second->revision("sample_coupe"));
    // Pictures are shared all the same.
    EXPECT_EQ(catalogue->file("logos/brand_2.png")->bytes, second->file("logos/brand_2.png")->bytes);
}

TEST_F(SampleCatalogueTest, ConcurrentBumpsAndReadsAreCounted) {
    auto fresh = SampleCatalogue::generate();
    const std::string start = fresh->revision("sample_offroad");
    std::vector<std::thread> threads;
    std::atomic<int> readsOk{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                fresh->bumpRevision("sample_offroad");
                if (fresh->file("sample_offroad/car.json")) ++readsOk;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(readsOk.load(), 200);
    auto expected = SampleCatalogue::generate();
    for (int i = 0; i < 200; ++i) expected->bumpRevision("sample_offroad");
    EXPECT_EQ(fresh->revision("sample_offroad"), expected->revision("sample_offroad"));
}

// ---- determinism and sharing ----------------------------------------------------------------

TEST(SampleCatalogueDeterminism, TwoSeparateGenerationsAreByteIdentical) {
    Options options;
    options.sharePictures = false;
    auto a = SampleCatalogue::generate(options);
    auto b = SampleCatalogue::generate(options);
    EXPECT_EQ(a->carListJSON(kPrefix), b->carListJSON(kPrefix));
    EXPECT_EQ(a->filePaths(), b->filePaths());
    for (const std::string& path : a->filePaths()) {
        // One whole car and the shared files; the rest are made by the same code.
        if (!path.starts_with("sample_wide/") && !path.starts_with("logos/")) continue;
        auto fa = a->file(path), fb = b->file(path);
        ASSERT_TRUE(fa && fb) << path;
        EXPECT_EQ(fa->bytes, fb->bytes) << path;
        EXPECT_EQ(fa->contentType, fb->contentType);
    }
}

TEST(SampleCatalogueDeterminism, ConcurrentFirstRequestsAgree) {
    Options options;
    options.sharePictures = false;
    auto catalogue = SampleCatalogue::generate(options);
    std::vector<NSData> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&, t] { results[t] = catalogue->file("sample_offroad/cheshen_std_metal.png")->bytes; });
    for (auto& t : threads) t.join();
    for (int t = 1; t < 4; ++t) EXPECT_EQ(results[t], results[0]);
    EXPECT_FALSE(results[0].empty());
}

TEST(SampleCatalogueOptions, SmallerShowcaseAndNarrowerShelves) {
    Options options;
    options.showcaseWidth = 200;
    options.showcaseHeight = 120;
    options.shelfWidth = 256;
    options.wideSheetWidth = 600;
    auto catalogue = SampleCatalogue::generate(options);
    Value d =
        NSJSONSerialization::JSONObjectWithData(catalogue->file("sample_coupe/car.json")->bytes, 0, nullptr);
    EXPECT_EQ(d["showcase"]["width"].intValue(), 200);
    auto sheet = decodePicture(catalogue->file("sample_coupe/yinqinggai_carbon_metal.png")->bytes);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->width, 600);
    auto body = decodePicture(catalogue->file("sample_coupe/cheshen_std_metal.png")->bytes);
    ASSERT_TRUE(body);
    EXPECT_LE(body->width, 256);
}

TEST(SampleCatalogueOptions, AbsurdSizesAreClamped) {
    Options options;
    options.showcaseWidth = -5;
    options.showcaseHeight = 0;
    options.threads = 0;
    auto catalogue = SampleCatalogue::generate(options);
    EXPECT_GE(catalogue->options().showcaseWidth, 16);
    auto drawing = catalogue->sourceDrawing("sample_coupe", "cheshen_std", 1);
    ASSERT_TRUE(drawing);
    EXPECT_EQ(drawing->width, catalogue->options().showcaseWidth);
    EXPECT_EQ(readAngleMark(*drawing), 1);
}

TEST(SampleCatalogueOptions, CarDrawingStacksTheChosenOptions) {
    auto catalogue = SampleCatalogue::generate();
    auto stock = catalogue->carDrawing("sample_coupe", 8);
    auto winged = catalogue->carDrawing("sample_coupe", 8, {{"weiyi", "weiyi_wing"}});
    ASSERT_TRUE(stock && winged);
    EXPECT_NE(stock->rgba, winged->rgba);
    EXPECT_FALSE(catalogue->carDrawing("sample_coupe", 0));
    EXPECT_FALSE(catalogue->carDrawing("nope", 1));
    // An unknown choice leaves the part at its default.
    EXPECT_EQ(*catalogue->carDrawing("sample_coupe", 8, {{"weiyi", "nope"}}), *stock);
}

TEST(SampleCatalogueDeterminism, PreparingInParallelMakesTheSameFilesAsOnDemand) {
    Options options;
    options.showcaseWidth = 100;  // small pictures keep the whole catalogue quick
    options.showcaseHeight = 60;
    options.sharePictures = false;
    auto prepared = SampleCatalogue::generate(options);
    prepared->prepareAll();
    auto lazy = SampleCatalogue::generate(options);
    for (const std::string& path : prepared->filePaths()) {
        if (!path.starts_with("sample_wagon/") && !path.starts_with("logos/")) continue;
        EXPECT_EQ(prepared->file(path)->bytes, lazy->file(path)->bytes) << path;
    }
}
