// The first character of a string capitalised, whatever the letter: the name of a to-one
// relationship becomes its setter's name this way.

#include <gtest/gtest.h>

#include "data/NSManagedObject+DataImport.h"

namespace {

struct Case {
    const char* text;
    const char* expected;
};

TEST(CapitalizedFirstCharacter, AnyFirstLetterIsCapitalisedAndTheRestKept) {
    const Case cases[] = {
        {"", ""},
        {"color", "Color"},
        {"Color", "Color"},
        {"cOLOR", "COLOR"},              // only the first character changes
        {"x", "X"},
        {"\xC3\xA9" "clair", "\xC3\x89" "clair"},        // é (precomposed) -> É
        {"e\xCC\x81" "clair", "E\xCC\x81" "clair"},      // e + combining acute -> E + acute
        {"\xC3\xB1" "and\xC3\xBA", "\xC3\x91" "and\xC3\xBA"},  // ñandú -> Ñandú
        {"\xD0\xB6" "\xD1\x83\xD0\xBA", "\xD0\x96" "\xD1\x83\xD0\xBA"},  // жук -> Жук
        {"\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\xB2"},        // αβ -> Αβ
        {"\xD5\xA1\xD5\xA2", "\xD4\xB1\xD5\xA2"},        // Armenian ա -> Ա
        {"\xC7\x86" "ak", "\xC7\x85" "ak"},              // dž takes its title-case form Dž
        {"\xF0\x90\x90\xA8" "x", "\xF0\x90\x90\x80" "x"},  // Deseret 𐐨 (beyond the BMP) -> 𐐀
        {"\xF0\x9E\xA4\xA2" "a", "\xF0\x9E\xA4\x80" "a"},  // Adlam 𞤢 -> 𞤀
        // Nothing to capitalise: the string comes back as it was.
        {"1st", "1st"},
        {" car", " car"},
        {"\xE8\xBD\xA6" "car", "\xE8\xBD\xA6" "car"},    // 车: no case
        {"\xF0\x9F\x9A\x97" "car", "\xF0\x9F\x9A\x97" "car"},  // an emoji
        {"_tint", "_tint"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NSString_DataRecord_DataImport::DR_capitalizedFirstCharacterString(c.text), c.expected)
            << c.text;
        if (*c.text) {
            EXPECT_EQ(DRCapitalizeFirstLetter(c.text), c.expected) << c.text;
        }
    }
}

}  // namespace
