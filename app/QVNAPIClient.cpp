#include "app/QVNAPIClient.h"

#include <mutex>

#include "app/QVNConfiguration.h"
#include "controls/GHProgressHUD.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "graphics/UIImage.h"
#include "net/HKMultipartFormData.h"
#include "net/HKSecurityPolicy.h"

// ---- the envelope ----------------------------------------------------------------------------------

namespace QVNAPIEnvelope {

namespace {
bool isZero(const Value& code) {
    // Object equality with the number 0: 0 and 0.0 count, the text "0" does not.
    return code == Value(0);
}
}  // namespace

Ref<NSError> errorWithCode(long code, const Dictionary& reply) {
    const Value& message = reply.objectForKey("errmsg");
    std::string text;
    if (message.isString()) {
        text = *message.string();
    } else if (message.isNumber()) {
        text = message.stringValue();
    }
    return NSError::errorWithDomain(QVNAPIErrorDomain, code, Dictionary{{QVNAPIErrorMessageKey, text}});
}

Outcome readGETReply(const Dictionary& reply) {
    const Value& code = reply.objectForKey("resultCode");
    if (code.isSomething() && !isZero(code)) return {Value(), errorWithCode(code.integerValue(), reply)};
    return {Value(reply), nullptr};
}

Outcome readPOSTReply(const Dictionary& reply) {
    const Value& code = reply.objectForKey("resultCode");
    if (isZero(code)) return {Value(reply), nullptr};
    return {Value(), errorWithCode(code.integerValue(), reply)};
}

Outcome readPicturePOSTReply(const Dictionary& reply) {
    if (isZero(reply.objectForKey("resultCode"))) return {Value(reply), nullptr};
    return {Value(), errorWithCode(QVNResultCodeTransportFailure, reply)};
}

std::optional<std::string> uploadedURL(const Dictionary& reply) {
    if (!isZero(reply.objectForKey("resultCode"))) return std::nullopt;
    return reply.objectForKey("url").optionalString();
}

Ref<NSError> errorForNonObjectReply(const Value& reply) {
    if (reply.isDictionary()) return nullptr;
    const char* what =
        reply.isNil() ? "The server sent an empty reply" : "The server's reply is not a JSON object";
    return NSError::errorWithDomain(HKURLResponseSerializationErrorDomain, NSURLErrorCannotParseResponse,
                                    Dictionary{{NSLocalizedDescriptionKey, what}});
}

}  // namespace QVNAPIEnvelope

// ---- the client ------------------------------------------------------------------------------------

namespace {

using Reader = QVNAPIEnvelope::Outcome (*)(const Dictionary&);

// The operation's blocks for a wrapper: the reply is checked to be an object, then read by the
// wrapper's rule; failures are handed on unchanged.
HKHTTPRequestOperation::SuccessBlock envelopeSuccess(Reader read, QVNAPIClient::SuccessBlock success,
                                                     QVNAPIClient::FailureBlock failure) {
    return [read, success = std::move(success), failure](const Ref<HKHTTPRequestOperation>&,
                                                         const Value& reply) {
        if (Ref<NSError> error = QVNAPIEnvelope::errorForNonObjectReply(reply)) {
            if (failure) failure(error);
            return;
        }
        if (!success) return;
        QVNAPIEnvelope::Outcome outcome = read(*reply.dictionary());
        success(outcome.reply, outcome.error);
    };
}

HKHTTPRequestOperation::FailureBlock plainFailure(QVNAPIClient::FailureBlock failure) {
    return [failure = std::move(failure)](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>& error) {
        if (failure) failure(error);
    };
}

// Reports, on the main queue, a picture that could not be encoded.
void failPictureLater(QVNAPIClient::FailureBlock failure) {
    if (!failure) return;
    dispatch_async(dispatch_get_main_queue(), [failure = std::move(failure)] {
        failure(NSError::errorWithDomain(
            HKURLRequestSerializationErrorDomain, NSURLErrorCannotDecodeRawData,
            Dictionary{{NSLocalizedDescriptionKey, "The picture could not be encoded"}}));
    });
}

HKHTTPRequestSerializer::ConstructingBodyBlock onePicture(NSData data, std::string fileName) {
    return
        [data = std::move(data), fileName = std::move(fileName)](const Ref<HKMultipartFormData>& formData) {
            formData->appendPartWithFileData(data, "file", fileName, "image/png");
        };
}

}  // namespace

QVNAPIClient::QVNAPIClient(const Ref<NSURL>& baseURL) : HKHTTPRequestOperationManager(baseURL) {
    auto requestSerializer = HKHTTPRequestSerializer::serializer();
    requestSerializer->setTimeoutInterval(kTimeoutInterval);
    setRequestSerializer(requestSerializer);

    auto responseSerializer = HKJSONResponseSerializer::serializer();
    responseSerializer->setRemovesKeysWithNullValues(true);
    std::set<std::string> types =
        responseSerializer->acceptableContentTypes().value_or(std::set<std::string>());
    types.insert("text/html");
    responseSerializer->setAcceptableContentTypes(types);
    setResponseSerializer(responseSerializer);

    setSecurityPolicy(HKSecurityPolicy::policyWithPinningMode(HKPinningNone));
}

Ref<QVNAPIClient> QVNAPIClient::sharedClient() {
    // Never destroyed: its serialisers unregister from the observation registry, which may
    // already be gone at exit.
    static const Ref<QVNAPIClient>* const client = [] {
        auto made = make<QVNAPIClient>(NSURL::URLWithString(QVNConfiguration::apiRoot()));
        made->followsConfiguredRoot_ = true;
        return new Ref<QVNAPIClient>(std::move(made));
    }();
    return *client;
}

Ref<NSURL> QVNAPIClient::baseURL() const {
    if (!followsConfiguredRoot_) return HKHTTPRequestOperationManager::baseURL();
    std::string root = QVNConfiguration::apiRoot();
    std::lock_guard guard(rootLock_);
    if (root != configuredRoot_ || !configuredURL_) {
        configuredURL_ = NSURL::URLWithString(root);
        configuredRoot_ = std::move(root);
    }
    return configuredURL_;
}

void QVNAPIClient::getWithURL(const std::string& path, const Value& params, SuccessBlock success,
                              FailureBlock failure) {
    sharedClient()->GET(path, params,
                        envelopeSuccess(&QVNAPIEnvelope::readGETReply, std::move(success), failure),
                        plainFailure(failure));
}

void QVNAPIClient::postWithURL(const std::string& path, const Value& params, SuccessBlock success,
                               FailureBlock failure) {
    sharedClient()->POST(path, params,
                         envelopeSuccess(&QVNAPIEnvelope::readPOSTReply, std::move(success), failure),
                         plainFailure(failure));
}

void QVNAPIClient::uploadPicture(const Ref<UIImage>& image, UploadCompletion completion) {
    auto finish = [completion](const std::optional<std::string>& url) {
        if (completion) completion(url);
    };
    std::optional<NSData> data = image ? UIImagePNGRepresentation(image) : std::nullopt;
    if (!data) {
        dispatch_async(dispatch_get_main_queue(), [finish] { finish(std::nullopt); });
        return;
    }
    sharedClient()->POST(
        "upload/upload.do", Value(), onePicture(std::move(*data), "uploadImage"),
        [finish](const Ref<HKHTTPRequestOperation>&, const Value& reply) {
            finish(reply.isDictionary() ? QVNAPIEnvelope::uploadedURL(*reply.dictionary()) : std::nullopt);
        },
        [finish](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>&) { finish(std::nullopt); });
}

void QVNAPIClient::postWithURLImage(const std::string& path, const Ref<UIImage>& image, SuccessBlock success,
                                    FailureBlock failure) {
    std::optional<NSData> data = image ? UIImageJPEGRepresentation(image, 0.01) : std::nullopt;
    if (!data) {
        failPictureLater(std::move(failure));
        return;
    }
    sharedClient()->POST(path, Value(), onePicture(std::move(*data), "question_image"),
                         envelopeSuccess(&QVNAPIEnvelope::readPicturePOSTReply, std::move(success), failure),
                         plainFailure(failure));
}

void QVNAPIClient::showProgressHUD() {
    GHProgressHUD::showWithStatus(std::string("上传中..."), GHProgressHUDMaskTypeGradient);
}

void QVNAPIClient::hideProgressHUD() {
    GHProgressHUD::dismiss();
}
