// What hostile pages cost a web view in memory. Each case runs in a child process of its own (this
// program again, with the case's name): the child serves the page on loopback, loads it into a
// web view with the default limits, runs the main run loop until the page finishes or fails (at
// most a minute), and reports its peak resident size. Ends with one
// "ratio web_hostile_<case> <peak MB / 512 MB>" line a case (target: at most 1.0) and, from the
// same run, the peak of a plain small page as the reference.
//
// Cases: a page of 2 MB of gzip-compressed zeros (2 GB decoded) and a picture served the same
// way; six 10,000 x 10,000 progressive JPEGs, three CMYK ones, six 50-megapixel progressive
// photos; a stylesheet of selector chains 10,000 deep, the same inline, @media blocks nested
// 10,000 deep, and custom properties doubling 30 deep; 32 GIFs of 88 KB whose 1 x 1 screen holds frames of
// 100 and 34 megapixels, three 1-pixel PNGs of 990 zTXt chunks inflating to 7.9 MB each, and six 6400 x 6400
// progressive JPEGs in 990 scans. The big files are made once, by a child, and kept in a temporary folder.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/ChildProcess.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebPageChild.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSURL.h"
#include "network/NSURLRequest.h"
#include "tests/graphics/HostilePictures.h"
#include "tests/graphics/JPEGWriter.h"
#include "uikit/UIWebView.h"

namespace {

using benchsupport::peakKB;
using benchsupport::readFile;
using benchsupport::runSelf;

constexpr double kTargetMB = 512;
constexpr double kChildSeconds = 60;

const char* const kCases[] = {
    "plain_page",  "gzip_page",           "gzip_picture",      "progressive_100mp", "cmyk_100mp",
    "photos_50mp", "css_selector_chains", "css_inline_chains", "css_nested_media",  "gif_huge_frames",
    "png_ztxt",    "jpeg_990_scans",      "css_var_chain"};

std::string cacheDir() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/web-hostile-memory-bench";
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// ---- the files ------------------------------------------------------------------------------

// Written whole, then renamed: a file that exists is complete.
bool writeBytes(const std::string& path, const std::string& bytes) {
    if (bytes.empty()) return false;
    {
        std::ofstream out(path + ".part", std::ios::binary);
        if (!(out << bytes)) return false;
    }
    return std::rename((path + ".part").c_str(), path.c_str()) == 0;
}

bool writeJPEG(const std::string& path, const jpegwriter::Recipe& recipe) {
    return writeBytes(path, jpegwriter::write(recipe));
}

// 2 GB of zeros, gzip-compressed (about 2 MB).
bool writeGzipZeros(const std::string& path) {
    gzFile out = gzopen((path + ".part").c_str(), "wb9");
    if (!out) return false;
    std::vector<char> zeros(1 << 20, 0);
    bool ok = true;
    for (int i = 0; i < 2048 && ok; ++i) ok = gzwrite(out, zeros.data(), unsigned(zeros.size())) > 0;
    ok = gzclose(out) == Z_OK && ok;
    return ok && std::rename((path + ".part").c_str(), path.c_str()) == 0;
}

int makeFiles(const std::string& dir) {
    ::mkdir(dir.c_str(), 0755);
    bool ok = true;
    if (!exists(dir + "/zeros.gz")) ok = writeGzipZeros(dir + "/zeros.gz") && ok;
    if (!exists(dir + "/small.jpg"))
        ok = writeJPEG(dir + "/small.jpg", {400, 300, 3, true, true, false, 85}) && ok;
    if (!exists(dir + "/big.jpg"))
        ok = writeJPEG(dir + "/big.jpg", {10000, 10000, 3, false, true, true, 75}) && ok;
    if (!exists(dir + "/cmyk.jpg"))
        ok = writeJPEG(dir + "/cmyk.jpg", {10000, 10000, 4, false, true, true, 75}) && ok;
    if (!exists(dir + "/photo.jpg"))
        ok = writeJPEG(dir + "/photo.jpg", {8660, 5773, 3, true, true, false, 80}) && ok;
    if (!exists(dir + "/frames.gif")) ok = writeBytes(dir + "/frames.gif", hostile::hugeFramesGIF()) && ok;
    if (!exists(dir + "/text.png")) ok = writeBytes(dir + "/text.png", hostile::zTXtPNG()) && ok;
    if (!exists(dir + "/scans.jpg")) ok = writeBytes(dir + "/scans.jpg", hostile::manyScan6400JPEG()) && ok;
    return ok ? 0 : 1;
}

// ---- the child: a loopback server and a web view ------------------------------------------

std::string selectorChain(const char* link, int depth) {
    std::string chain;
    chain.reserve(std::size_t(depth) * 2 + 16);
    for (int i = 0; i < depth; ++i) {
        if (i) chain += link;
        chain += 'a';
    }
    return chain + " {color:red}\n";
}

// About 100 KB: chains 10,000 deep, descendant and child ones in turn.
std::string chainsStylesheet() {
    std::string css;
    for (int i = 0; i < 5; ++i) css += selectorChain(i % 2 ? ">" : " ", 10000);
    return css;
}

// 3.5 KB of custom properties, each two var() of the one before, 30 deep (unbounded, the last
// would hold 100 GB), used by the page's paragraph.
std::string varChain() {
    std::string css = "html{--v0:" + std::string(100, 'x') + ";";
    for (int i = 1; i <= 30; ++i)
        css += "--v" + std::to_string(i) + ":var(--v" + std::to_string(i - 1) + ") var(--v" +
               std::to_string(i - 1) + ");";
    return css + "}p{font-family:var(--v30)}";
}

std::string nestedMedia() {
    std::string css;
    for (int i = 0; i < 10000; ++i) css += "@media screen {";
    css += "a {color:red}";
    for (int i = 0; i < 10000; ++i) css += "}";
    return css;
}

const char kParagraph[] = "<p>A question about wheels and tyres, with a picture.</p>";

int runChild(const std::string& name, const std::string& dir) {
    std::map<std::string, benchsupport::PageReply> routes;
    std::string body;
    auto pictures = [&](const std::string& file, int count) {
        const std::string bytes = readFile(dir + "/" + file);
        const std::string extension = file.substr(file.rfind('.'));
        const std::string type = extension == ".gif"   ? "image/gif"
                                 : extension == ".png" ? "image/png"
                                                       : "image/jpeg";
        for (int i = 0; i < count; ++i) {
            const std::string path = "/p" + std::to_string(i) + extension;
            routes[path] = {type, bytes};
            body += "<img src=\"" + path + "\" width=\"300\" height=\"200\">";
        }
    };
    if (name == "plain_page") {
        pictures("small.jpg", 1);
    } else if (name == "gzip_page") {
        routes["/"] = {"text/html", readFile(dir + "/zeros.gz"), true};
    } else if (name == "gzip_picture") {
        routes["/zeros.png"] = {"image/png", readFile(dir + "/zeros.gz"), true};
        body = "<img src=\"/zeros.png\" width=\"300\" height=\"200\">";
    } else if (name == "progressive_100mp") {
        pictures("big.jpg", 6);
    } else if (name == "cmyk_100mp") {
        pictures("cmyk.jpg", 3);
    } else if (name == "photos_50mp") {
        pictures("photo.jpg", 6);
    } else if (name == "gif_huge_frames") {
        pictures("frames.gif", 32);
    } else if (name == "png_ztxt") {
        pictures("text.png", 3);
    } else if (name == "jpeg_990_scans") {
        pictures("scans.jpg", 6);
    } else if (name == "css_selector_chains") {
        routes["/deep.css"] = {"text/css", chainsStylesheet()};
        body = "<link rel=\"stylesheet\" href=\"/deep.css\">";
    } else if (name == "css_inline_chains") {
        body = "<style>" + chainsStylesheet() + "</style>";
    } else if (name == "css_var_chain") {
        body = "<style>" + varChain() + "</style>";
    } else if (name == "css_nested_media") {
        body = "<style>" + nestedMedia() + "</style>";
    } else {
        std::fprintf(stderr, "no case %s\n", name.c_str());
        return 2;
    }
    if (!routes.count("/"))
        routes["/"] = {"text/html; charset=utf-8",
                       "<html><body>" + std::string(kParagraph) + body + "</body></html>"};
    benchsupport::PageServer server(std::move(routes));

    auto web = make<UIWebView>(CGRectMake(0, 0, 375, 667));
    const char* outcome = benchsupport::loadUntilEnded(web, server.url("/"), kChildSeconds);
    std::printf("peak_kb %ld %s\n", peakKB(), outcome);
    std::fflush(stdout);
    // Server threads and workers may still be busy with the page: no orderly teardown.
    _exit(0);
}

// ---- the parent ----------------------------------------------------------------------------------

struct Outcome {
    double peakMB = -1;
    std::string how;
};
std::map<std::string, Outcome>& outcomes() {
    static std::map<std::string, Outcome> map;
    return map;
}

void BM_HostilePage(benchmark::State& state, std::string name) {
    Outcome outcome;
    for (auto _ : state) {
        const std::string text = runSelf({"bench", "--page", name, cacheDir()}, kChildSeconds + 30);
        long kb = 0;
        char how[64] = "";
        if (std::sscanf(text.c_str(), "peak_kb %ld %63s", &kb, how) == 2) {
            outcome = {kb / 1024.0, how};
        } else {
            outcome = {-1, "crashed or hung"};
        }
    }
    state.counters["peak_MB"] = outcome.peakMB;
    outcomes()[name] = outcome;
}

}  // namespace

int main(int argc, char** argv) {
    // A child: make the files, or load one page and report.
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) return makeFiles(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--page") == 0) return runChild(argv[2], argv[3]);

    benchmark::Initialize(&argc, argv);
    if (!benchsupport::madeInChild(cacheDir(), "the pictures")) return 1;
    for (const char* name : kCases)
        benchmark::RegisterBenchmark((std::string("BM_HostilePage/") + name).c_str(), BM_HostilePage, name)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto& all = outcomes();
    for (const auto& [name, outcome] : all) {
        if (name == "plain_page") continue;
        if (outcome.peakMB < 0) {
            std::printf("ratio web_hostile_%s nan\n  %s\n", name.c_str(), outcome.how.c_str());
            continue;
        }
        std::printf("ratio web_hostile_%s %.4g\n", name.c_str(), outcome.peakMB / kTargetMB);
        std::printf("  peak %.0f MB, page %s; target: at most 1.0 (%g MB)\n", outcome.peakMB,
                    outcome.how.c_str(), kTargetMB);
    }
    if (auto plain = all.find("plain_page"); plain != all.end())
        std::printf("  reference: a plain small page peaks at %.0f MB (%s)\n", plain->second.peakMB,
                    plain->second.how.c_str());
    return 0;
}
