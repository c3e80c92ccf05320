#pragma once
// The movie files under the asset classes: QuickTime and MPEG-4 files read and written through
// FFmpeg's libraries (H.264 video, AAC audio).
//
// Reading accepts only the QuickTime / MPEG-4 family of containers, and only the codecs a movie
// of this platform may hold; anything else (a picture, a truncated or hostile file) is refused
// with an error text, never a crash. Frames larger than kMaximumFrameSide on a side are refused.
//
// Each decoder reads one track of its own open file, so two tracks of a movie can be read from two
// threads at once. A decoder or an encoder is used by one thread at a time.

#include <memory>
#include <string>
#include <vector>

#include "media/CMSampleBuffer.h"

namespace detail {

inline constexpr int kMaximumFrameSide = 8192;

struct MovieTrackInfo {
    CMMediaType mediaType = kCMMediaType_Video;
    int trackID = 0;
    double width = 0, height = 0;
    float nominalFrameRate = 0;
    CMTime duration = kCMTimeInvalid;
    double sampleRate = 0;
    std::uint32_t channels = 0;
};

struct MovieFileInfo {
    std::vector<MovieTrackInfo> tracks;
    CMTime duration = kCMTimeInvalid;
};

// The file's tracks; false with a reason when it is not a readable movie.
bool probeMovieFile(const std::string& path, MovieFileInfo* info, std::string* error);

class MovieTrackDecoder {
  public:
    // A decoder for the first track of the media type. Video frames come as pixel buffers of the
    // format (BGRA, or biplanar 4:2:0 full range); audio as interleaved 16-bit samples.
    static std::unique_ptr<MovieTrackDecoder> open(const std::string& path, CMMediaType mediaType,
                                                   OSType pixelFormat, std::string* error);
    ~MovieTrackDecoder();
    // The next sample; nullptr at the end, or on an error (then `error` is set). A damaged track
    // ends with an error: a sample cut short, a file that stops before the samples its index
    // lists, or (once the rest has been read) samples the decoder refused.
    CMSampleBufferRef next(std::string* error);

    struct State;

  private:
    explicit MovieTrackDecoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

class MovieEncoder {
  public:
    // "mp4" or "mov".
    MovieEncoder(std::string path, std::string container);
    ~MovieEncoder();

    bool addVideoTrack(int width, int height, std::string* error);
    bool addAudioTrack(int sampleRate, int channels, int bitRate, std::string* error);
    bool hasVideoTrack() const;
    bool hasAudioTrack() const;
    // Opens the file and writes the header.
    bool begin(std::string* error);
    // A BGRA frame at a time from the start of the session; times must increase.
    bool appendVideo(const CVPixelBufferRef& frame, CMTime time, std::string* error);
    // Interleaved 16-bit samples at a time from the start of the session (converted to the
    // track's rate and channels).
    bool appendAudio(const std::int16_t* samples, long frames, int channels, double sampleRate, CMTime time,
                     std::string* error);
    // Flushes the encoders and completes the file.
    bool finish(std::string* error);
    // Closes and deletes whatever was written.
    void abort();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace detail
