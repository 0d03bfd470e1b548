#include "tools/make-message/media_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace makemessage {

struct MediaReader::Impl {
  AVFormatContext* format = nullptr;
  int videoStream = -1;
  int audioStream = -1;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  SwsContext* scaler = nullptr;
  SwrContext* resampler = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;

  ~Impl() {
    sws_freeContext(scaler);
    swr_free(&resampler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    avformat_close_input(&format);
  }
};

namespace {

AVCodecContext* OpenDecoder(AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) return nullptr;
  AVCodecContext* context = avcodec_alloc_context3(codec);
  if (context == nullptr) return nullptr;
  // Decoding is most of the reading: let the decoder use every core.
  context->thread_count = 0;
  context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (avcodec_parameters_to_context(context, stream->codecpar) < 0 || avcodec_open2(context, codec, nullptr) < 0) {
    avcodec_free_context(&context);
    return nullptr;
  }
  return context;
}

}  // namespace

MediaReader::MediaReader() : impl_(std::make_unique<Impl>()) { av_log_set_level(AV_LOG_QUIET); }
MediaReader::~MediaReader() = default;

bool MediaReader::Open(const std::string& path, std::string& error) {
  path_ = path;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  Impl& m = *impl_;
  if (avformat_open_input(&m.format, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(m.format, nullptr) < 0) {
    error = "'" + path + "' is not a media file that ffmpeg can read";
    return false;
  }
  for (unsigned i = 0; i < m.format->nb_streams; ++i) {
    const AVStream* s = m.format->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && m.videoStream < 0 &&
        (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
      m.videoStream = static_cast<int>(i);
    }
    if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && m.audioStream < 0) m.audioStream = static_cast<int>(i);
  }
  streams_.video = m.videoStream >= 0;
  streams_.audio = m.audioStream >= 0;
  streams_.seconds = m.format->duration > 0 ? double(m.format->duration) / AV_TIME_BASE : 0.0;
  m.frame = av_frame_alloc();
  m.packet = av_packet_alloc();
  if (m.frame == nullptr || m.packet == nullptr) {
    error = "not enough memory to read '" + path + "'";
    return false;
  }
  return true;
}

bool MediaReader::Read(const ReadWindow& window, const PictureFn& picture, const SoundFn& sound,
                       const ReadProgressFn& progress, const std::atomic<bool>* cancel, std::string& error) {
  Impl& m = *impl_;
  const bool wantVideo = picture && m.videoStream >= 0;
  const bool wantAudio = sound && m.audioStream >= 0;
  if (wantVideo && (m.video = OpenDecoder(m.format->streams[m.videoStream])) == nullptr) {
    error = "ffmpeg has no decoder for the video of '" + path_ + "'";
    return false;
  }
  if (wantAudio && (m.audio = OpenDecoder(m.format->streams[m.audioStream])) == nullptr) {
    error = "ffmpeg has no decoder for the sound of '" + path_ + "'";
    return false;
  }
  // Times count from the file's start, then from the window's.
  const double origin = m.format->start_time != AV_NOPTS_VALUE ? double(m.format->start_time) / AV_TIME_BASE : 0.0;
  const double end = window.duration < 0 ? INFINITY : window.start + window.duration;
  if (window.start > 0) {
    const int64_t target = static_cast<int64_t>((origin + window.start) * AV_TIME_BASE);
    av_seek_frame(m.format, -1, target, AVSEEK_FLAG_BACKWARD);
  }
  double lastSeconds = 0;
  std::vector<uint8_t> planes;
  std::vector<int16_t> mono;

  const auto timeOf = [&](const AVStream* stream, int64_t pts, double fallback) {
    if (pts == AV_NOPTS_VALUE) return fallback;
    return double(pts) * av_q2d(stream->time_base) - origin;
  };

  double nextAudio = 0;  // where the sound would continue without timestamps
  const auto onVideo = [&](AVFrame* f) -> bool {
    const double t = timeOf(m.format->streams[m.videoStream], f->best_effort_timestamp, lastSeconds);
    if (window.start > 0 && t < window.start - 1e-9) return true;
    if (t >= end) return false;
    const int w = f->width, h = f->height;
    if (w <= 0 || h <= 0) return true;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    planes.resize(size_t(w) * h + 2 * size_t(cw) * ch);
    uint8_t* dst[4] = {planes.data(), planes.data() + size_t(w) * h, planes.data() + size_t(w) * h + size_t(cw) * ch,
                       nullptr};
    int strides[4] = {w, cw, cw, 0};
    m.scaler = sws_getCachedContext(m.scaler, w, h, static_cast<AVPixelFormat>(f->format), w, h, AV_PIX_FMT_YUV420P,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (m.scaler == nullptr) return true;
    sws_scale(m.scaler, f->data, f->linesize, 0, h, dst, strides);
    clipnote::authoring::SourcePicture p;
    p.width = w;
    p.height = h;
    p.y = {dst[0], size_t(w) * h};
    p.cb = {dst[1], size_t(cw) * ch};
    p.cr = {dst[2], size_t(cw) * ch};
    p.yStride = w;
    p.cbStride = cw;
    p.crStride = cw;
    lastSeconds = std::max(lastSeconds, t);
    return picture(std::max(0.0, t - window.start), p);
  };

  const auto onAudio = [&](AVFrame* f) -> bool {
    if (m.resampler == nullptr) {
      AVChannelLayout monoLayout = AV_CHANNEL_LAYOUT_MONO;
      AVChannelLayout in = f->ch_layout;
      if (in.nb_channels == 0) av_channel_layout_default(&in, 1);
      if (swr_alloc_set_opts2(&m.resampler, &monoLayout, AV_SAMPLE_FMT_S16, f->sample_rate, &in,
                              static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr) < 0 ||
          swr_init(m.resampler) < 0) {
        return true;
      }
    }
    const double t = timeOf(m.format->streams[m.audioStream], f->best_effort_timestamp, nextAudio);
    mono.resize(size_t(f->nb_samples) + 256);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(mono.data())};
    const int got = swr_convert(m.resampler, out, static_cast<int>(mono.size()),
                                const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got <= 0) return true;
    const double rate = f->sample_rate;
    nextAudio = t + got / rate;
    // Only the samples inside the window.
    int64_t first = 0, last = got;
    if (t < window.start) first = std::min<int64_t>(got, std::llround((window.start - t) * rate));
    if (t + got / rate > end) last = std::max<int64_t>(0, std::llround((end - t) * rate));
    lastSeconds = std::max(lastSeconds, t);
    bool more = t + got / rate < end;
    if (first < last) {
      more = sound(std::span<const int16_t>(mono.data() + first, size_t(last - first)), f->sample_rate) && more;
    }
    return more;
  };

  bool videoDone = !wantVideo, audioDone = !wantAudio;
  const auto drain = [&](AVCodecContext* c, bool isVideo) {
    while (avcodec_receive_frame(c, m.frame) == 0) {
      const bool more = isVideo ? onVideo(m.frame) : onAudio(m.frame);
      av_frame_unref(m.frame);
      if (!more) {
        (isVideo ? videoDone : audioDone) = true;
        break;
      }
    }
  };
  int packets = 0;
  while (!(videoDone && audioDone)) {
    if (cancel != nullptr && cancel->load()) {
      error = "interrupted";
      return false;
    }
    const int read = av_read_frame(m.format, m.packet);
    if (read < 0) break;
    if (m.packet->stream_index == m.videoStream && !videoDone) {
      if (avcodec_send_packet(m.video, m.packet) == 0) drain(m.video, true);
    } else if (m.packet->stream_index == m.audioStream && !audioDone) {
      if (avcodec_send_packet(m.audio, m.packet) == 0) drain(m.audio, false);
    }
    av_packet_unref(m.packet);
    if (progress && ++packets % 32 == 0) progress(std::max(0.0, lastSeconds - window.start));
  }
  // What the decoders still hold.
  if (!videoDone && avcodec_send_packet(m.video, nullptr) == 0) drain(m.video, true);
  if (!audioDone && avcodec_send_packet(m.audio, nullptr) == 0) drain(m.audio, false);
  return true;
}

}  // namespace makemessage
