// The watermark camera's list reply: any bytes the server might send, read as JSON and mapped to
// watermark records as the camera does. Every record that comes out is a watermark, whatever the
// rows held.

#include "FuzzSupport.h"
#include "foundation/NSJSONSerialization.h"
#include "studio/MaskImgModel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NSData text(data, size);
    Value reply = NSJSONSerialization::JSONObjectWithData(text, NSJSONReadingMutableContainers, nullptr);
    Array models = MaskImgModel::modelsWithReply(reply);
    for (const Value& value : models) {
        auto model = value.objectAs<MaskImgModel>();
        FUZZ_CHECK(model != nullptr);
        if (model->pic) (void)NSURL::URLWithString(*model->pic);
    }
    return 0;
}
