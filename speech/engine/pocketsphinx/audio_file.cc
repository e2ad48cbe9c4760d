// SPDX-License-Identifier: Apache-2.0
#include "engine/pocketsphinx/audio_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace tuvel::speech::pocketsphinx {
namespace {

PlatformError ffmpegError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return PlatformError{text};
}

struct FormatCloser {
  void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct CodecFreer {
  void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct ResamplerFreer {
  void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

class FfmpegAudioFile final : public DecodedAudio {
 public:
  FfmpegAudioFile(std::unique_ptr<AVFormatContext, FormatCloser> format,
                  std::unique_ptr<AVCodecContext, CodecFreer> codec,
                  std::unique_ptr<SwrContext, ResamplerFreer> resampler, int stream)
      : format_(std::move(format)),
        codec_(std::move(codec)),
        resampler_(std::move(resampler)),
        packet_(av_packet_alloc()),
        frame_(av_frame_alloc()),
        stream_(stream) {}

  bool allocated() const { return packet_ && frame_; }

  std::optional<std::size_t> expectedSamples() const override {
    const AVStream* stream = format_->streams[stream_];
    double seconds = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
      seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
      seconds = static_cast<double>(format_->duration) / AV_TIME_BASE;
    if (seconds < 0) return std::nullopt;
    return static_cast<std::size_t>(seconds * SAMPLE_RATE);
  }

  Expected<std::size_t> read(std::span<std::int16_t> into) override {
    std::size_t filled = 0;
    while (filled < into.size()) {
      if (next_ == pending_.size()) {
        if (ended_) break;
        if (Expected<void> more = decodeMore(); !more) return std::move(more).error();
        continue;
      }
      std::size_t n = std::min(into.size() - filled, pending_.size() - next_);
      std::memcpy(into.data() + filled, pending_.data() + next_, n * sizeof(std::int16_t));
      filled += n;
      next_ += n;
    }
    return filled;
  }

 private:
  // Puts the next stretch of resampled samples in pending_, or sets ended_.
  Expected<void> decodeMore() {
    pending_.clear();
    next_ = 0;
    for (;;) {
      int received = avcodec_receive_frame(codec_.get(), frame_.get());
      if (received == 0) {
        Expected<void> converted = resample(frame_.get());
        av_frame_unref(frame_.get());
        if (!converted || !pending_.empty()) return converted;
        continue;
      }
      if (received == AVERROR_EOF || (received == AVERROR(EAGAIN) && inputEnded_)) {
        // What the resampler still holds back ends the audio.
        ended_ = true;
        return resample(nullptr);
      }
      if (received != AVERROR(EAGAIN) && received != AVERROR_INVALIDDATA)
        return ffmpegError(received);

      if (int sent = feedDecoder(); sent < 0) return ffmpegError(sent);
    }
  }

  // Sends the next packet of our stream, or the end of input; damaged
  // packets are skipped as players do.
  int feedDecoder() {
    if (inputEnded_) return 0;
    for (;;) {
      int status = av_read_frame(format_.get(), packet_.get());
      if (status == AVERROR_EOF) {
        inputEnded_ = true;
        return avcodec_send_packet(codec_.get(), nullptr);
      }
      if (status < 0) return status;
      if (packet_->stream_index != stream_) {
        av_packet_unref(packet_.get());
        continue;
      }
      status = avcodec_send_packet(codec_.get(), packet_.get());
      av_packet_unref(packet_.get());
      if (status == AVERROR_INVALIDDATA) continue;
      return status;
    }
  }

  Expected<void> resample(const AVFrame* frame) {
    const int inSamples = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(resampler_.get(), inSamples);
    if (capacity < 0) return ffmpegError(capacity);
    pending_.resize(static_cast<std::size_t>(capacity));
    auto* out = reinterpret_cast<std::uint8_t*>(pending_.data());
    const int made = swr_convert(resampler_.get(), &out, capacity,
                                 frame ? const_cast<const std::uint8_t**>(frame->extended_data)
                                       : nullptr,
                                 inSamples);
    if (made < 0) return ffmpegError(made);
    pending_.resize(static_cast<std::size_t>(made));
    return {};
  }

  std::unique_ptr<AVFormatContext, FormatCloser> format_;
  std::unique_ptr<AVCodecContext, CodecFreer> codec_;
  std::unique_ptr<SwrContext, ResamplerFreer> resampler_;
  std::unique_ptr<AVPacket, PacketFreer> packet_;
  std::unique_ptr<AVFrame, FrameFreer> frame_;
  int stream_;
  std::vector<std::int16_t> pending_;
  std::size_t next_ = 0;
  bool inputEnded_ = false;
  bool ended_ = false;
};

}  // namespace

Expected<std::unique_ptr<DecodedAudio>> openAudioFile(const std::string& path) {
  // Only the local file protocol: the path is never read as a URL.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* opened = nullptr;
  int status = avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, &options);
  av_dict_free(&options);
  if (status < 0) return ffmpegError(status);
  std::unique_ptr<AVFormatContext, FormatCloser> format(opened);

  if ((status = avformat_find_stream_info(format.get(), nullptr)) < 0) return ffmpegError(status);
  const AVCodec* decoder = nullptr;
  const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (stream < 0) return ffmpegError(stream);
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (static_cast<int>(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;

  std::unique_ptr<AVCodecContext, CodecFreer> codec(avcodec_alloc_context3(decoder));
  if (!codec) return ffmpegError(AVERROR(ENOMEM));
  if ((status = avcodec_parameters_to_context(codec.get(), format->streams[stream]->codecpar)) < 0)
    return ffmpegError(status);
  if ((status = avcodec_open2(codec.get(), decoder, nullptr)) < 0) return ffmpegError(status);

  AVChannelLayout inLayout{};
  if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&inLayout, codec->ch_layout.nb_channels);
  else if ((status = av_channel_layout_copy(&inLayout, &codec->ch_layout)) < 0)
    return ffmpegError(status);
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  SwrContext* made = nullptr;
  status = swr_alloc_set_opts2(&made, &mono, AV_SAMPLE_FMT_S16, AudioFile::SAMPLE_RATE, &inLayout,
                               codec->sample_fmt, codec->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  std::unique_ptr<SwrContext, ResamplerFreer> resampler(made);
  if (status < 0) return ffmpegError(status);
  if ((status = swr_init(resampler.get())) < 0) return ffmpegError(status);

  auto file = std::make_unique<FfmpegAudioFile>(std::move(format), std::move(codec),
                                                std::move(resampler), stream);
  if (!file->allocated()) return ffmpegError(AVERROR(ENOMEM));
  return std::unique_ptr<DecodedAudio>(std::move(file));
}

}  // namespace tuvel::speech::pocketsphinx

extern "C" __attribute__((visibility("default")))
tuvel::speech::Expected<std::unique_ptr<tuvel::speech::pocketsphinx::DecodedAudio>>
tuvel_speech_open_audio_v2(const std::string& path) {
  av_log_set_level(AV_LOG_QUIET);
  return tuvel::speech::pocketsphinx::openAudioFile(path);
}
