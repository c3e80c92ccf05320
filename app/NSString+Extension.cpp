#include "app/NSString+Extension.h"

#include "app/QVNConfiguration.h"
#include "foundation/NSCharacterSet.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSPredicate.h"
#include "foundation/NSString.h"

namespace {

std::string libraryFolder() {
    std::vector<std::string> paths =
        NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true);
    if (paths.empty()) return std::string();
    return NSString::stringByExpandingTildeInPath(paths.front());
}

bool matches(std::string_view string, const char* pattern) {
    auto predicate = NSPredicate::predicateWithFormat("SELF MATCHES %@", pattern);
    return predicate && predicate->evaluateWithObject(Value(string));
}

}  // namespace

namespace NSString_Extension {

std::string carCachePath() {
    return libraryFolder() + "/Caches/Cars/";
}

std::string cacheCarListPath() {
    return libraryFolder() + "/Caches/carlist";
}

std::string carOptionURLPrefix() {
    return QVNConfiguration::modelPrefix();
}

bool isPureNumandCharacters(std::string_view string) {
    if (!matches(string, "^[0-9]{11}$")) return false;
    return NSString::stringByTrimmingCharactersInSet(string, NSCharacterSet::decimalDigitCharacterSet())
        .empty();
}

bool checkPhoneNumInput(std::string_view, std::string_view string) {
    return matches(string, "^1(3[0-9]|4[57]|5[0-35-9]|8[0-9]|7[06-8])\\d{8}$");
}

void setWebHost(const std::optional<std::string>& host) {
    QVNConfiguration::set(QVNSetting::WebHost, host);
}

std::string webHost() {
    return QVNConfiguration::webHost();
}

}  // namespace NSString_Extension
