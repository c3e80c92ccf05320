#include "web/WebPageService.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <set>
#include <type_traits>

#include "graphics/UIColor.h"
#include "web/WebDataURL.h"
#include "web/WebDocument.h"
#include "web/WebPageSource.h"
#include "web/WebPictureDecoding.h"
#include "web/WebTextDecoding.h"

namespace detail::webpage {

namespace {

// What a reply's frame may hold besides its fields: the fixed fields of any reply fit in this.
constexpr std::size_t kReplyOverhead = 4096;
// The URLs one layout lists, in bytes: a page of many long URLs is cut short rather than make a
// reply the web view must refuse.
constexpr std::size_t kMostListedURLBytes = 32u << 20;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    return s;
}

// A plain-text document shows as preformatted text.
std::string pageOfPlainText(const std::string& text) {
    std::string out = "<html><body><pre>";
    appendEscapedHTML(out, text, false);
    return out + "</pre></body></html>";
}

std::optional<std::string> given(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}

std::uint64_t pixelsOf(const Ref<CGImage>& image) {
    return image ? std::uint64_t(image->width()) * std::uint64_t(image->height()) : 0;
}

double within(double v, double low, double high) {
    return std::isfinite(v) ? std::clamp(v, low, high) : low;
}

// Cut at a character's start, so that what is kept stays UTF-8.
void truncateUTF8(std::string& text, std::size_t most) {
    if (text.size() <= most) return;
    std::size_t end = most;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
}

}  // namespace

WebPageService::WebPageService() = default;
WebPageService::~WebPageService() = default;

Reply WebPageService::handle(const Command& command) {
    try {
        return std::visit(
            [this](const auto& c) -> Reply {
                using T = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<T, LoadCommand>)
                    return load(c);
                else if constexpr (std::is_same_v<T, StylesheetCommand>)
                    return stylesheet(c);
                else if constexpr (std::is_same_v<T, PictureCommand>)
                    return picture(c);
                else if constexpr (std::is_same_v<T, RefreshCommand>)
                    return refresh(c);
                else if constexpr (std::is_same_v<T, PaintCommand>)
                    return paint(c);
                else if constexpr (std::is_same_v<T, LinkAtCommand>)
                    return linkAt(c);
                else
                    return decode(c);
            },
            command);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        // The engine failed on this page: it answers as an empty one from now on.
        document_.reset();
        return std::visit(
            [](const auto& c) -> Reply {
                using T = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<T, LoadCommand>)
                    return LoadedReply{c.id, {}, {}, Layout{}};
                else if constexpr (std::is_same_v<T, StylesheetCommand> || std::is_same_v<T, PictureCommand>)
                    return AckReply{c.id, false};
                else if constexpr (std::is_same_v<T, RefreshCommand>)
                    return LaidOutReply{c.id, Layout{}};
                else if constexpr (std::is_same_v<T, PaintCommand>)
                    return PixelsReply{c.id, 0, 0, 0, 0, c.scale, 0, {}};
                else if constexpr (std::is_same_v<T, LinkAtCommand>)
                    return LinkReply{c.id, {}};
                else
                    return DecodedReply{c.id, false, 0};
            },
            command);
    }
}

void WebPageService::reset() {
    document_.reset();
    html_.clear();
    baseURL_.clear();
    encoding_.clear();
    stylesheets_.clear();
    pictures_.clear();
    fits_.clear();
    dataPictures_ = 0;
    decodedPixels_ = 0;
    pictureBytes_ = 0;
}

LoadedReply WebPageService::load(const LoadCommand& command) {
    reset();
    viewport_ = command.viewport;
    limits_ = command.pictureLimits;
    baseURL_ = command.baseURL;
    // As a browser decodes: the bytes' own mark, the given charset, what the page declares in
    // itself (plain text declares nothing), UTF-8.
    const bool plain = lower(command.MIMEType) == "text/plain";
    LoadedReply reply;
    reply.id = command.id;
    reply.text = plain ? decodeTextBytes(command.document, given(command.textEncodingName), &encoding_)
                       : decodeHTMLBytes(command.document, given(command.textEncodingName), &encoding_);
    html_ = plain ? pageOfPlainText(reply.text) : reply.text;
    reply.encoding = encoding_;
    build();
    reply.layout = layOut();
    std::size_t used = reply.encoding.size();
    for (const auto& url : reply.layout.stylesheets) used += url.size() + 4;
    for (const auto& p : reply.layout.pictures) used += p.url.size() + 28;
    truncateUTF8(reply.text,
                 kMaxMessageBytes - kReplyOverhead - std::min(used, kMaxMessageBytes - kReplyOverhead));
    return reply;
}

AckReply WebPageService::stylesheet(const StylesheetCommand& command) {
    if (!command.ok) {
        stylesheets_[command.url] = std::nullopt;
        return {command.id, false};
    }
    // Its own mark, its reply's charset, its own @charset, then the page's encoding.
    stylesheets_[command.url] =
        decodeStyleSheetBytes(command.bytes, given(command.charset), given(encoding_));
    return {command.id, true};
}

AckReply WebPageService::picture(const PictureCommand& command) {
    // data: pictures are read here, never asked of the web view.
    if (isDataURL(command.url)) return {command.id, false};
    Picture& p = pictures_[command.url];
    // The same picture again replaces what it had (its bytes stay counted: they came).
    decodedPixels_ -= pixelsOf(p.image);
    auto shown = fits_.find(command.url);
    const WebPictureFit fit = shown == fits_.end() ? defaultFit() : shown->second;
    p = Picture{};
    p.fit = fit;
    if (!command.ok) {
        p.failed = true;
        return {command.id, false};
    }
    return {command.id, accept(p, NSData(command.bytes.data(), command.bytes.size())), true};
}

LaidOutReply WebPageService::refresh(const RefreshCommand& command) {
    viewport_ = command.viewport;
    if (command.rebuild || !document_) build();
    return {command.id, layOut()};
}

PixelsReply WebPageService::paint(const PaintCommand& command) {
    PixelsReply reply;
    reply.id = command.id;
    reply.scale = command.scale;
    const double s = command.scale;
    const PixelArea device = pixelAreaOf(command);
    const double left = double(device.x), top = double(device.y);
    const auto width = static_cast<std::int32_t>(std::clamp<std::int64_t>(device.width, 0, kMaxPixelSide));
    auto height = static_cast<std::int32_t>(std::clamp<std::int64_t>(device.height, 0, kMaxPixelSide));
    // The reply must fit a frame: a taller area than that is painted from its top down.
    if (width > 0) {
        const std::uint64_t rows = (kMaxMessageBytes - kReplyOverhead) / (std::uint64_t(width) * 4);
        height = static_cast<std::int32_t>(std::min<std::uint64_t>(std::uint64_t(height), rows));
    }
    reply.x = static_cast<std::int32_t>(left);
    reply.y = static_cast<std::int32_t>(top);
    if (width == 0 || height == 0) return reply;
    reply.width = width;
    reply.height = height;

    // Painted straight into the reply, transparent to start with (rows of cairo's ARGB32 are
    // exactly width * 4 bytes).
    const std::size_t row = std::size_t(width) * 4;
    reply.pixels.assign(row * std::size_t(height), '\0');
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(reply.pixels.data()), CAIRO_FORMAT_ARGB32, width, height, int(row));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        throw std::bad_alloc();
    }
    if (document_) {
        cairo_t* cr = cairo_create(surface);
        cairo_translate(cr, -left, -top);
        cairo_scale(cr, s, s);
        const CGRect area = CGRectMake(left / s, top / s, width / s, height / s);
        cairo_rectangle(cr, area.origin.x, area.origin.y, area.size.width, area.size.height);
        cairo_clip(cr);
        // Where the page paints nothing stays transparent: the web view puts its own
        // background behind.
        document_->draw(cr, area);
        cairo_destroy(cr);
    }
    cairo_surface_flush(surface);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return reply;
}

LinkReply WebPageService::linkAt(const LinkAtCommand& command) {
    LinkReply reply;
    reply.id = command.id;
    if (!document_) return reply;
    if (auto link = document_->linkAt(CGPointMake(command.x, command.y));
        link && link->size() <= kMaxURLBytes)
        reply.url = *link;
    return reply;
}

DecodedReply WebPageService::decode(const DecodeCommand& command) {
    return {command.id, false, 0};
}

void WebPageService::build() {
    WebDocument::Resources resources;
    resources.stylesheet = [this](const std::string& url) { return stylesheetText(url); };
    resources.image = [this](const std::string& url) { return image(url); };
    resources.imageSize = [this](const std::string& url) -> std::optional<CGSize> {
        auto found = pictures_.find(url);
        if (found == pictures_.end() || !found->second.image) return std::nullopt;
        return CGSizeMake(CGFloat(found->second.naturalWidth), CGFloat(found->second.naturalHeight));
    };
    document_.reset();
    document_ = WebDocument::create(html_, baseURL_, std::move(resources));
}

std::optional<std::string> WebPageService::stylesheetText(const std::string& url) const {
    auto found = stylesheets_.find(url);
    return found == stylesheets_.end() ? std::nullopt : found->second;
}

Ref<CGImage> WebPageService::image(const std::string& url) {
    auto found = pictures_.find(url);
    if (found != pictures_.end()) return found->second.image;
    // A data: picture the page shows for the first time: read after the layout, at its box.
    if (isDataURL(url)) newDataPictures_.insert(url);
    return nullptr;
}

WebPictureFit WebPageService::defaultFit() const {
    WebPictureFit fit;
    fit.screen = screenPixels();
    return fit;
}

double WebPageService::screenPixels() const {
    // A view not sized yet stands for the screen it will be shown on.
    const double scale = std::max(1.0, viewport_.scale);
    const double screen = viewport_.screenPixels > 0 ? viewport_.screenPixels : viewport_.width * scale;
    return std::max(1.0, std::ceil(screen));
}

std::map<std::string, WebPictureFit> WebPageService::pictureFits() const {
    std::map<std::string, WebPictureFit> fits;
    if (!document_) return fits;
    // Each picture is decoded as large as the page shows it on this screen, no larger: its box
    // where the page sizes it, else the screen's width.
    const double scale = std::max(1.0, viewport_.scale);
    const double screen = screenPixels();
    const auto& boxes = document_->pictureBoxes();
    for (const std::string& url : document_->imageURLs()) {
        WebPictureFit fit;
        auto box = boxes.find(url);
        if (box == boxes.end()) {
            fit.screen = screen;
        } else {
            fit.width = std::ceil(box->second.width * scale);
            fit.height = std::ceil(box->second.height * scale);
            if (box->second.ownSize || (fit.width <= 0 && fit.height <= 0)) fit.screen = screen;
        }
        fits.emplace(url, fit);
    }
    return fits;
}

Layout WebPageService::layOut() {
    if (!document_) return Layout{};
    CGSize size = document_->layout(viewport_.width);
    auto fits = pictureFits();
    for (const auto& [url, fit] : fits) fits_[url] = fits_[url].joined(fit);
    bool changed = false;
    // data: pictures first shown now are read at the boxes they were just laid out in.
    std::set<std::string> fresh;
    fresh.swap(newDataPictures_);
    for (const std::string& url : document_->imageURLs()) {
        // In the page's order, so that the count of data: pictures keeps the first ones.
        if (!fresh.count(url) || pictures_.count(url)) continue;
        Picture& p = pictures_[url];
        auto fit = fits.find(url);
        p.fit = fit == fits.end() ? defaultFit() : fit->second;
        if (++dataPictures_ > kMostDataPictures) {
            p.failed = true;
            continue;
        }
        auto data = readDataURL(url, std::min<std::uint64_t>(limits_.maxPictureBytesInAll, kMaxMessageBytes));
        if (!data) {
            p.failed = true;
            continue;
        }
        if (accept(p, NSData(data->bytes.data(), data->bytes.size()))) changed = true;
    }
    // Pictures shown larger than they were decoded are decoded again from their bytes.
    for (const auto& [url, fit] : fits) {
        auto found = pictures_.find(url);
        if (found == pictures_.end() || fresh.count(url)) continue;
        found->second.fit = found->second.fit.joined(fit);
        if (decodeLarger(found->second)) changed = true;
    }
    // The page asks its pictures again as it lays out: the new decodes show, in boxes that may
    // have changed with them.
    if (changed) {
        size = document_->layout(viewport_.width);
        fits = pictureFits();
    }
    newDataPictures_.clear();
    return describe(size.width, size.height, fits);
}

Layout WebPageService::describe(double width, double height,
                                const std::map<std::string, WebPictureFit>& fits) {
    Layout layout;
    layout.contentWidth = within(width, 0, kMaxContentSide);
    layout.contentHeight = within(height, 0, kMaxContentSide);
    if (!document_) return layout;
    if (auto canvas = document_->canvasColor()) {
        CGFloat r = 0, g = 0, b = 0, a = 0;
        if (canvas->getRed(&r, &g, &b, &a)) {
            layout.hasCanvas = true;
            layout.canvasRed = within(r, 0, 1);
            layout.canvasGreen = within(g, 0, 1);
            layout.canvasBlue = within(b, 0, 1);
            layout.canvasAlpha = within(a, 0, 1);
        }
    }
    std::size_t bytes = 0;
    const auto listable = [&](const std::string& url) {
        if (url.empty() || url.size() > kMaxURLBytes || isDataURL(url)) return false;
        if (bytes + url.size() > kMostListedURLBytes) return false;
        bytes += url.size();
        return true;
    };
    for (const std::string& url : document_->stylesheetURLs()) {
        if (layout.stylesheets.size() >= kMaxResourceURLs) break;
        if (listable(url)) layout.stylesheets.push_back(url);
    }
    for (const std::string& url : document_->imageURLs()) {
        if (layout.pictures.size() >= kMaxResourceURLs) break;
        if (!listable(url)) continue;
        PictureRequest request;
        request.url = url;
        auto fit = fits.find(url);
        if (fit != fits.end()) request.fit = fit->second;
        request.fit.width = within(request.fit.width, 0, 1e9);
        request.fit.height = within(request.fit.height, 0, 1e9);
        request.fit.screen = within(request.fit.screen, 0, 1e9);
        layout.pictures.push_back(std::move(request));
    }
    return layout;
}

bool WebPageService::accept(Picture& picture, NSData bytes) {
    // What came counts against the page's budget whether or not it decodes.
    if (bytes.length() >
        limits_.maxPictureBytesInAll - std::min(pictureBytes_, limits_.maxPictureBytesInAll)) {
        picture.failed = true;
        return false;
    }
    pictureBytes_ += bytes.length();
    picture.bytes = std::move(bytes);
    return decode(picture);
}

bool WebPageService::decodeLarger(Picture& picture) {
    if (!picture.image || picture.failed || picture.redecodes >= kMostRedecodes ||
        picture.bytes.length() == 0)
        return false;
    // A few pixels more are not worth a decode (and the capped natural size rounds).
    const long long side =
        picture.fit.side(picture.naturalWidth, picture.naturalHeight, limits_.maxDecodedSide);
    if (side <= picture.decodedSide + std::max<long long>(2, picture.decodedSide / 16)) return false;
    ++picture.redecodes;
    return decode(picture);
}

bool WebPageService::decode(Picture& picture) {
    long long naturalWidth = 0, naturalHeight = 0;
    Ref<CGImage> image = decodeWebPicture(picture.bytes, limits_, picture.fit, &naturalWidth, &naturalHeight);
    const std::uint64_t before = pixelsOf(picture.image), after = pixelsOf(image);
    // A larger decode replaces the smaller one within the page's bound, or the smaller stays.
    if (!image || decodedPixels_ - before + after > limits_.maxDecodedPixelsInAll) {
        if (!picture.image) {
            picture.failed = true;
            picture.bytes = NSData();
        }
        return false;
    }
    decodedPixels_ = decodedPixels_ - before + after;
    picture.decodedSide = static_cast<long long>(std::max(image->width(), image->height()));
    picture.naturalWidth = naturalWidth;
    picture.naturalHeight = naturalHeight;
    picture.image = std::move(image);
    return true;
}

Ref<CGImage> WebPageService::pictureFor(const std::string& url) const {
    auto found = pictures_.find(url);
    return found == pictures_.end() ? nullptr : found->second.image;
}

int WebPageService::redecodesOf(const std::string& url) const {
    auto found = pictures_.find(url);
    return found == pictures_.end() ? 0 : found->second.redecodes;
}

}  // namespace detail::webpage
