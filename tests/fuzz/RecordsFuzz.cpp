// The analytics binary records, read with the binary protocol the way the library reads them
// (detail::tallyReadRecord: a protocol or transport exception is a failed read, anything else
// escapes and fails the run). The first byte chooses the record: the report and its parts, the
// collector's reply and settings, the stored id tracking, the envelope. A read that succeeds
// must write back, and what it writes must read and write again to the same bytes.

#include "FuzzSupport.h"
#include "sdk/analytics/collection/TallySettings.h"
#include "sdk/analytics/records/TAEnvelope.h"
#include "sdk/analytics/records/TATBodyRecords.h"
#include "sdk/analytics/records/TATHeaderRecords.h"
#include "sdk/analytics/records/TATImprintRecords.h"
#include "sdk/analytics/records/TATUALogEntry.h"

namespace {

template <class R>
void readRecord(const NSData& bytes) {
    auto record = make<R>();
    if (!detail::tallyReadRecord(*record, bytes)) return;
    (void)record->description();
    auto written = detail::tallyWriteRecord(*record);
    FUZZ_CHECK(written.has_value());
    auto again = make<R>();
    FUZZ_CHECK(detail::tallyReadRecord(*again, *written));
    auto rewritten = detail::tallyWriteRecord(*again);
    FUZZ_CHECK(rewritten.has_value() && *rewritten == *written);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    NSData bytes(data + 1, size - 1);
    switch (data[0] % 10) {
        case 0:
            readRecord<TATUALogEntry>(bytes);
            break;
        case 1:
            readRecord<TATResponse>(bytes);
            break;
        case 2:
            readRecord<TATImprint>(bytes);
            break;
        case 3:
            readRecord<TATIdTracking>(bytes);
            break;
        case 4:
            readRecord<TAEnvelope>(bytes);
            break;
        case 5:
            readRecord<TATSession>(bytes);
            break;
        case 6:
            readRecord<TATDeviceInfo>(bytes);
            break;
        case 7:
            readRecord<TATInstantMsg>(bytes);
            break;
        case 8:
            readRecord<TATAppInfo>(bytes);
            break;
        default:
            readRecord<TATMiscInfo>(bytes);
            break;
    }
    return 0;
}
