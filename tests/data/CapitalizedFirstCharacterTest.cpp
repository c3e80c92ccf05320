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
        {"cOLOR", "COLOR"},  // only the first character changes
        {"x", "X"},
        {"\u00E9clair", "\u00C9clair"},                // precomposed e acute
        {"e\u0301clair", "E\u0301clair"},              // e and a combining acute
        {"\u00F1and\u00FA", "\u00D1and\u00FA"},        // n tilde
        {"\u0436\u0443\u043A", "\u0416\u0443\u043A"},  // Cyrillic
        {"\u03B1\u03B2", "\u0391\u03B2"},              // Greek
        {"\u0561\u0562", "\u0531\u0562"},              // Armenian
        {"\u01C6ak", "\u01C5ak"},                      // dz caron takes its title-case form
        {"\U00010428x", "\U00010400x"},                // Deseret, beyond the BMP
        {"\U0001E922a", "\U0001E900a"},                // Adlam, beyond the BMP
        // Nothing to capitalise: the string comes back as it was.
        {"1st", "1st"},
        {" car", " car"},
        {"\u8F66car", "\u8F66car"},          // a letter without case
        {"\U0001F697car", "\U0001F697car"},  // an emoji
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
