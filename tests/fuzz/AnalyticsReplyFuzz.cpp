// The analytics exchange with the collector: the collector's reply as the upload worker reads it
// (TallyRecords::verifyResponseData, which also takes a settings record whose checksum holds),
// and an uploaded envelope as the stand-in collector reads it (the record, the decryption of
// its entity, the inflation and the report inside). The first byte chooses. A reply taken as
// success must say so in its record; a decoded report needs an envelope that carried it.

#include "FuzzSupport.h"
#include "foundation/NSBundle.h"
#include "foundation/NSSandbox.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "sdk/analytics/collection/TallySettings.h"
#include "sdk/analytics/records/TATImprintRecords.h"
#include "system/UIPasteboard.h"
#include "tests/support/TestCollector.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    // A sandbox and a device of the run's own (the library keeps its settings in the defaults).
    NSSandbox::root();
    UIPasteboard::setSharedDirectory(NSSandbox::temporaryPath() + "/device-pasteboards");
    NSBundle::setInfoValue("CFBundleIdentifier", "com.example.tuning");
    NSBundle::setInfoValue("CFBundleVersion", "1.0");
    NSBundle::setInfoValue("CFBundleShortVersionString", "1.0");
    (void)TallyRecords::sharedInstance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    NSData body(data + 1, size - 1);
    if (data[0] & 1) {
        auto decoded = testsupport::TestCollector::decode(body.toString());
        if (decoded.report) FUZZ_CHECK(decoded.envelope && decoded.envelope->entity());
        if (!decoded.envelope) FUZZ_CHECK(!decoded.problems.empty());
        return 0;
    }
    if (TallyRecords::sharedInstance()->verifyResponseData(body)) {
        auto reply = make<TATResponse>();
        FUZZ_CHECK(detail::tallyReadRecord(*reply, body) || reply->resp_codeIsSet());
        FUZZ_CHECK(reply->resp_codeIsSet() && reply->resp_code() == 1);
    }
    return 0;
}
