#pragma once
// Damaged movies for tests, made from clips written in the test: random bytes, a clip cut at its
// middle with its index at the end (as the platform writer leaves it) or at the front (remuxed so
// that a player could start before the whole file has arrived), and a clip whose tracks hold no
// samples. Header only; programs that include it link platform_media (and so FFmpeg).

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "tests/support/MovieClips.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

enum class Damage {
    RandomBytes,      // no movie at all
    CutIndexAtEnd,    // the first half of a clip whose index follows its samples
    CutIndexFirst,    // the first half of a clip whose index precedes its samples
    TracksNoSamples,  // a whole file whose tracks are declared but hold nothing
};

inline const char* damageName(Damage damage) {
    switch (damage) {
        case Damage::RandomBytes:
            return "random bytes";
        case Damage::CutIndexAtEnd:
            return "cut in half, index at the end";
        case Damage::CutIndexFirst:
            return "cut in half, index first";
        case Damage::TracksNoSamples:
            return "tracks without samples";
    }
    return "?";
}

inline bool writeRandomBytes(const std::string& path, std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xff);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

// Copies the movie's tracks into a new file with the muxer's flags (an index first, or an empty
// index followed by fragments); with `packets` false the tracks are declared and hold nothing.
inline bool remux(const std::string& source, const std::string& destination, const char* movflags,
                  bool packets, std::string* error) {
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, source.c_str(), nullptr, nullptr) < 0) {
        if (error) *error = "cannot open the source";
        return false;
    }
    AVFormatContext* out = nullptr;
    bool ok = avformat_find_stream_info(in, nullptr) >= 0 &&
              avformat_alloc_output_context2(&out, nullptr, "mp4", destination.c_str()) >= 0 && out;
    for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out, nullptr);
        ok = stream && avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar) >= 0;
        if (ok) {
            stream->codecpar->codec_tag = 0;
            stream->time_base = in->streams[i]->time_base;
        }
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", movflags, 0);
    ok = ok && avio_open(&out->pb, destination.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(out, &options) >= 0;
    av_dict_free(&options);
    AVPacket* packet = av_packet_alloc();
    while (ok && packets && av_read_frame(in, packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        ok = av_interleaved_write_frame(out, packet) >= 0;
        av_packet_unref(packet);
    }
    ok = ok && av_write_trailer(out) >= 0;
    av_packet_free(&packet);
    if (out) {
        if (out->pb) avio_closep(&out->pb);
        avformat_free_context(out);
    }
    avformat_close_input(&in);
    if (!ok && error) *error = "cannot remux the clip";
    return ok;
}

// Writes the damaged movie at `path` (scratch files go beside it).
inline bool writeDamagedMovie(Damage damage, const std::string& path, std::string* error,
                              ClipSpec spec = ClipSpec()) {
    const std::string whole = path + ".whole.mp4";
    switch (damage) {
        case Damage::RandomBytes:
            return writeRandomBytes(path, 64 * 1024, 20261207);
        case Damage::TracksNoSamples:
            // A fragmented movie declares its tracks up front; one stopped before its first
            // fragment holds no sample at all.
            if (!writeClip(whole, spec, error) ||
                !remux(whole, path, "frag_keyframe+empty_moov", false, error))
                return false;
            std::filesystem::remove(whole);
            return true;
        case Damage::CutIndexAtEnd:
            if (!writeClip(path, spec, error)) return false;
            break;
        case Damage::CutIndexFirst:
            if (!writeClip(whole, spec, error) || !remux(whole, path, "faststart", true, error)) return false;
            std::filesystem::remove(whole);
            break;
    }
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    return true;
}

// Frames in the clip a damaged movie is made from: enough that half of it still holds some.
constexpr int kDamagedClipFrames = 30;

// Writes damaged movies into a directory of its own, each made from a clip of kDamagedClipFrames.
class DamagedMovieFixture : public ::testing::Test {
  protected:
    std::string damaged(Damage damage, const std::string& name) {
        const std::string path = dir.file(name);
        std::string error;
        ClipSpec spec;
        spec.frames = kDamagedClipFrames;
        EXPECT_TRUE(writeDamagedMovie(damage, path, &error, spec)) << error;
        return path;
    }
    std::string damaged(Damage damage) { return damaged(damage, "movie" + std::to_string(files++) + ".mp4"); }

    TemporaryDirectory dir;
    int files = 0;
};

}  // namespace testsupport
