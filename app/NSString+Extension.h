#pragma once
// NSString(Extension): the car-model cache paths and URL prefix, and the phone-number checks of
// the sign-up screens.
//
// The car-model files live on the server's web host, a deployment setting kept by
// QVNConfiguration (QVN_WEB_HOST, or the whole prefix as QVN_MODEL_PREFIX). The host may carry a
// port ("127.0.0.1:8080"), which tests and the stand-in server use.

#include <optional>
#include <string>
#include <string_view>

namespace NSString_Extension {

inline constexpr char kDefaultWebHost[] = "www.trasselin.example";  // QVNConfiguration's default

// The first user-domain Library folder + "/Caches/Cars/" (ends with "/").
std::string carCachePath();
// The same Library folder + "/Caches/carlist".
std::string cacheCarListPath();
// "http://" + web host + "/static/model/" (ends with "/"), or the configured model prefix.
std::string carOptionURLPrefix();
// YES for eleven ASCII digits: the text matches "^[0-9]{11}$" and nothing is left once the
// decimal digits are trimmed from both ends.
bool isPureNumandCharacters(std::string_view string);
// Whether the argument (not the receiver) is a mainland mobile number: 13x, 145/147, 15x but
// 154, 18x, 170/176/177/178, then eight digits.
bool checkPhoneNumInput(std::string_view receiver, std::string_view string);

// Configuration: the web host (and port) for carOptionURLPrefix, through QVNConfiguration;
// nullopt goes back to the environment and the default.
void setWebHost(const std::optional<std::string>& host);
std::string webHost();

}  // namespace NSString_Extension
