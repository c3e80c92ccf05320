#include "web/WebPageService.h"

#include <cairo.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
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

std::chrono::nanoseconds threadCPUTime() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Whether a URL may be listed for the web view to fetch.
bool fetchable(const std::string& url) {
    return !url.empty() && url.size() <= kMaxURLBytes && !isDataURL(url);
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
        // The engine failed on this page: it answers as an empty one from now on (its pictures
        // still wait to be decoded, for nothing shows them).
        document_.reset();
        laidOut_ = false;
        painting_ = false;
        const std::uint32_t waiting = picturesToDecode();
        return std::visit(
            [waiting](const auto& c) -> Reply {
                using T = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<T, LoadCommand>)
                    return LoadedReply{c.id, {}, {}, Layout{}};
                else if constexpr (std::is_same_v<T, StylesheetCommand> || std::is_same_v<T, PictureCommand>)
                    return AckReply{c.id, false, false, waiting};
                else if constexpr (std::is_same_v<T, RefreshCommand>)
                    return LaidOutReply{c.id, Layout{}};
                else if constexpr (std::is_same_v<T, PaintCommand>)
                    return PixelsReply{c.id, 0, 0, 0, 0, c.scale, waiting, {}};
                else if constexpr (std::is_same_v<T, LinkAtCommand>)
                    return LinkReply{c.id, {}};
                else
                    return DecodedReply{c.id, false, waiting};
            },
            command);
    }
}

void WebPageService::reset() {
    document_.reset();
    laidOut_ = false;
    html_.clear();
    baseURL_.clear();
    encoding_.clear();
    stylesheets_.clear();
    waiting_.clear();
    met_.clear();
    decoded_.clear();
    pictures_.clear();
    nextOrder_ = 0;
    decodedPixels_ = 0;
    pictureBytes_ = 0;
}

std::uint32_t WebPageService::picturesToDecode() const {
    return static_cast<std::uint32_t>(std::min<std::size_t>(waiting_.size(), kMaxPicturesToDecode));
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
    std::vector<std::string> linked;
    if (command.stylesheetsFirst && !plain) {
        // Styled before its sheets are in, a page is styled and laid out twice; a scan of its
        // tags costs a small part of one.
        linked = WebDocument::linkedStylesheetURLs(html_, baseURL_, kMostLinkedStylesheets);
        linked.erase(std::remove_if(linked.begin(), linked.end(),
                                    [](const std::string& url) { return !fetchable(url); }),
                     linked.end());
    }
    if (!linked.empty()) {
        reply.layout = awaiting(linked);
    } else {
        build();
        reply.layout = layOut();
    }
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
        return {command.id, false, false, picturesToDecode()};
    }
    // Its own mark, its reply's charset, its own @charset, then the page's encoding.
    stylesheets_[command.url] =
        decodeStyleSheetBytes(command.bytes, given(command.charset), given(encoding_));
    return {command.id, true, false, picturesToDecode()};
}

AckReply WebPageService::picture(const PictureCommand& command) {
    // data: pictures are read here, never asked of the web view.
    if (isDataURL(command.url)) return {command.id, false, false, picturesToDecode()};
    Picture& p = entry(command.url);
    // The same picture again replaces what it had (its bytes stay counted: they came).
    clear(p);
    if (p.order == kUnordered) p.order = nextOrder_++;
    if (!command.ok) {
        p.failed = true;
        return {command.id, false, false, picturesToDecode()};
    }
    const bool ok = take(p, NSData(command.bytes.data(), command.bytes.size()));
    return {command.id, ok, ok && needsLayout(command.url), picturesToDecode()};
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
    reply.picturesToDecode = picturesToDecode();
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
        // The pictures the document asks for as it draws are the ones this paint meets.
        ++paints_;
        paintFrom_ = meetings_ + 1;
        paintDecoded_ = false;
        paintDecodeSpent_ = std::chrono::nanoseconds(0);
        painting_ = true;
        struct Done {
            bool& painting;
            ~Done() { painting = false; }
        } done{painting_};
        // Where the page paints nothing stays transparent: the web view puts its own
        // background behind.
        document_->draw(cr, area);
        cairo_destroy(cr);
    }
    cairo_surface_flush(surface);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    reply.picturesToDecode = picturesToDecode();
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
    DecodedReply reply;
    reply.id = command.id;
    Picture* next = !met_.empty()       ? met_.begin()->second
                    : !waiting_.empty() ? waiting_.begin()->second
                                        : nullptr;
    if (next) {
        // A picture a paint met may take the place of those painted before it; one no paint met
        // takes only room that is free.
        const bool decoded = decodeNow(*next, std::min(next->painted, paintFrom_));
        reply.repaint = decoded && next->listed && document_ != nullptr;
    }
    reply.picturesToDecode = picturesToDecode();
    return reply;
}

void WebPageService::build() {
    WebDocument::Resources resources;
    resources.stylesheet = [this](const std::string& url) { return stylesheetText(url); };
    resources.image = [this](const std::string& url) { return image(url); };
    resources.imageSize = [this](const std::string& url) -> std::optional<CGSize> {
        Picture* p = known(url);
        if (!p || p->failed || !p->header) return std::nullopt;
        return CGSizeMake(CGFloat(p->header->naturalWidth), CGFloat(p->header->naturalHeight));
    };
    document_.reset();
    laidOut_ = false;
    document_ = WebDocument::create(html_, baseURL_, std::move(resources));
}

std::optional<std::string> WebPageService::stylesheetText(const std::string& url) const {
    auto found = stylesheets_.find(url);
    return found == stylesheets_.end() ? std::nullopt : found->second;
}

WebPageService::Picture& WebPageService::entry(const std::string& url) {
    auto [at, made] = pictures_.try_emplace(url);
    Picture& p = at->second;
    if (made) {
        p.url = &at->first;
        p.fit = defaultFit();
    }
    return p;
}

WebPageService::Picture* WebPageService::known(const std::string& url) {
    auto found = pictures_.find(url);
    if (found != pictures_.end()) return &found->second;
    if (!isDataURL(url)) return nullptr;
    // A data: picture the page asks for the first time: its bytes against what is left of the
    // page's, refused before they are decoded past it.
    Picture& p = entry(url);
    const std::uint64_t left =
        limits_.maxPictureBytesInAll - std::min(pictureBytes_, limits_.maxPictureBytesInAll);
    auto data = readDataURL(url, std::size_t(std::min<std::uint64_t>(left, kMaxMessageBytes)));
    if (!data)
        p.failed = true;
    else
        take(p, NSData(data->bytes.data(), data->bytes.size()));
    return &p;
}

bool WebPageService::take(Picture& picture, NSData bytes) {
    // What came counts against the page's budget whether or not it is a picture.
    if (bytes.length() >
        limits_.maxPictureBytesInAll - std::min(pictureBytes_, limits_.maxPictureBytesInAll)) {
        picture.failed = true;
        return false;
    }
    pictureBytes_ += bytes.length();
    picture.header = readWebPictureHeader(bytes, limits_);
    if (!picture.header) {
        picture.failed = true;
        return false;
    }
    picture.bytes = std::move(bytes);
    queue(picture);
    return true;
}

void WebPageService::clear(Picture& picture) {
    unqueue(picture);
    if (picture.image) {
        decoded_.erase(paintedKey(picture));
        forgetImage(picture);
    }
    picture.bytes = NSData();
    picture.header.reset();
    picture.decodedSide = 0;
    picture.redecodes = 0;
    picture.failed = false;
}

void WebPageService::queue(Picture& picture) {
    if (picture.waiting || picture.failed || !picture.header || picture.order == kUnordered) return;
    picture.waiting = true;
    waiting_.emplace(picture.order, &picture);
    if (picture.metPaint > 0) met_.emplace(metKey(picture), &picture);
}

void WebPageService::unqueue(Picture& picture) {
    if (!picture.waiting) return;
    picture.waiting = false;
    waiting_.erase(picture.order);
    if (picture.metPaint > 0) met_.erase(metKey(picture));
}

Ref<CGImage> WebPageService::image(const std::string& url) {
    Picture* p = known(url);
    if (!p) return nullptr;
    if (!painting_) return p->image;
    meet(*p);
    if (p->waiting && (!paintDecoded_ || paintDecodeSpent_ < paintDecodeBudget_)) {
        const auto from = threadCPUTime();
        paintDecoded_ = true;
        decodeNow(*p, paintFrom_);
        paintDecodeSpent_ += threadCPUTime() - from;
    }
    return p->image;
}

void WebPageService::meet(Picture& picture) {
    if (picture.painted >= paintFrom_) return;  // met already by this paint
    const bool waiting = picture.waiting;
    unqueue(picture);
    if (picture.image) decoded_.erase(paintedKey(picture));
    picture.metPaint = paints_;
    picture.painted = ++meetings_;
    if (picture.image) decoded_.emplace(paintedKey(picture), &picture);
    // One let go, or that found no room, waits again now that it shows.
    if (waiting || !picture.image) queue(picture);
}

bool WebPageService::decodeNow(Picture& picture, std::uint64_t before) {
    unqueue(picture);
    if (picture.failed || !picture.header) return false;
    const long long maxSide = std::max(1, limits_.maxDecodedSide);
    // A larger decode is tried a few times at most, whether or not it finds room.
    if (picture.image) ++picture.redecodes;
    // Room first, for about what the decode will be: a picture that cannot fit is not decoded.
    if (!makeRoom(picture.header->decodedPixels(picture.fit, maxSide), before, &picture)) return false;
    Ref<CGImage> image = decodeWebPicture(picture.bytes, limits_, picture.fit);
    if (!image || !makeRoom(pixelsOf(image), before, &picture)) {
        // Bytes whose header read but whose picture does not are no picture after all; a larger
        // decode that finds no room leaves the smaller one.
        if (!image && !picture.image) {
            picture.failed = true;
            picture.bytes = NSData();
        }
        return false;
    }
    if (picture.image) {
        decoded_.erase(paintedKey(picture));
        decodedPixels_ -= pixelsOf(picture.image);
    }
    decodedPixels_ += pixelsOf(image);
    picture.decodedSide = static_cast<long long>(std::max(image->width(), image->height()));
    picture.image = std::move(image);
    decoded_.emplace(paintedKey(picture), &picture);
    if (document_) document_->pictureChanged(*picture.url);
    return true;
}

bool WebPageService::makeRoom(std::uint64_t pixels, std::uint64_t before, const Picture* self) {
    const std::uint64_t budget = limits_.maxDecodedPixelsInAll;
    const std::uint64_t own = pixelsOf(self->image);  // replaced by the decode
    if (pixels > budget) return false;
    auto fits = [&] { return decodedPixels_ - own + pixels <= budget; };
    for (auto at = decoded_.begin(); !fits() && at != decoded_.end() && at->first.first < before;) {
        Picture& other = *at->second;
        if (&other == self) {
            ++at;
            continue;
        }
        at = decoded_.erase(at);
        letGo(other);
    }
    return fits();
}

void WebPageService::letGo(Picture& picture) {
    // Its bytes stay: a paint that meets it again decodes it again.
    unqueue(picture);
    forgetImage(picture);
}

void WebPageService::forgetImage(Picture& picture) {
    decodedPixels_ -= pixelsOf(picture.image);
    picture.image = nullptr;
    picture.decodedSide = 0;
    if (document_) document_->pictureChanged(*picture.url);
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

WebPictureFit WebPageService::fitOf(const std::string& url) const {
    // Each picture is decoded as large as the page shows it on this screen, no larger: its box
    // where the page sizes it, else the screen's width.
    WebPictureFit fit;
    const double screen = screenPixels();
    if (!document_) {
        fit.screen = screen;
        return fit;
    }
    const double scale = std::max(1.0, viewport_.scale);
    const auto& boxes = document_->pictureBoxes();
    auto box = boxes.find(url);
    if (box == boxes.end()) {
        fit.screen = screen;
    } else {
        fit.width = std::ceil(box->second.width * scale);
        fit.height = std::ceil(box->second.height * scale);
        if (box->second.ownSize || (fit.width <= 0 && fit.height <= 0)) fit.screen = screen;
    }
    return fit;
}

bool WebPageService::needsLayout(const std::string& url) const {
    if (!document_ || !laidOut_) return true;
    const auto& boxes = document_->pictureBoxes();
    auto box = boxes.find(url);
    return box != boxes.end() && box->second.sizedByPicture;
}

Layout WebPageService::layOut() {
    if (!document_) return Layout{};
    const CGSize size = document_->layout(viewport_.width);
    laidOut_ = true;
    const long long maxSide = std::max(1, limits_.maxDecodedSide);
    for (const std::string& url : document_->imageURLs()) {
        Picture& p = entry(url);
        p.listed = true;
        const WebPictureFit fit = fitOf(url);
        p.fit = p.fitKnown ? p.fit.joined(fit) : fit;
        p.fitKnown = true;
        if (p.order == kUnordered) {
            // In the page's order, as its pictures are listed.
            p.order = nextOrder_++;
            queue(p);
            continue;
        }
        // Shown clearly larger than it was decoded (a few pixels more are not worth a decode,
        // and the capped natural size rounds): decoded again from the bytes kept.
        if (!p.image || p.waiting || p.failed || !p.header || p.redecodes >= kMostRedecodes) continue;
        const long long side = p.fit.side(p.header->width, p.header->height, maxSide);
        if (side > p.decodedSide + std::max<long long>(2, p.decodedSide / 16)) queue(p);
    }
    return describe(size.width, size.height);
}

Layout WebPageService::awaiting(const std::vector<std::string>& stylesheets) const {
    Layout layout;
    layout.contentWidth = within(viewport_.width, 1, kMaxContentSide);
    layout.contentHeight = 1;
    layout.awaitingStylesheets = true;
    std::size_t bytes = 0;
    for (const std::string& url : stylesheets) {
        if (layout.stylesheets.size() >= kMaxResourceURLs || bytes + url.size() > kMostListedURLBytes) break;
        bytes += url.size();
        layout.stylesheets.push_back(url);
    }
    return layout;
}

Layout WebPageService::describe(double width, double height) {
    Layout layout;
    layout.contentWidth = within(width, 0, kMaxContentSide);
    layout.contentHeight = within(height, 0, kMaxContentSide);
    layout.picturesToDecode = picturesToDecode();
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
        if (!fetchable(url) || bytes + url.size() > kMostListedURLBytes) return false;
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
        request.fit = fitOf(url);
        request.fit.width = within(request.fit.width, 0, 1e9);
        request.fit.height = within(request.fit.height, 0, 1e9);
        request.fit.screen = within(request.fit.screen, 0, 1e9);
        layout.pictures.push_back(std::move(request));
    }
    return layout;
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
