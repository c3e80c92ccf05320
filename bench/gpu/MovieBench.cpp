// A movie through the pipeline: a generated 1280 x 720, 120-frame H.264 clip is read, tinted
// (the monochrome filter) and written back as H.264 by the movie source and writer, paced by the
// writer; beside it, FFmpeg's own decode and encode of the same clip with no filter (decoded
// frames go straight to the encoder, same encoder settings). Both in frames per second.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/support/RatioReporter.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXMonochromeFilter.h"
#include "gpu/media/GPXMovie.h"
#include "gpu/media/GPXMovieWriter.h"
#include "media/AVAssetWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace {

constexpr int kWidth = 1280, kHeight = 720, kFrames = 120, kRate = 30;

std::string scratch(const std::string& name) {
    static const std::string dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("movie-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d.string();
    }();
    return dir + "/" + name;
}

// Moving diagonal bands over a slow colour drift: content an encoder has to work for.
const std::string& sourceClip() {
    static const std::string path = [] {
        const std::string p = scratch("source.mp4");
        auto writer = AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(p), AVFileTypeMPEG4, nullptr);
        auto input = AVAssetWriterInput::assetWriterInputWithMediaType(
            AVMediaTypeVideo, Dictionary{{AVVideoCodecKey, AVVideoCodecH264},
                                         {AVVideoWidthKey, kWidth},
                                         {AVVideoHeightKey, kHeight}});
        auto adaptor =
            AVAssetWriterInputPixelBufferAdaptor::assetWriterInputPixelBufferAdaptorWithAssetWriterInput(
                input, Dictionary{{kCVPixelBufferWidthKey, kWidth}, {kCVPixelBufferHeightKey, kHeight}});
        writer->addInput(input);
        writer->startWriting();
        writer->startSessionAtSourceTime(kCMTimeZero);
        for (int f = 0; f < kFrames; ++f) {
            CVPixelBufferRef frame;
            CVPixelBufferCreate(kWidth, kHeight, kCVPixelFormatType_32BGRA, &frame);
            for (int y = 0; y < kHeight; ++y) {
                std::uint8_t* row = frame->baseAddress() + y * frame->bytesPerRow();
                for (int x = 0; x < kWidth; ++x) {
                    const int band = ((x + y + f * 8) / 40) % 2;
                    row[x * 4 + 0] = static_cast<std::uint8_t>(band ? 200 : (x * 255) / kWidth);
                    row[x * 4 + 1] = static_cast<std::uint8_t>((y * 255) / kHeight);
                    row[x * 4 + 2] = static_cast<std::uint8_t>((f * 2 + (band ? 0 : 120)) % 256);
                    row[x * 4 + 3] = 255;
                }
            }
            adaptor->appendPixelBuffer(frame, CMTimeMake(f, kRate));
        }
        writer->finishWriting();
        return p;
    }();
    return path;
}

void BM_PipelineReadTintWrite(benchmark::State& state) {
    const std::string& source = sourceClip();
    int run = 0;
    for (auto _ : state) {
        const std::string out = scratch("tinted-" + std::to_string(run++) + ".mp4");
        auto movie = make<GPXMovie>(NSURL::fileURLWithPath(source));
        auto filter = make<GPXMonochromeFilter>();
        auto writer = make<GPXMovieWriter>(NSURL::fileURLWithPath(out), CGSizeMake(kWidth, kHeight),
                                           AVFileTypeMPEG4, Value());
        movie->addTarget(filter);
        filter->addTarget(writer);
        movie->enableSynchronizedEncodingUsingMovieWriter(writer);
        auto completed = dispatch_semaphore_create(0);
        writer->setCompletionBlock([completed] { dispatch_semaphore_signal(completed); });
        writer->startRecording();
        movie->startProcessing();
        dispatch_semaphore_wait(completed, DISPATCH_TIME_FOREVER);
        auto finished = dispatch_semaphore_create(0);
        writer->finishRecordingWithCompletionHandler([finished] { dispatch_semaphore_signal(finished); });
        dispatch_semaphore_wait(finished, DISPATCH_TIME_FOREVER);
        if (writer->framesAppended() != kFrames) state.SkipWithError("frames went missing");
        filter->removeAllTargets();
        movie->removeAllTargets();
        std::filesystem::remove(out);
        GPXContext::sharedFramebufferCache()->purgeAllUnassignedFramebuffers();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// FFmpeg alone: demux and decode, then encode the decoded frames with the writer's settings.
bool plainDecodeEncode(const std::string& source, const std::string& out) {
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, source.c_str(), nullptr, nullptr) < 0) return false;
    avformat_find_stream_info(in, nullptr);
    const int stream = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* decoderCodec = avcodec_find_decoder(in->streams[stream]->codecpar->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(decoderCodec);
    avcodec_parameters_to_context(decoder, in->streams[stream]->codecpar);
    decoder->pkt_timebase = in->streams[stream]->time_base;
    avcodec_open2(decoder, decoderCodec, nullptr);

    AVFormatContext* output = nullptr;
    avformat_alloc_output_context2(&output, nullptr, "mp4", out.c_str());
    const AVCodec* encoderCodec = avcodec_find_encoder(AV_CODEC_ID_H264);
    AVCodecContext* encoder = avcodec_alloc_context3(encoderCodec);
    encoder->width = kWidth;
    encoder->height = kHeight;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = AVRational{1, 90000};
    encoder->framerate = AVRational{30, 1};
    encoder->max_b_frames = 0;
    encoder->gop_size = 30;
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
    av_opt_set(encoder->priv_data, "crf", "20", 0);
    avcodec_open2(encoder, encoderCodec, nullptr);
    AVStream* outStream = avformat_new_stream(output, nullptr);
    avcodec_parameters_from_context(outStream->codecpar, encoder);
    outStream->time_base = encoder->time_base;
    avio_open(&output->pb, out.c_str(), AVIO_FLAG_WRITE);
    if (avformat_write_header(output, nullptr) < 0) return false;

    AVPacket* packet = av_packet_alloc();
    AVPacket* encoded = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int frames = 0;
    auto drainEncoder = [&] {
        while (avcodec_receive_packet(encoder, encoded) == 0) {
            av_packet_rescale_ts(encoded, encoder->time_base, outStream->time_base);
            encoded->stream_index = outStream->index;
            av_interleaved_write_frame(output, encoded);
        }
    };
    auto drainDecoder = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            frame->pts =
                av_rescale_q(frame->best_effort_timestamp, decoder->pkt_timebase, encoder->time_base);
            frame->pict_type = AV_PICTURE_TYPE_NONE;
            avcodec_send_frame(encoder, frame);
            av_frame_unref(frame);
            ++frames;
            drainEncoder();
        }
    };
    while (av_read_frame(in, packet) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(decoder, packet);
            drainDecoder();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    drainDecoder();
    avcodec_send_frame(encoder, nullptr);
    drainEncoder();
    av_write_trailer(output);
    avio_closep(&output->pb);
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_packet_free(&encoded);
    avcodec_free_context(&encoder);
    avcodec_free_context(&decoder);
    avformat_free_context(output);
    avformat_close_input(&in);
    return frames == kFrames;
}

void BM_FFmpegDecodeEncode(benchmark::State& state) {
    const std::string& source = sourceClip();
    av_log_set_level(AV_LOG_QUIET);
    int run = 0;
    for (auto _ : state) {
        const std::string out = scratch("plain-" + std::to_string(run++) + ".mp4");
        if (!plainDecodeEncode(source, out)) state.SkipWithError("the plain decode and encode failed");
        std::filesystem::remove(out);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_PipelineReadTintWrite)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_FFmpegDecodeEncode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("clip: %d x %d, %d frames of H.264 at %d per second\n", kWidth, kHeight, kFrames, kRate);
    sourceClip();
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto ratio = reporter.printRatio("movie_read_tint_write_vs_ffmpeg_decode_encode",
                                     "BM_PipelineReadTintWrite", "BM_FFmpegDecodeEncode", "ms per clip");
    auto ours = reporter.time("BM_PipelineReadTintWrite"), plain = reporter.time("BM_FFmpegDecodeEncode");
    if (ours && plain) {
        std::printf("  frames per second: pipeline %.1f, plain decode-encode %.1f (%.2f of it)\n",
                    kFrames / (*ours / 1000), kFrames / (*plain / 1000), *plain / *ours);
    }
    if (ratio)
        std::printf(
            "  target: ratio at most 2.0 (at least 0.5 of the plain decode-encode's frames per second)\n");
    std::filesystem::remove_all(std::filesystem::path(scratch("x")).parent_path());
    return 0;
}
