// The car description parsed into parts, options and presets, and the selection rules: defaults,
// presets, tuning lists and colours. No network: descriptions are given as dictionaries.

#include <gtest/gtest.h>

#include "app/NSString+Extension.h"
#include "app/QVNConfiguration.h"
#include "app/QVNTuningList.h"
#include "foundation/NSSandbox.h"
#include "studio/QVNCar.h"
#include "studio/QVNModificator.h"
#include "studio/QVNPart.h"
#include "tests/support/TestSupport.h"

namespace {

Dictionary option(const std::string& name, const std::string& identifier, const Value& metal = Value(),
                  const Value& attach = Value()) {
    Dictionary o = Dictionary::mutableDictionary();
    o.setObject("name", name);
    o.setObject("identifier", identifier);
    o.setObject("thumbnail", identifier + "_thumb.png");
    if (metal) o.setObject("metalFile", metal);
    if (attach) o.setObject("attachFile", attach);
    return o;
}

Dictionary part(const std::string& selector, Array options, const Value& defaultOption, bool color = true,
                bool canModify = true) {
    Dictionary p = Dictionary::mutableDictionary();
    p.setObject("name", "part " + selector);
    p.setObject("partSelector", selector);
    p.setObject("z", 3);
    p.setObject("active", true);
    p.setObject("canModify", canModify);
    p.setObject("color", color);
    p.setObject("suspensible", false);
    if (defaultOption) p.setObject("defaultOption", defaultOption);
    p.setObject("modifyAngle", 7);
    p.setObject("options", options);
    return p;
}

class QVNCarModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        QVNConfiguration::set(QVNSetting::ModelPrefix, std::string("http://127.0.0.1:9/static/model/"));
        car->car_en = "coupe";
    }
    void TearDown() override { QVNConfiguration::resetAll(); }

    Dictionary description() {
        Array parts{
            part("qianbaowei",
                 Array{option("原厂", "f_std", "f_std_metal.png"),
                       option("运动", "f_sport", "f_sport_metal.png")},
                 Value("")),
            part("lunke",
                 Array{option("标准", "w_std", "w_std_metal.png", "w_std_attach.png"),
                       option("原厂", "w_fac", "w_fac_metal.png")},
                 Value("w_std"), false),
            part("weiyi",
                 Array{option("原厂", "s_none", Value(""), Value("")),
                       option("鸭尾", "s_duck", "s_duck_metal.png")},
                 Value("nothing_such")),
            part("qianbaowei_x", Array{option("原厂", "x_std", "x_std_metal.png")}, Value(), true, false)};
        Array presets{Dictionary{
            {"name", "运动"},
            {"thumbnail", "p_thumb.png"},
            {"partsAndOptions", Dictionary{{"qianbaowei", "f_sport"}, {"weiyi", "s_duck"}, {"lunke", ""}}}}};
        return Dictionary{{"showcase", Dictionary{{"width", 400}, {"height", 240.5}, {"suspension", 8}}},
                          {"updated", "rev7"},
                          {"identifier", "coupe"},
                          {"parts", parts},
                          {"modificator", presets}};
    }

    testsupport::TemporaryDirectory sandbox_;
    Ref<QVNCar> car = make<QVNCar>();
};

}  // namespace

TEST_F(QVNCarModelTest, ParsesShowcaseRevisionPartsAndPresets) {
    car->prepareForModify(description());
    EXPECT_EQ(car->showcaseSize().width, 400);
    EXPECT_EQ(car->showcaseSize().height, 240.5);
    EXPECT_EQ(car->suspension(), 8);
    EXPECT_EQ(car->updated, std::string("rev7"));
    EXPECT_EQ(car->urlPrefix(), "http://127.0.0.1:9/static/model//coupe");
    ASSERT_EQ(car->parts().size(), 4u);
    ASSERT_EQ(car->modificators().size(), 1u);
    EXPECT_EQ(car->modificators()[0]->name(), std::string("运动"));
    EXPECT_EQ(car->modificators()[0]->thumbnail(), std::string("p_thumb.png"));

    const auto& front = car->parts()[0];
    EXPECT_EQ(front->selector(), std::string("qianbaowei"));
    EXPECT_EQ(front->name(), std::string("part qianbaowei"));
    EXPECT_EQ(front->zForLayer(), 3);
    EXPECT_TRUE(front->active());
    EXPECT_TRUE(front->canColor());
    EXPECT_FALSE(front->suspensible());
    EXPECT_EQ(front->modifyAngle(), 7);
    EXPECT_EQ(front->cacheDirectory(), car->cachePath());
    const auto& sport = front->options()[1];
    EXPECT_EQ(sport->metalFileURL(), std::string("http://127.0.0.1:9/static/model//coupe/f_sport_metal.png"));
    EXPECT_EQ(sport->thumbnailURL(), std::string("http://127.0.0.1:9/static/model//coupe/f_sport_thumb.png"));
    EXPECT_FALSE(sport->attachFileURL());
    EXPECT_TRUE(sport->hasMetalFile());
    EXPECT_FALSE(sport->hasAttach());
    EXPECT_EQ(sport->metalFramesCachePath(), car->cachePath() + "/f_sport_metal.json");
}

TEST_F(QVNCarModelTest, DefaultOptionRules) {
    car->prepareForModify(description());
    // Empty "defaultOption": the option named "原厂".
    EXPECT_EQ(car->parts()[0]->defaultOption()->identifier(), std::string("f_std"));
    EXPECT_EQ(car->parts()[0]->selectedOption(), car->parts()[0]->defaultOption());
    // A named default wins over "原厂".
    EXPECT_EQ(car->parts()[1]->defaultOption()->identifier(), std::string("w_std"));
    EXPECT_TRUE(car->parts()[1]->hasAttach());
    // A default that names no option: none, although one is named "原厂".
    EXPECT_FALSE(car->parts()[2]->defaultOption());
    EXPECT_FALSE(car->parts()[2]->selectedOption());
    // Missing "defaultOption": "原厂" again.
    EXPECT_EQ(car->parts()[3]->defaultOption()->identifier(), std::string("x_std"));
}

TEST_F(QVNCarModelTest, ModifyAngleOnlyWhenModifiableAndEmptyFileNamesAreNoSheets) {
    car->prepareForModify(description());
    EXPECT_EQ(car->parts()[3]->modifyAngle(), 0);
    const auto& none = car->parts()[2]->options()[0];
    EXPECT_FALSE(none->hasMetalFile());
    EXPECT_FALSE(none->hasAttach());
    EXPECT_FALSE(none->metalFileURL());
    EXPECT_FALSE(none->metalFramesCachePath());
    EXPECT_FALSE(none->hasCache());
}

TEST_F(QVNCarModelTest, PresetsSelectByIdentifierAndEmptyMeansDefault) {
    car->prepareForModify(description());
    auto wheels = car->parts()[1];
    wheels->setSelectedOption(wheels->options()[1]);
    car->configureSelectedOptionsWithModificator(car->modificators()[0]);
    EXPECT_EQ(car->parts()[0]->selectedOption()->identifier(), std::string("f_sport"));
    EXPECT_EQ(car->parts()[2]->selectedOption()->identifier(), std::string("s_duck"));
    EXPECT_EQ(wheels->selectedOption(), wheels->defaultOption());

    auto unknown = make<QVNModificator>(
        Dictionary{{"partsAndOptions", Dictionary{{"qianbaowei", "gone"}, {"nopart", "x"}}}});
    car->configureSelectedOptionsWithModificator(unknown);
    EXPECT_EQ(car->parts()[0]->selectedOption()->identifier(), std::string("f_sport"));
    car->resetParts();
    EXPECT_EQ(car->parts()[0]->selectedOption()->identifier(), std::string("f_std"));
    EXPECT_FALSE(car->parts()[2]->selectedOption());
    // Nothing is cached: every preset option with a sheet needs a download.
    EXPECT_EQ(car->countOfDownLoadOptionsWithModificator(car->modificators()[0]), 2);
    EXPECT_EQ(car->countOfDownLoadOptionsWithModificator(nullptr), 0);
}

TEST_F(QVNCarModelTest, TuningListsSelectByNameAndColourOnlyTheExactSelector) {
    car->prepareForModify(description());
    auto list = make<QVNTuningList>(Dictionary{
        {"jsontxt",
         "{\"qianbaowei\":\"运动\",\"weiyi\":\"不存在\",\"qianbaowei_x_color\":{\"r\":255,\"g\":0,\"b\":0,"
         "\"isColor\":1},\"lunke_color\":{\"r\":0,\"g\":255,\"b\":0,\"isColor\":1}}"}});
    ASSERT_TRUE(list->optionGroup);
    car->configureSelectedOptionsWithTuningList(list);
    EXPECT_EQ(car->parts()[0]->selectedOption()->identifier(), std::string("f_sport"));
    EXPECT_FALSE(car->parts()[2]->selectedOption());
    // "qianbaowei_x_color" is not "qianbaowei" + "_color"; the wheels cannot be coloured.
    EXPECT_FALSE(car->parts()[0]->tintColor());
    EXPECT_FALSE(car->parts()[1]->tintColor());
    ASSERT_TRUE(car->parts()[3]->tintColor());
    CGFloat r = 0, g = 0, b = 0, a = 0;
    car->parts()[3]->tintColor()->getRed(&r, &g, &b, &a);
    EXPECT_DOUBLE_EQ(r, 1.0);
    EXPECT_DOUBLE_EQ(g, 0.0);
    EXPECT_DOUBLE_EQ(a, 1.0);
}

TEST_F(QVNCarModelTest, ColoursNeedIsColorAndAColourablePart) {
    car->prepareForModify(description());
    auto front = car->parts()[0];
    front->setTintColorWithDictionary(Dictionary{{"r", 10}, {"g", 20}, {"b", 30}, {"isColor", 0}});
    EXPECT_FALSE(front->tintColor());
    car->setPartTintColor(front, Dictionary{{"r", 51}, {"g", 102}, {"b", 153}});
    ASSERT_TRUE(front->tintColor());
    CGFloat r = 0, g = 0, b = 0, a = 0;
    front->tintColor()->getRed(&r, &g, &b, &a);
    EXPECT_NEAR(r, 0.2, 1e-6);
    EXPECT_NEAR(b, 0.6, 1e-6);
    car->tintColor(UIColor::blueColor());
    ASSERT_TRUE(front->tintColor());
    front->tintColor()->getRed(&r, &g, &b, &a);
    EXPECT_DOUBLE_EQ(b, 1.0);
    EXPECT_FALSE(car->parts()[1]->tintColor());
    // A list without a group changes nothing.
    car->configureSelectedOptionsWithTuningList(make<QVNTuningList>(Dictionary{{"jsontxt", "not json"}}));
}

TEST_F(QVNCarModelTest, SelectedOptionsCacheWithoutSheetsAndWithout) {
    car->prepareForModify(
        Dictionary{{"parts", Array{part("weiyi", Array{option("原厂", "none", Value(""))}, Value(""))}}});
    EXPECT_TRUE(car->hasSelectedOptionsCache());
    bool result = false;
    car->setupOptionsFromCacheWithCompletion([&](bool ok) { result = ok; });
    EXPECT_TRUE(result);

    car->prepareForModify(Dictionary());
    EXPECT_TRUE(car->parts().empty());
    EXPECT_TRUE(car->hasSelectedOptionsCache());

    car->prepareForModify(description());
    EXPECT_FALSE(car->hasSelectedOptionsCache());
    car->setupOptionsFromCacheWithCompletion([&](bool ok) { result = ok; });
    EXPECT_FALSE(result);
    // An uncached option with a sheet is not selected; one without sheets is.
    auto front = car->parts()[0];
    car->setupOptionFromCache(front->options()[1], "qianbaowei", [&](bool ok) { result = ok; });
    EXPECT_FALSE(result);
    EXPECT_EQ(front->selectedOption(), front->options()[0]);
    auto spoiler = car->parts()[2];
    car->setupOptionFromCache(spoiler->options()[0], "weiyi", [&](bool ok) { result = ok; });
    EXPECT_TRUE(result);
    EXPECT_EQ(spoiler->selectedOption(), spoiler->options()[0]);
}

TEST_F(QVNCarModelTest, DescriptionCopyOnDisk) {
    EXPECT_EQ(car->cachePath(), sandbox_.path() + "/Library/Caches/Cars/coupe");
    EXPECT_FALSE(car->hasInformationCache());
    EXPECT_FALSE(car->cacheJson());
    car->saveFileWithJson(description());
    EXPECT_TRUE(car->hasInformationCache());
    EXPECT_EQ(car->cacheJson()["updated"].stringValue(), "rev7");
    // A value that is not JSON writes nothing over the stored copy.
    car->saveFileWithJson(Dictionary{{"d", Value(NSDate::date())}});
    EXPECT_EQ(car->cacheJson()["updated"].stringValue(), "rev7");
}

TEST_F(QVNCarModelTest, CarWordsThatLeaveTheCacheFolderHaveNoFolder) {
    for (const char* word : {"", "..", "a/b", "../x"}) {
        car->car_en = std::string(word);
        EXPECT_EQ(car->cachePath(), "") << word;
        car->saveFileWithJson(description());
        EXPECT_FALSE(car->hasInformationCache()) << word;
    }
    car->car_en.reset();
    EXPECT_EQ(car->cachePath(), "");
    // File names with folder parts have no frame-table file.
    auto sneaky = make<QVNOption>(option("x", "x", "../../escape.png"), "http://h/p", sandbox_.path());
    EXPECT_TRUE(sneaky->hasMetalFile());
    EXPECT_FALSE(sneaky->metalFramesCachePath());
    sneaky->saveMetalFileWithJson(Dictionary{{"frames", Array()}});
    EXPECT_FALSE(sneaky->hasCache());
}

TEST_F(QVNCarModelTest, ValuesOfTheWrongKindReadAsAbsent) {
    car->prepareForModify(
        Dictionary{{"showcase", "wide"},
                   {"updated", 5},
                   {"parts", Array{Value(3), Value("x"),
                                   Dictionary{{"partSelector", 9}, {"options", "none"}, {"z", "3"}}}},
                   {"modificator", Dictionary()}});
    EXPECT_EQ(car->showcaseSize().width, 0);
    EXPECT_FALSE(car->updated);
    ASSERT_EQ(car->parts().size(), 1u);
    EXPECT_FALSE(car->parts()[0]->selector());
    EXPECT_TRUE(car->parts()[0]->options().empty());
    EXPECT_EQ(car->parts()[0]->zForLayer(), 0);
    EXPECT_TRUE(car->modificators().empty());
    car->prepareForModify(Value(Array{Value(1)}));
    EXPECT_TRUE(car->parts().empty());
}

TEST_F(QVNCarModelTest, PerAngleLookupsOfAPartWithoutSelectionAreEmpty) {
    auto empty = make<QVNPart>();
    EXPECT_FALSE(empty->imageForAngle("01"));
    EXPECT_FALSE(empty->attathForAngle("01"));
    EXPECT_EQ(empty->imageOriginForAngle("01").x, 0);
    EXPECT_EQ(empty->attachSizeForAngle("01").width, 0);
    car->prepareForModify(description());
    EXPECT_FALSE(car->parts()[0]->imageForAngle("01"));
    EXPECT_EQ(car->parts()[0]->imageSizeForAngle("01").height, 0);
    EXPECT_FALSE(car->selectedPartWithPartSelector("nothing"));
    EXPECT_EQ(car->selectedPartWithPartSelector("lunke"), car->parts()[1]);
}
