// clipnote-decode export MESSAGE OUT.mp4|OUT.webm|OUT.mkv [--force] [--quiet] [--voice|--raw]
//
// Writes a message as one ordinary media file: H.264 and AAC in .mp4 and .mkv, VP9
// and Opus in .webm, encoded by the ffmpeg libraries from what our own decoders
// give. Each picture keeps the time its temporal reference gives (33.333 ms a tick
// from picture 0), so the pictures keep their uneven spacing; the speech starts with
// picture 0, as the player starts them, and both tracks are kept whole even where
// the player would stop with the shorter one. An existing OUT is replaced only with
// --force (-y); the file appears only once it is complete. On a terminal a progress line shows
// how far it has come, unless --quiet. Exit codes: 0 written; 1 the
// input is no message or the export failed; 2 usage.

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/clipnote-decode/commands.h"

#ifndef CLIPNOTE_HAVE_LIBAV

int RunExportCommand(int, char**) {
  std::fprintf(stderr, "clipnote-decode export: this build has no ffmpeg libraries (libavformat-dev, libavcodec-dev)\n");
  return 1;
}

#else

#include <algorithm>
#include <filesystem>
#include <limits>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "audio/audio_decoder.h"
#include "audio/voice_clip.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"
#include "tools/common/progress.h"
#include "tools/clipnote-decode/clip_summary.h"
#include "tools/clipnote-decode/message_input.h"
#include "video/recon/decoder_buffers.h"
#include "video/recon/picture_decoder.h"

using namespace clipnote::h263;

using namespace clipnote::speech;

namespace {

constexpr int kSampleRate = 8000;
constexpr AVRational kTickBase = {1, 30};  // one temporal-reference tick
constexpr AVRational kSampleBase = {1, kSampleRate};

struct Format {
  const char* extension;
  const char* videoEncoder;
  const char* audioEncoder;
  int64_t audioBitRate;
};
// Bit rates well above what 8 kHz speech needs, so that little is lost on the way.
constexpr Format kFormats[] = {
    {".mp4", "libx264", "aac", 48000},  // the most AAC carries at 8 kHz
    {".mkv", "libx264", "aac", 48000},
    {".webm", "libvpx-vp9", "libopus", 64000},
};

constexpr clipnote::tools::Option kOptions[] = {
    clipnote::tools::kForceOption,
    clipnote::tools::kQuietOption,
    kVoiceOption,
    kRawOption,
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode export", "MESSAGE OUT.mp4|OUT.webm|OUT.mkv",
    "Writes a message as one ordinary media file: H.264 and AAC in .mp4 and .mkv, VP9 and Opus in\n"
    ".webm. The pictures keep their times; the speech starts with the first picture.",
    kOptions, 2, 2,
    "On a terminal it shows its progress. Exit codes: 0 written; 1 refused or failed (nothing is\n"
    "written then); 2 usage."};

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Speech decoded whole: every frame, whatever the clip's own prefix reserves.
bool DecodeSpeech(clipnote::message::Bytes clip, bool hasPrefix, std::vector<int16_t>& samples, std::string& error) {
  const uint8_t* coded = clip.data();
  uint64_t codedBytes = clip.size();
  if (hasPrefix) {
    coded += 4;
    codedBytes -= 4;
  }
  // Every frame takes at least one byte and gives 480 bytes of PCM.
  const uint64_t area = (codedBytes + 1) * 480;
  if (area > std::numeric_limits<uint32_t>::max()) {
    error = "the speech clip is too large";
    return false;
  }
  std::vector<uint8_t> pcm(area);
  AudioDecoder decoder;
  if (!decoder.Create()) {
    error = "not enough memory for the speech decoder";
    return false;
  }
  decoder.Reset(Rate::Rate53);  // as the player does
  uint32_t offset = 0;
  const VoiceDecodeResult result = DecodeVoiceClip(decoder, static_cast<uint32_t>(codedBytes), coded, pcm.data(),
                                                   static_cast<uint32_t>(area), offset);
  decoder.Release();
  samples.resize(result.pcmBytes / 2);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
  return true;
}

// One encoded stream of the output file.
struct Track {
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  AVFrame* frame = nullptr;
  ~Track() {
    avcodec_free_context(&codec);
    av_frame_free(&frame);
  }
};

class Exporter {
 public:
  explicit Exporter(const char* outPath) : outPath_(outPath) {}
  ~Exporter() {
    av_packet_free(&packet_);
    if (output_ != nullptr && output_->pb != nullptr) avio_closep(&output_->pb);
    avformat_free_context(output_);
  }

  bool Open(const Format& format, const char* muxerPath, const VideoSummary* video, bool speech, std::string& error) {
    // The muxer is the one the extension names (the partial file keeps it).
    int code = avformat_alloc_output_context2(&output_, nullptr, nullptr, muxerPath);
    if (code < 0 || output_ == nullptr) return Fail("cannot make the container", code, error);
    packet_ = av_packet_alloc();
    // Timestamps as stamped: the encoder's lead-in before the first sample (Opus) is the
    // container's to record, not a reason to move the pictures.
    output_->avoid_negative_ts = 0;
    if (video != nullptr && !OpenVideo(format, *video, error)) return false;
    if (speech && !OpenAudio(format, error)) return false;
    if ((code = avio_open(&output_->pb, muxerPath, AVIO_FLAG_WRITE)) < 0) {
      return Fail(std::string("cannot create ") + muxerPath, code, error);
    }
    if ((code = avformat_write_header(output_, nullptr)) < 0) return Fail("cannot write the header", code, error);
    return true;
  }

  // Picture in the decoder's current picture, shown `ticks` after picture 0 for `duration` ticks.
  bool AddPicture(const uint8_t* yuv, int32_t ticks, int32_t duration, std::string& error) {
    AVFrame* frame = video_.frame;
    int code = av_frame_make_writable(frame);
    if (code < 0) return Fail("cannot reserve a picture", code, error);
    const int width = video_.codec->width, height = video_.codec->height;
    const uint8_t* planes[3] = {yuv, yuv + width * height, yuv + width * height * 5 / 4};
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane == 0 ? width : width / 2, h = plane == 0 ? height : height / 2;
      for (int row = 0; row < h; ++row) std::memcpy(frame->data[plane] + row * frame->linesize[plane], planes[plane] + row * w, w);
    }
    frame->pts = ticks;
    durations_.push_back({ticks, duration});
    return Encode(video_, frame, error);
  }

  // Speech samples from `first` on, up to `end`.
  bool AddSpeech(const std::vector<int16_t>& samples, size_t end, std::string& error) {
    const int frameSize = audio_.codec->frame_size > 0 ? audio_.codec->frame_size : 1024;
    while (speechSent_ < end) {
      const size_t count = std::min<size_t>(frameSize, samples.size() - speechSent_);
      // Only the last frame may be short.
      if (count < static_cast<size_t>(frameSize) && end < samples.size()) break;
      AVFrame* frame = audio_.frame;
      frame->nb_samples = static_cast<int>(count);
      int code = av_frame_make_writable(frame);
      if (code < 0) return Fail("cannot reserve speech", code, error);
      for (size_t i = 0; i < count; ++i) {
        const int16_t sample = samples[speechSent_ + i];
        if (audio_.codec->sample_fmt == AV_SAMPLE_FMT_S16) {
          reinterpret_cast<int16_t*>(frame->data[0])[i] = sample;
        } else {  // float, planar or not: one channel either way
          reinterpret_cast<float*>(frame->data[0])[i] = sample / 32768.0f;
        }
      }
      frame->pts = static_cast<int64_t>(speechSent_);
      speechSent_ += count;
      if (!Encode(audio_, frame, error)) return false;
    }
    return true;
  }

  bool Finish(std::string& error) {
    if (video_.codec != nullptr && !Encode(video_, nullptr, error)) return false;
    if (audio_.codec != nullptr && !Encode(audio_, nullptr, error)) return false;
    const int code = av_write_trailer(output_);
    if (code < 0) return Fail("cannot finish the file", code, error);
    return true;
  }

  // Closes the file, so that a failure of its last writes is seen.
  bool Close(std::string& error) {
    const int code = output_ != nullptr && output_->pb != nullptr ? avio_closep(&output_->pb) : 0;
    return code >= 0 || Fail("cannot write " + outPath_, code, error);
  }

  bool HasAudio() const { return audio_.codec != nullptr; }

 private:
  bool Fail(const std::string& what, int code, std::string& error) {
    error = what + (code < 0 ? ": " + AvError(code) : "");
    return false;
  }

  bool OpenTrack(Track& track, const char* encoderName, std::string& error) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
    if (encoder == nullptr) {
      error = std::string("the ffmpeg libraries here have no ") + encoderName + " encoder";
      return false;
    }
    track.codec = avcodec_alloc_context3(encoder);
    track.stream = avformat_new_stream(output_, nullptr);
    track.frame = av_frame_alloc();
    if (track.codec == nullptr || track.stream == nullptr || track.frame == nullptr) {
      error = "not enough memory for the encoder";
      return false;
    }
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) track.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return true;
  }

  bool StartTrack(Track& track, AVDictionary** options, std::string& error) {
    int code = avcodec_open2(track.codec, track.codec->codec, options);
    av_dict_free(options);
    if (code < 0) return Fail(std::string("cannot start the ") + track.codec->codec->name + " encoder", code, error);
    if ((code = avcodec_parameters_from_context(track.stream->codecpar, track.codec)) < 0) {
      return Fail("cannot describe a stream", code, error);
    }
    track.stream->time_base = track.codec->time_base;
    return true;
  }

  bool OpenVideo(const Format& format, const VideoSummary& video, std::string& error) {
    if (!OpenTrack(video_, format.videoEncoder, error)) return false;
    AVCodecContext* codec = video_.codec;
    codec->width = video.width;
    codec->height = video.height;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = kTickBase;          // pictures are stamped in ticks: the spacing stays as coded
    codec->sample_aspect_ratio = {12, 11};  // the pixels of QCIF and CIF pictures
    codec->max_b_frames = 0;                // packets in picture order keep each picture's duration at hand
    AVDictionary* options = nullptr;
    if (std::strcmp(format.videoEncoder, "libx264") == 0) {
      av_dict_set(&options, "crf", "16", 0);
      av_dict_set(&options, "preset", "medium", 0);
    } else {
      av_dict_set(&options, "crf", "20", 0);
      av_dict_set(&options, "b", "0", 0);
      av_dict_set(&options, "deadline", "good", 0);
      av_dict_set(&options, "cpu-used", "4", 0);
    }
    video_.frame->format = codec->pix_fmt;
    video_.frame->width = codec->width;
    video_.frame->height = codec->height;
    if (av_frame_get_buffer(video_.frame, 0) < 0) {
      error = "not enough memory for a picture";
      return false;
    }
    if (!StartTrack(video_, &options, error)) return false;
    video_.stream->sample_aspect_ratio = codec->sample_aspect_ratio;
    return true;
  }

  bool OpenAudio(const Format& format, std::string& error) {
    if (!OpenTrack(audio_, format.audioEncoder, error)) return false;
    AVCodecContext* codec = audio_.codec;
    codec->sample_rate = kSampleRate;
    codec->time_base = kSampleBase;
    codec->bit_rate = format.audioBitRate;
    const AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    av_channel_layout_copy(&codec->ch_layout, &mono);
    // The encoder's own sample format: 16-bit or float (planar or not, one channel).
    codec->sample_fmt = codec->codec->sample_fmts != nullptr ? codec->codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f) {
      if (*f == AV_SAMPLE_FMT_FLT || *f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_S16) {
        codec->sample_fmt = *f;
        break;
      }
    }
    AVDictionary* options = nullptr;
    if (std::strcmp(format.audioEncoder, "libopus") == 0) av_dict_set(&options, "application", "audio", 0);
    if (!StartTrack(audio_, &options, error)) return false;
    AVFrame* frame = audio_.frame;
    frame->format = codec->sample_fmt;
    frame->sample_rate = kSampleRate;
    av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout);
    frame->nb_samples = codec->frame_size > 0 ? codec->frame_size : 1024;
    if (av_frame_get_buffer(frame, 0) < 0) {
      error = "not enough memory for speech";
      return false;
    }
    return true;
  }

  // Sends a frame (nothing: the end) and writes every packet that comes out.
  bool Encode(Track& track, AVFrame* frame, std::string& error) {
    int code = avcodec_send_frame(track.codec, frame);
    if (code < 0) return Fail("encoding failed", code, error);
    for (;;) {
      code = avcodec_receive_packet(track.codec, packet_);
      if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
      if (code < 0) return Fail("encoding failed", code, error);
      if (&track == &video_) {
        // The encoder keeps picture order: the packet is the picture of its stamp.
        for (const auto& [ticks, duration] : durations_) {
          if (ticks == packet_->pts) packet_->duration = duration;
        }
      }
      av_packet_rescale_ts(packet_, track.codec->time_base, track.stream->time_base);
      packet_->stream_index = track.stream->index;
      code = av_interleaved_write_frame(output_, packet_);
      if (code < 0) return Fail("cannot write " + outPath_, code, error);
    }
  }

  std::string outPath_;
  AVFormatContext* output_ = nullptr;
  AVPacket* packet_ = nullptr;
  Track video_, audio_;
  std::vector<std::pair<int32_t, int32_t>> durations_;  // ticks, duration of each picture sent
  size_t speechSent_ = 0;
};

}  // namespace

int RunExportCommand(int argc, char** argv) {
  using clipnote::message::SpeechForm;
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const bool force = args.Has("force");
  const SpeechForm form = SpeechFormOf(args);
  const char* inPath = args.operands()[0].c_str();
  const std::string outPath = args.operands()[1];
  const Format* format = nullptr;
  for (const Format& f : kFormats) {
    const size_t n = std::strlen(f.extension);
    if (outPath.size() > n && outPath.compare(outPath.size() - n, n, f.extension) == 0) format = &f;
  }
  if (format == nullptr) return clipnote::tools::UsageError(kCommand, outPath + ": the output must end in .mp4, .webm or .mkv");
  std::string error;
  if (!clipnote::tools::MayWriteOutput(outPath, force, error)) return clipnote::tools::Refuse(kCommand.program, error);

  av_log_set_level(AV_LOG_ERROR);  // the encoders' chatter is not for the user
  MessageInput input;
  if (!ReadMessageInput(inPath, form, input, error)) {
    std::fprintf(stderr, "clipnote-decode export: %s\n", error.c_str());
    return 1;
  }
  const clipnote::message::MessageFile& message = input.message;
  VideoSummary video;
  if (message.video && message.video->size > 0) {
    video = SummariseVideo(input.Clip(*message.video));
    if (video.probeCode != 0) {
      std::fprintf(stderr, "clipnote-decode export: %s: the video is not a baseline H.263 QCIF or CIF clip\n", inPath);
      return 1;
    }
  }
  std::vector<int16_t> speech;
  if (message.speech && !DecodeSpeech(input.Clip(*message.speech), message.speechHasPrefix, speech, error)) {
    std::fprintf(stderr, "clipnote-decode export: %s: %s\n", inPath, error.c_str());
    return 1;
  }
  const bool hasVideo = video.pictures > 0;
  if (!hasVideo && speech.empty()) {
    std::fprintf(stderr, "clipnote-decode export: %s: the message holds neither pictures nor speech\n", inPath);
    return 1;
  }

  // Written beside the output (the temporary name keeps the extension the muxer is chosen by) and
  // renamed at the end, so a failed export leaves nothing behind.
  clipnote::tools::OutputFile output;
  bool written = output.Open(outPath, error);
  if (written) {
    output.CloseStream();  // the ffmpeg libraries write it by name
    Exporter exporter(outPath.c_str());
    clipnote::tools::Progress progress(args.Has("quiet"));
    bool ok = exporter.Open(*format, output.temporaryPath().c_str(), hasVideo ? &video : nullptr, !speech.empty(),
                            error);
    if (ok && hasVideo) {
      VideoDecoderBuffers buffers;
      const clipnote::message::Bytes clip = input.Clip(*message.video);
      StartVideoClip(buffers, clip.data(), clip.size());
      ProbePictureFormat();
      const size_t pictures = video.pictureTicks.size();
      progress.Stage("exporting " + std::filesystem::path(outPath).filename().string(), static_cast<double>(pictures));
      for (size_t i = 0; ok && i < pictures; ++i) {
        DecodePicture();
        const int32_t ticks = video.pictureTicks[i];
        const int32_t duration = i + 1 < pictures ? video.pictureTicks[i + 1] - ticks
                                 : i > 0          ? ticks - video.pictureTicks[i - 1]
                                                  : 1;
        // Speech up to this picture's time goes first, so the file interleaves as it is written.
        const size_t speechEnd = std::min(speech.size(), static_cast<size_t>(ticks) * kSampleRate / 30);
        ok = (!exporter.HasAudio() || exporter.AddSpeech(speech, speechEnd, error)) &&
             exporter.AddPicture(videoDecoder.currentPicture, ticks, std::max(duration, 1), error);
        progress.Update(static_cast<double>(i + 1));
      }
    }
    ok = ok && (!exporter.HasAudio() || exporter.AddSpeech(speech, speech.size(), error)) && exporter.Finish(error);
    written = ok && exporter.Close(error);
    progress.Done();
  }
  written = written && output.Finish(error) && clipnote::tools::CommitOutput(output, error);
  if (!written) {
    std::fprintf(stderr, "clipnote-decode export: %s: %s; nothing written\n", outPath.c_str(), error.c_str());
    return 1;
  }
  std::printf("%s: %d pictures, %.3f s of speech\n", outPath.c_str(), video.pictures,
              static_cast<double>(speech.size()) / kSampleRate);
  return 0;
}

#endif
