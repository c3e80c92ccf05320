#include "media/MovieCodec.h"

#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace detail {

namespace {

// The demuxers a movie of this platform comes in (FFmpeg names the whole family by one).
constexpr const char* kMovieDemuxers = "mov,mp4,m4a,3gp,3g2,mj2";
constexpr const char* kVideoDecoders = "h264,hevc,mpeg4";
constexpr const char* kAudioDecoders = "aac,mp3float,mp3,alac,pcm_s16le,pcm_s16be";
constexpr int kVideoTimescale = 90000;

// FFmpeg's own log would print every complaint about a damaged file; the reasons reach callers
// as error texts instead.
void quietLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string averror(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

struct FormatCloser {
    void operator()(AVFormatContext* c) const {
        if (c) avformat_close_input(&c);
    }
};
using FormatPointer = std::unique_ptr<AVFormatContext, FormatCloser>;

// Opens the file with the movie demuxers only, and reads its stream facts.
FormatPointer openMovie(const std::string& path, std::string* error) {
    quietLibraryLog();
    const AVInputFormat* format = av_find_input_format("mov");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kMovieDemuxers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        setError(error, "out of memory");
        av_dict_free(&options);
        return nullptr;
    }
    int status = avformat_open_input(&raw, path.c_str(), format, &options);
    av_dict_free(&options);
    if (status < 0) {
        setError(error, "cannot open the movie: " + averror(status));
        return nullptr;  // avformat_open_input frees the context on failure
    }
    FormatPointer context(raw);
    status = avformat_find_stream_info(context.get(), nullptr);
    if (status < 0) {
        setError(error, "cannot read the movie's tracks: " + averror(status));
        return nullptr;
    }
    return context;
}

bool usableStream(const AVStream* stream, CMMediaType mediaType) {
    const AVCodecParameters* p = stream->codecpar;
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return false;
    if (mediaType == kCMMediaType_Video) {
        return p->codec_type == AVMEDIA_TYPE_VIDEO && p->width > 0 && p->height > 0 &&
               p->width <= kMaximumFrameSide && p->height <= kMaximumFrameSide;
    }
    return p->codec_type == AVMEDIA_TYPE_AUDIO && p->sample_rate > 0 && p->sample_rate <= 384000 &&
           p->ch_layout.nb_channels > 0 && p->ch_layout.nb_channels <= 8;
}

CMTime timeOf(std::int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0) return kCMTimeInvalid;
    if (base.num == 1) return CMTimeMake(value, base.den);
    return CMTimeMake(av_rescale_q(value, base, AVRational{1, kVideoTimescale}), kVideoTimescale);
}

}  // namespace

bool probeMovieFile(const std::string& path, MovieFileInfo* info, std::string* error) {
    auto context = openMovie(path, error);
    if (!context) return false;
    MovieFileInfo result;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        MovieTrackInfo track;
        track.trackID = static_cast<int>(i) + 1;
        if (usableStream(stream, kCMMediaType_Video)) {
            track.mediaType = kCMMediaType_Video;
            track.width = stream->codecpar->width;
            track.height = stream->codecpar->height;
            if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
                track.nominalFrameRate = static_cast<float>(av_q2d(stream->avg_frame_rate));
        } else if (usableStream(stream, kCMMediaType_Audio)) {
            track.mediaType = kCMMediaType_Audio;
            track.sampleRate = stream->codecpar->sample_rate;
            track.channels = static_cast<std::uint32_t>(stream->codecpar->ch_layout.nb_channels);
        } else {
            continue;
        }
        if (stream->duration != AV_NOPTS_VALUE && stream->duration >= 0)
            track.duration = timeOf(stream->duration, stream->time_base);
        result.tracks.push_back(track);
    }
    if (result.tracks.empty()) {
        setError(error, "the movie has no video or audio track");
        return false;
    }
    if (context->duration != AV_NOPTS_VALUE && context->duration >= 0) {
        result.duration =
            CMTimeMake(av_rescale(context->duration, kVideoTimescale, AV_TIME_BASE), kVideoTimescale);
    } else {
        result.duration = kCMTimeZero;
        for (auto& t : result.tracks) {
            if (CMTIME_IS_NUMERIC(t.duration) && CMTimeCompare(t.duration, result.duration) > 0)
                result.duration = t.duration;
        }
    }
    if (info) *info = std::move(result);
    return true;
}

// ---- decoding ----------------------------------------------------------------------------------

struct MovieTrackDecoder::State {
    FormatPointer format;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;
    int streamIndex = -1;
    CMMediaType mediaType = kCMMediaType_Video;
    OSType pixelFormat = kCVPixelFormatType_32BGRA;
    AVRational timeBase{1, 1};
    CMTime frameDuration = kCMTimeInvalid;
    bool draining = false;
    bool finished = false;
    std::int64_t packetsRead = 0;  // of this track, as the demuxer handed them out
    std::string skippedDamage;     // why a sample was skipped, reported at the track's end

    // At the end of the file: whether the track's index still listed samples that never came. A
    // file cut after its index reads cleanly up to the cut and then simply ends, so this is the
    // only sign that the rest of the movie is missing.
    bool endedShort(std::string* error) const {
        const AVStream* stream = format->streams[streamIndex];
        const std::int64_t declared = avformat_index_get_entries_count(stream);
        if (packetsRead >= declared) return false;
        setError(error, "the movie ends early: " + std::to_string(packetsRead) + " of the track's " +
                            std::to_string(declared) + " samples are in the file");
        return true;
    }

    ~State() {
        sws_freeContext(scaler);
        swr_free(&resampler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
    }

    CMSampleBufferRef convertVideo(std::string* error) {
        const int width = frame->width, height = frame->height;
        if (width <= 0 || height <= 0 || width > kMaximumFrameSide || height > kMaximumFrameSide) {
            setError(error, "a frame has an unusable size");
            return nullptr;
        }
        const bool planar = pixelFormat != kCVPixelFormatType_32BGRA;
        CVPixelBufferRef buffer;
        const int evenWidth = planar ? (width + 1) & ~1 : width,
                  evenHeight = planar ? (height + 1) & ~1 : height;
        if (CVPixelBufferCreate(static_cast<std::size_t>(evenWidth), static_cast<std::size_t>(evenHeight),
                                pixelFormat, &buffer) != kCVReturnSuccess) {
            setError(error, "cannot make a pixel buffer");
            return nullptr;
        }
        const AVPixelFormat target = planar ? AV_PIX_FMT_NV12 : AV_PIX_FMT_BGRA;
        scaler = sws_getCachedContext(scaler, width, height, static_cast<AVPixelFormat>(frame->format), width,
                                      height, target, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!scaler) {
            setError(error, "cannot convert the frame's pixel format");
            return nullptr;
        }
        std::uint8_t* planes[4] = {};
        int strides[4] = {};
        if (planar) {
            planes[0] = buffer->baseAddressOfPlane(0);
            planes[1] = buffer->baseAddressOfPlane(1);
            strides[0] = static_cast<int>(buffer->plane(0).bytesPerRow);
            strides[1] = static_cast<int>(buffer->plane(1).bytesPerRow);
            buffer->setAttachment(kCVImageBufferYCbCrMatrixKey, Value(kCVImageBufferYCbCrMatrix_ITU_R_601_4),
                                  kCVAttachmentMode_ShouldPropagate);
        } else {
            planes[0] = buffer->baseAddress();
            strides[0] = static_cast<int>(buffer->bytesPerRow());
        }
        sws_scale(scaler, frame->data, frame->linesize, 0, height, planes, strides);
        CMFormatDescriptionRef description;
        CMVideoFormatDescriptionCreateForImageBuffer(buffer, &description);
        CMSampleTimingInfo timing;
        timing.presentationTimeStamp = timeOf(frame->best_effort_timestamp, timeBase);
        timing.duration = frameDuration;
        return make<CMSampleBuffer>(buffer, description, timing);
    }

    CMSampleBufferRef convertAudio(std::string* error) {
        const int channels = frame->ch_layout.nb_channels;
        if (channels <= 0 || channels > 8 || frame->sample_rate <= 0 || frame->nb_samples <= 0) {
            setError(error, "an audio frame has an unusable format");
            return nullptr;
        }
        swr_free(&resampler);
        // The frame's own layout serves both sides: a copy would need an initialised destination,
        // since copying first releases whatever channel map the destination claims to own.
        int status = swr_alloc_set_opts2(&resampler, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                         &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                         frame->sample_rate, 0, nullptr);
        if (status < 0 || swr_init(resampler) < 0) {
            setError(error, "cannot convert the audio's sample format");
            return nullptr;
        }
        std::vector<std::int16_t> samples(static_cast<std::size_t>(frame->nb_samples) * channels);
        std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(samples.data())};
        const int converted =
            swr_convert(resampler, out, frame->nb_samples,
                        const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (converted < 0) {
            setError(error, "cannot convert the audio's sample format");
            return nullptr;
        }
        samples.resize(static_cast<std::size_t>(converted) * channels);
        CMTime time = kCMTimeInvalid;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            time = CMTimeMake(
                av_rescale_q(frame->best_effort_timestamp, timeBase, AVRational{1, frame->sample_rate}),
                frame->sample_rate);
        return make<CMSampleBuffer>(std::move(samples), static_cast<std::uint32_t>(channels),
                                    frame->sample_rate, time);
    }
};

MovieTrackDecoder::MovieTrackDecoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
MovieTrackDecoder::~MovieTrackDecoder() = default;

std::unique_ptr<MovieTrackDecoder> MovieTrackDecoder::open(const std::string& path, CMMediaType mediaType,
                                                           OSType pixelFormat, std::string* error) {
    auto state = std::make_unique<State>();
    state->format = openMovie(path, error);
    if (!state->format) return nullptr;
    for (unsigned i = 0; i < state->format->nb_streams; ++i) {
        if (usableStream(state->format->streams[i], mediaType)) {
            state->streamIndex = static_cast<int>(i);
            break;
        }
    }
    if (state->streamIndex < 0) {
        setError(error, mediaType == kCMMediaType_Video ? "the movie has no video track"
                                                        : "the movie has no audio track");
        return nullptr;
    }
    for (unsigned i = 0; i < state->format->nb_streams; ++i) {
        if (static_cast<int>(i) != state->streamIndex) state->format->streams[i]->discard = AVDISCARD_ALL;
    }
    AVStream* stream = state->format->streams[state->streamIndex];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) {
        setError(error, "the track's codec cannot be decoded");
        return nullptr;
    }
    state->codec = avcodec_alloc_context3(decoder);
    if (!state->codec || avcodec_parameters_to_context(state->codec, stream->codecpar) < 0) {
        setError(error, "cannot set up the track's decoder");
        return nullptr;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "codec_whitelist",
                mediaType == kCMMediaType_Video ? kVideoDecoders : kAudioDecoders, 0);
    state->codec->pkt_timebase = stream->time_base;
    // Large frames decode on as many threads as the machine offers; small ones are not worth it.
    if (mediaType == kCMMediaType_Video && stream->codecpar->width * stream->codecpar->height >= 640 * 480)
        state->codec->thread_count = 0;
    const int status = avcodec_open2(state->codec, decoder, &options);
    av_dict_free(&options);
    if (status < 0) {
        setError(error, "cannot open the track's decoder: " + averror(status));
        return nullptr;
    }
    state->packet = av_packet_alloc();
    state->frame = av_frame_alloc();
    if (!state->packet || !state->frame) {
        setError(error, "out of memory");
        return nullptr;
    }
    state->mediaType = mediaType;
    state->pixelFormat = pixelFormat == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange
                             ? pixelFormat
                             : kCVPixelFormatType_32BGRA;
    state->timeBase = stream->time_base;
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
        state->frameDuration =
            CMTimeMake(av_rescale_q(1, av_inv_q(stream->avg_frame_rate), AVRational{1, kVideoTimescale}),
                       kVideoTimescale);
    return std::unique_ptr<MovieTrackDecoder>(new MovieTrackDecoder(std::move(state)));
}

CMSampleBufferRef MovieTrackDecoder::next(std::string* error) {
    State& s = *state_;
    // The track's end: clean only when nothing was skipped along the way.
    auto end = [&]() -> CMSampleBufferRef {
        s.finished = true;
        if (!s.skippedDamage.empty()) setError(error, s.skippedDamage);
        return nullptr;
    };
    auto fail = [&](std::string reason) -> CMSampleBufferRef {
        setError(error, std::move(reason));
        s.finished = true;
        return nullptr;
    };
    while (!s.finished) {
        int status = avcodec_receive_frame(s.codec, s.frame);
        if (status == 0) {
            auto sample = s.mediaType == kCMMediaType_Video ? s.convertVideo(error) : s.convertAudio(error);
            av_frame_unref(s.frame);
            if (!sample) s.finished = true;
            return sample;
        }
        if (status == AVERROR_EOF) return end();
        if (status != AVERROR(EAGAIN)) return fail("cannot decode the track: " + averror(status));
        if (s.draining) return end();
        status = av_read_frame(s.format.get(), s.packet);
        if (status == AVERROR_EOF) {
            // A movie whose samples stop before its index does is damaged, not finished: the
            // frames read so far are all there is, and the caller must not take them for the
            // whole movie.
            std::string shortRead;
            if (s.endedShort(&shortRead)) return fail(shortRead);
            s.draining = true;
            avcodec_send_packet(s.codec, nullptr);
            continue;
        }
        if (status < 0) return fail("cannot read the movie: " + averror(status));
        if (s.packet->stream_index == s.streamIndex) {
            ++s.packetsRead;
            // The demuxer marks a sample that the file's end cut short.
            const bool cut = (s.packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
            status = cut ? 0 : avcodec_send_packet(s.codec, s.packet);
            av_packet_unref(s.packet);
            if (cut) return fail("the movie is damaged: a sample is cut short");
            if (status == AVERROR_INVALIDDATA) {
                // A sample the decoder refuses is skipped so that the rest of the track still
                // plays, but the track no longer ends cleanly.
                if (s.skippedDamage.empty()) s.skippedDamage = "cannot decode the track: " + averror(status);
            } else if (status < 0 && status != AVERROR(EAGAIN)) {
                return fail("cannot decode the track: " + averror(status));
            }
            continue;
        }
        av_packet_unref(s.packet);
    }
    return nullptr;
}

// ---- encoding ----------------------------------------------------------------------------------

struct MovieEncoder::State {
    std::string path;
    std::string container;
    AVFormatContext* format = nullptr;
    bool fileOpen = false;
    bool headerWritten = false;
    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* audioStream = nullptr;
    AVFrame* videoFrame = nullptr;
    AVFrame* paddedSource = nullptr;  // a BGRA copy for widths the converter would over-read
    AVFrame* audioFrame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;
    int resamplerRate = 0, resamplerChannels = 0;
    AVAudioFifo* fifo = nullptr;
    std::int64_t lastVideoPts = AV_NOPTS_VALUE;
    // Each video packet waits for the next, which tells its duration (the movie's last frame
    // then lasts as long as the one before it, rather than nothing).
    AVPacket* heldVideo = nullptr;
    std::int64_t lastVideoDuration = 0;
    std::int64_t audioSamplesQueued = 0;  // at the track's rate, from the session start
    bool audioStarted = false;

    ~State() {
        sws_freeContext(scaler);
        swr_free(&resampler);
        if (fifo) av_audio_fifo_free(fifo);
        av_frame_free(&videoFrame);
        av_frame_free(&paddedSource);
        av_frame_free(&audioFrame);
        av_packet_free(&packet);
        av_packet_free(&heldVideo);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (format) {
            if (fileOpen) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    bool ensureFormat(std::string* error) {
        if (format) return true;
        if (avformat_alloc_output_context2(&format, nullptr, container.c_str(), path.c_str()) < 0 ||
            !format) {
            setError(error, "cannot make a movie of type " + container);
            return false;
        }
        return true;
    }

    bool drain(AVCodecContext* codec, AVStream* stream, std::string* error) {
        while (true) {
            int status = avcodec_receive_packet(codec, packet);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
            if (status < 0) {
                setError(error, "cannot encode: " + averror(status));
                return false;
            }
            packet->stream_index = stream->index;
            if (codec == video) {
                if (!heldVideo) heldVideo = av_packet_alloc();
                const bool held = heldVideo->data != nullptr;
                if (held) {
                    lastVideoDuration = packet->pts - heldVideo->pts;
                    heldVideo->duration = lastVideoDuration;
                    if (!write(heldVideo, codec, stream, error)) return false;
                }
                av_packet_move_ref(heldVideo, packet);
                continue;
            }
            if (!write(packet, codec, stream, error)) return false;
        }
    }

    bool write(AVPacket* p, AVCodecContext* codec, AVStream* stream, std::string* error) {
        av_packet_rescale_ts(p, codec->time_base, stream->time_base);
        const int status = av_interleaved_write_frame(format, p);
        if (status < 0) {
            setError(error, "cannot write the movie: " + averror(status));
            return false;
        }
        return true;
    }

    bool writeHeldVideo(std::string* error) {
        if (!heldVideo || !heldVideo->data) return true;
        heldVideo->duration = lastVideoDuration > 0 ? lastVideoDuration : kVideoTimescale / 30;
        return write(heldVideo, video, videoStream, error);
    }

    bool encodeAudioFrames(bool flushAll, std::string* error) {
        const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        while (av_audio_fifo_size(fifo) >= frameSize || (flushAll && av_audio_fifo_size(fifo) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(fifo));
            av_frame_unref(audioFrame);
            audioFrame->nb_samples = count;
            audioFrame->format = audio->sample_fmt;
            audioFrame->sample_rate = audio->sample_rate;
            av_channel_layout_copy(&audioFrame->ch_layout, &audio->ch_layout);
            if (av_frame_get_buffer(audioFrame, 0) < 0) {
                setError(error, "out of memory");
                return false;
            }
            av_audio_fifo_read(fifo, reinterpret_cast<void**>(audioFrame->data), count);
            audioFrame->pts = audioSamplesQueued - av_audio_fifo_size(fifo) - count;
            if (avcodec_send_frame(audio, audioFrame) < 0) {
                setError(error, "cannot encode the audio");
                return false;
            }
            if (!drain(audio, audioStream, error)) return false;
        }
        return true;
    }
};

MovieEncoder::MovieEncoder(std::string path, std::string container) : state_(std::make_unique<State>()) {
    quietLibraryLog();
    state_->path = std::move(path);
    state_->container = std::move(container);
    state_->packet = av_packet_alloc();
    state_->videoFrame = av_frame_alloc();
    state_->audioFrame = av_frame_alloc();
}

MovieEncoder::~MovieEncoder() = default;

bool MovieEncoder::hasVideoTrack() const {
    return state_->video != nullptr;
}
bool MovieEncoder::hasAudioTrack() const {
    return state_->audio != nullptr;
}

bool MovieEncoder::addVideoTrack(int width, int height, std::string* error) {
    State& s = *state_;
    if (s.video) {
        setError(error, "the movie already has a video track");
        return false;
    }
    if (width <= 0 || height <= 0 || width > kMaximumFrameSide || height > kMaximumFrameSide) {
        setError(error, "H.264 needs a width and height from 1 to " + std::to_string(kMaximumFrameSide));
        return false;
    }
    // 4:2:0 chroma covers pixels in pairs and H.264 crops such a picture in pairs only, so an odd
    // side could never come back exact; full-resolution chroma can be cropped to any size.
    const AVPixelFormat pixelFormat = width % 2 || height % 2 ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    if (!s.ensureFormat(error)) return false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        setError(error, "no H.264 encoder");
        return false;
    }
    s.video = avcodec_alloc_context3(codec);
    s.video->width = width;
    s.video->height = height;
    s.video->pix_fmt = pixelFormat;
    s.video->time_base = AVRational{1, kVideoTimescale};
    s.video->framerate = AVRational{30, 1};
    s.video->max_b_frames = 0;
    s.video->gop_size = 30;
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) s.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(s.video->priv_data, "preset", "veryfast", 0);
    av_opt_set(s.video->priv_data, "crf", "20", 0);
    int status = avcodec_open2(s.video, codec, nullptr);
    if (status < 0) {
        setError(error, "cannot open the H.264 encoder: " + averror(status));
        avcodec_free_context(&s.video);
        return false;
    }
    s.videoStream = avformat_new_stream(s.format, nullptr);
    avcodec_parameters_from_context(s.videoStream->codecpar, s.video);
    s.videoStream->time_base = s.video->time_base;
    s.videoFrame->format = pixelFormat;
    s.videoFrame->width = width;
    s.videoFrame->height = height;
    if (av_frame_get_buffer(s.videoFrame, 0) < 0) {
        setError(error, "out of memory");
        return false;
    }
    return true;
}

bool MovieEncoder::addAudioTrack(int sampleRate, int channels, int bitRate, std::string* error) {
    State& s = *state_;
    if (s.audio) {
        setError(error, "the movie already has an audio track");
        return false;
    }
    if (sampleRate <= 0 || sampleRate > 96000 || channels <= 0 || channels > 2) {
        setError(error, "AAC needs a sample rate up to 96000 Hz and one or two channels");
        return false;
    }
    if (!s.ensureFormat(error)) return false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        setError(error, "no AAC encoder");
        return false;
    }
    s.audio = avcodec_alloc_context3(codec);
    s.audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    s.audio->sample_rate = sampleRate;
    av_channel_layout_default(&s.audio->ch_layout, channels);
    s.audio->bit_rate = bitRate > 0 ? bitRate : 64000;
    s.audio->time_base = AVRational{1, sampleRate};
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) s.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int status = avcodec_open2(s.audio, codec, nullptr);
    if (status < 0) {
        setError(error, "cannot open the AAC encoder: " + averror(status));
        avcodec_free_context(&s.audio);
        return false;
    }
    s.audioStream = avformat_new_stream(s.format, nullptr);
    avcodec_parameters_from_context(s.audioStream->codecpar, s.audio);
    s.audioStream->time_base = s.audio->time_base;
    s.fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, 4096);
    return s.fifo != nullptr;
}

bool MovieEncoder::begin(std::string* error) {
    State& s = *state_;
    if (!s.ensureFormat(error)) return false;
    if (!s.video && !s.audio) {
        setError(error, "the movie has no track to write");
        return false;
    }
    int status = avio_open(&s.format->pb, s.path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        setError(error, "cannot create the file: " + averror(status));
        return false;
    }
    s.fileOpen = true;
    status = avformat_write_header(s.format, nullptr);
    if (status < 0) {
        setError(error, "cannot write the movie's header: " + averror(status));
        return false;
    }
    s.headerWritten = true;
    return true;
}

bool MovieEncoder::appendVideo(const CVPixelBufferRef& frame, CMTime time, std::string* error) {
    State& s = *state_;
    if (!s.headerWritten || !s.video) {
        setError(error, "the movie is not being written");
        return false;
    }
    if (!frame || frame->pixelFormatType() != kCVPixelFormatType_32BGRA || !CMTIME_IS_NUMERIC(time)) {
        setError(error, "a video frame must be BGRA with a time");
        return false;
    }
    const std::int64_t pts = detail::valueAtTimescale(time, kVideoTimescale);
    if (s.lastVideoPts != AV_NOPTS_VALUE && pts <= s.lastVideoPts) {
        setError(error, "frame times must increase");
        return false;
    }
    if (av_frame_make_writable(s.videoFrame) < 0) {
        setError(error, "out of memory");
        return false;
    }
    s.scaler = sws_getCachedContext(
        s.scaler, static_cast<int>(frame->width()), static_cast<int>(frame->height()), AV_PIX_FMT_BGRA,
        s.video->width, s.video->height, s.video->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!s.scaler) {
        setError(error, "cannot convert the frame");
        return false;
    }
    const std::uint8_t* source[1] = {frame->baseAddress()};
    int stride[1] = {static_cast<int>(frame->bytesPerRow())};
    const int sourceWidth = static_cast<int>(frame->width()),
              sourceHeight = static_cast<int>(frame->height());
    if (sourceWidth % 16 != 0) {
        // The converter reads rows in wide steps, past the end of a row whose width is not a
        // multiple of them; the last row of a tight buffer would be over-read. A padded copy
        // keeps every read inside.
        if (!s.paddedSource || s.paddedSource->width != sourceWidth ||
            s.paddedSource->height != sourceHeight) {
            av_frame_free(&s.paddedSource);
            s.paddedSource = av_frame_alloc();
            if (!s.paddedSource) {
                setError(error, "out of memory");
                return false;
            }
            s.paddedSource->format = AV_PIX_FMT_BGRA;
            s.paddedSource->width = sourceWidth;
            s.paddedSource->height = sourceHeight;
            if (av_frame_get_buffer(s.paddedSource, 64) < 0) {
                av_frame_free(&s.paddedSource);
                setError(error, "out of memory");
                return false;
            }
        }
        av_image_copy_plane(s.paddedSource->data[0], s.paddedSource->linesize[0], frame->baseAddress(),
                            static_cast<int>(frame->bytesPerRow()), sourceWidth * 4, sourceHeight);
        source[0] = s.paddedSource->data[0];
        stride[0] = s.paddedSource->linesize[0];
    }
    sws_scale(s.scaler, source, stride, 0, sourceHeight, s.videoFrame->data, s.videoFrame->linesize);
    s.videoFrame->pts = pts;
    s.lastVideoPts = pts;
    if (avcodec_send_frame(s.video, s.videoFrame) < 0) {
        setError(error, "cannot encode the frame");
        return false;
    }
    return s.drain(s.video, s.videoStream, error);
}

bool MovieEncoder::appendAudio(const std::int16_t* samples, long frames, int channels, double sampleRate,
                               CMTime time, std::string* error) {
    State& s = *state_;
    if (!s.headerWritten || !s.audio) {
        setError(error, "the movie is not being written");
        return false;
    }
    if (!samples || frames <= 0 || channels <= 0 || channels > 8 || sampleRate <= 0 || sampleRate > 384000) {
        setError(error, "unusable audio");
        return false;
    }
    const int rate = static_cast<int>(sampleRate);
    if (!s.resampler || s.resamplerRate != rate || s.resamplerChannels != channels) {
        swr_free(&s.resampler);
        AVChannelLayout in{};
        av_channel_layout_default(&in, channels);
        const int status =
            swr_alloc_set_opts2(&s.resampler, &s.audio->ch_layout, AV_SAMPLE_FMT_FLTP, s.audio->sample_rate,
                                &in, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        if (status < 0 || swr_init(s.resampler) < 0) {
            setError(error, "cannot convert the audio");
            return false;
        }
        s.resamplerRate = rate;
        s.resamplerChannels = channels;
    }
    if (!s.audioStarted) {
        // Audio that starts after the session start begins with that much silence.
        s.audioStarted = true;
        if (CMTIME_IS_NUMERIC(time) && time.value > 0) {
            const std::int64_t offset = detail::valueAtTimescale(time, s.audio->sample_rate);
            s.audioSamplesQueued = offset;
        }
    }
    const int capacity = swr_get_out_samples(s.resampler, static_cast<int>(frames));
    if (capacity <= 0) return true;
    std::vector<std::vector<float>> planes(static_cast<std::size_t>(s.audio->ch_layout.nb_channels),
                                           std::vector<float>(static_cast<std::size_t>(capacity)));
    std::vector<std::uint8_t*> out;
    for (auto& p : planes) out.push_back(reinterpret_cast<std::uint8_t*>(p.data()));
    const std::uint8_t* in[1] = {reinterpret_cast<const std::uint8_t*>(samples)};
    const int converted = swr_convert(s.resampler, out.data(), capacity, in, static_cast<int>(frames));
    if (converted < 0) {
        setError(error, "cannot convert the audio");
        return false;
    }
    if (av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(out.data()), converted) < converted) {
        setError(error, "out of memory");
        return false;
    }
    s.audioSamplesQueued += converted;
    return s.encodeAudioFrames(false, error);
}

bool MovieEncoder::finish(std::string* error) {
    State& s = *state_;
    if (!s.headerWritten) {
        setError(error, "the movie was never started");
        return false;
    }
    if (s.video) {
        avcodec_send_frame(s.video, nullptr);
        if (!s.drain(s.video, s.videoStream, error) || !s.writeHeldVideo(error)) return false;
    }
    if (s.audio) {
        if (!s.encodeAudioFrames(true, error)) return false;
        avcodec_send_frame(s.audio, nullptr);
        if (!s.drain(s.audio, s.audioStream, error)) return false;
    }
    const int status = av_write_trailer(s.format);
    if (status < 0) {
        setError(error, "cannot complete the movie: " + averror(status));
        return false;
    }
    s.headerWritten = false;
    if (s.fileOpen) {
        avio_closep(&s.format->pb);
        s.fileOpen = false;
    }
    return true;
}

void MovieEncoder::abort() {
    State& s = *state_;
    if (s.format && s.fileOpen) {
        avio_closep(&s.format->pb);
        s.fileOpen = false;
    }
    s.headerWritten = false;
    std::remove(s.path.c_str());
}

}  // namespace detail
