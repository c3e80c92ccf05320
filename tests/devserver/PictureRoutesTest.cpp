#include <gtest/gtest.h>

#include "DevServerTestClient.h"
#include "tests/support/TestSupport.h"

using namespace devservertest;

namespace {

class PictureRoutesTest : public ServerTest {
  protected:
    // Uploads bytes as the app does and answers the served URL.
    std::string upload(const std::string& bytes) {
        auto reply = postFile(api("upload/upload.do"), bytes);
        EXPECT_EQ(reply.resultCode(), 0) << reply.body;
        return reply.json()["url"].stringValue();
    }
};

TEST_F(PictureRoutesTest, UploadThenFetchGivesTheBytesWithValidators) {
    std::string png = samplePNG();
    std::string url = upload(png);
    ASSERT_EQ(url.rfind(server.baseURL(), 0), 0u) << url;
    auto picture = get(url);
    EXPECT_EQ(picture.status, 200);
    EXPECT_EQ(picture.body, png);
    EXPECT_EQ(picture.header("Content-Type"), "image/png");
    EXPECT_EQ(picture.header("Cache-Control"), "no-cache");
    ASSERT_TRUE(picture.header("ETag"));
    ASSERT_TRUE(picture.header("Last-Modified"));
    EXPECT_EQ(picture.header("ETag")->front(), '"');
}

TEST_F(PictureRoutesTest, EachUploadGetsItsOwnURL) {
    std::string a = upload(samplePNG()), b = upload(samplePNG());
    EXPECT_NE(a, b);
}

TEST_F(PictureRoutesTest, TheServedTypeComesFromTheSignature) {
    // JPEG bytes declared as PNG, as the app's picture POST sends them.
    std::string url = upload(sampleJPEG());
    EXPECT_EQ(get(url).header("Content-Type"), "image/jpeg");
    std::string gif = std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14);
    EXPECT_EQ(get(upload(gif)).header("Content-Type"), "image/gif");
    EXPECT_EQ(devserver::sniffImageType("RIFF\x10\x00\x00\x00WEBPVP8 "), "");
    EXPECT_EQ(devserver::sniffImageType(""), "");
    EXPECT_EQ(devserver::sniffImageType("\x89PNG"), "");
}

TEST_F(PictureRoutesTest, UploadRefusesAMissingPartOrNonPictureBytes) {
    EXPECT_EQ(
        postFile(api("upload/upload.do"), samplePNG(), "uploadImage", "image/png", "picture").resultCode(),
        devserver::kResultBadRequest);
    EXPECT_EQ(postFile(api("upload/upload.do"), "hello").resultCode(), devserver::kResultBadRequest);
    EXPECT_EQ(postForm(api("upload/upload.do"), "file=abc").resultCode(), devserver::kResultBadRequest);
}

TEST_F(PictureRoutesTest, IfNoneMatchAndIfModifiedSinceGive304WithoutABody) {
    std::string url = upload(samplePNG());
    auto first = get(url);
    std::string etag = *first.header("ETag"), modified = *first.header("Last-Modified");
    auto byTag = get(url, {"If-None-Match: " + etag});
    EXPECT_EQ(byTag.status, 304);
    EXPECT_TRUE(byTag.body.empty());
    EXPECT_EQ(byTag.header("ETag"), etag);
    EXPECT_EQ(get(url, {"If-None-Match: W/" + etag}).status, 304);
    EXPECT_EQ(get(url, {"If-None-Match: \"other\", " + etag}).status, 304);
    EXPECT_EQ(get(url, {"If-None-Match: *"}).status, 304);
    EXPECT_EQ(get(url, {"If-None-Match: \"other\""}).status, 200);
    EXPECT_EQ(get(url, {"If-Modified-Since: " + modified}).status, 304);
    EXPECT_EQ(get(url, {"If-Modified-Since: Thu, 01 Jan 1970 00:00:00 GMT"}).status, 200);
    EXPECT_EQ(get(url, {"If-Modified-Since: not a date"}).status, 200);
    // If-None-Match wins over a matching If-Modified-Since.
    EXPECT_EQ(get(url, {"If-None-Match: \"other\"", "If-Modified-Since: " + modified}).status, 200);
}

TEST_F(PictureRoutesTest, AReplacedPictureIsFetchedAgainAndAnUnchangedOneIsKept) {
    std::string url = server.storePicture(samplePNG(), "shared");
    auto first = get(url);
    std::string etag = *first.header("ETag"), modified = *first.header("Last-Modified");
    server.storePicture(samplePNG(), "shared");  // the same bytes
    EXPECT_EQ(get(url, {"If-None-Match: " + etag}).status, 304);
    server.storePicture(sampleJPEG(), "shared");
    auto changed = get(url, {"If-None-Match: " + etag});
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(changed.body, sampleJPEG());
    EXPECT_EQ(get(url, {"If-Modified-Since: " + modified}).status, 200);
}

TEST_F(PictureRoutesTest, CacheControlCanBeSwitchedToMaxAge) {
    std::string url = upload(samplePNG());
    server.setPictureCacheControl("max-age=3600");
    EXPECT_EQ(get(url).header("Cache-Control"), "max-age=3600");
}

TEST_F(PictureRoutesTest, RangesGivePartialContent) {
    std::string png = samplePNG();
    std::string url = upload(png);
    std::string size = std::to_string(png.size());
    auto head = get(url, {"Range: bytes=0-9"});
    EXPECT_EQ(head.status, 206);
    EXPECT_EQ(head.body, png.substr(0, 10));
    EXPECT_EQ(head.header("Content-Range"), "bytes 0-9/" + size);
    auto rest = get(url, {"Range: bytes=10-"});
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.body, png.substr(10));
    auto tail = get(url, {"Range: bytes=-5"});
    EXPECT_EQ(tail.body, png.substr(png.size() - 5));
    auto past = get(url, {"Range: bytes=5-100000"});
    EXPECT_EQ(past.body, png.substr(5));
    EXPECT_EQ(past.header("Content-Range"), "bytes 5-" + std::to_string(png.size() - 1) + "/" + size);
    auto unsatisfiable = get(url, {"Range: bytes=" + size + "-"});
    EXPECT_EQ(unsatisfiable.status, 416);
    EXPECT_EQ(unsatisfiable.header("Content-Range"), "bytes */" + size);
    // Several ranges are answered with the whole picture.
    EXPECT_EQ(get(url, {"Range: bytes=0-1,4-5"}).status, 200);
}

TEST_F(PictureRoutesTest, IfRangeResumesOnlyTheSameVersion) {
    std::string png = samplePNG();
    std::string url = upload(png);
    auto first = get(url);
    std::string etag = *first.header("ETag"), modified = *first.header("Last-Modified");
    EXPECT_EQ(get(url, {"Range: bytes=4-", "If-Range: " + etag}).status, 206);
    EXPECT_EQ(get(url, {"Range: bytes=4-", "If-Range: " + modified}).status, 206);
    auto stale = get(url, {"Range: bytes=4-", "If-Range: \"older\""});
    EXPECT_EQ(stale.status, 200);
    EXPECT_EQ(stale.body, png);
    EXPECT_EQ(get(url, {"Range: bytes=4-", "If-Range: W/" + etag}).status, 200);
    EXPECT_EQ(get(url, {"Range: bytes=4-", "If-Range: Thu, 01 Jan 1970 00:00:00 GMT"}).status, 200);
}

TEST_F(PictureRoutesTest, UnknownPicturesAre404AndPathsCannotClimbOut) {
    EXPECT_EQ(get(server.baseURL() + "pictures/none").status, 404);
    EXPECT_EQ(get(server.baseURL() + "pictures/").status, 404);
    EXPECT_EQ(get(server.baseURL() + "pictures/%2E%2E/avatar-1").status, 404);
}

TEST_F(PictureRoutesTest, UploadsAreWrittenToTheDataDirectory) {
    testsupport::TemporaryDirectory directory;
    devserver::DevServer::Options options;
    options.dataDirectory = directory.path() + "/uploads";
    devserver::DevServer other(options);
    ASSERT_TRUE(other.start());
    auto reply = postFile(other.apiRoot() + "upload/upload.do", samplePNG());
    std::string url = reply.json()["url"].stringValue();
    std::string id = url.substr(url.rfind('/') + 1);
    auto stored = NSData::dataWithContentsOfFile(options.dataDirectory + "/" + id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->toString(), samplePNG());
}

}  // namespace
