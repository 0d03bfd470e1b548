#include "bench/side_by_side/libav_subjects.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

// A packet's bytes, followed by the zero padding libavcodec's bit readers may touch.
struct Packet {
  std::vector<uint8_t> bytes;
  int size = 0;
};

class Packets {
 public:
  void Add(const uint8_t* data, size_t size) {
    Packet packet{std::vector<uint8_t>(size + AV_INPUT_BUFFER_PADDING_SIZE, 0), static_cast<int>(size)};
    std::memcpy(packet.bytes.data(), data, size);
    all_.push_back(std::move(packet));
  }
  const std::vector<Packet>& All() const { return all_; }

 private:
  std::vector<Packet> all_;
};

// A picture starts at the byte-aligned code 0000 0000 0000 0000 1000 00.
bool PictureStartsAt(const std::vector<uint8_t>& bytes, size_t i) {
  return i + 2 < bytes.size() && bytes[i] == 0 && bytes[i + 1] == 0 && (bytes[i + 2] & 0xFC) == 0x80;
}

int FrameLength(uint8_t first) {
  static constexpr int kLengths[4] = {24, 20, 4, 1};
  return kLengths[first & 3];
}

class LibavSubject : public BenchSubject {
 public:
  LibavSubject(AVCodecID codec, const char* unit) : codec_(avcodec_find_decoder(codec)), unit_(unit) {}

  const char* UnitName() const override { return unit_; }

  uint64_t RunOnce() override {
    AVCodecContext* context = avcodec_alloc_context3(codec_);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    uint64_t units = 0;
    if (context != nullptr && frame != nullptr && packet != nullptr) {
      Configure(*context);
      context->thread_count = 1;
      context->thread_type = 0;
      if (avcodec_open2(context, codec_, nullptr) == 0) {
        for (const Packet& coded : packets_.All()) {
          packet->data = const_cast<uint8_t*>(coded.bytes.data());
          packet->size = coded.size;
          if (avcodec_send_packet(context, packet) == 0) units += Drain(context, frame);
        }
        avcodec_send_packet(context, nullptr);
        units += Drain(context, frame);
      }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return units;
  }

 protected:
  virtual void Configure(AVCodecContext& /*context*/) {}
  virtual uint64_t Units(const AVFrame& frame) const = 0;

  bool CheckCodec(std::string& error) const {
    if (codec_ == nullptr) error = "libavcodec has no such decoder";
    return codec_ != nullptr;
  }

  Packets packets_;

 private:
  uint64_t Drain(AVCodecContext* context, AVFrame* frame) {
    uint64_t units = 0;
    while (avcodec_receive_frame(context, frame) == 0) {
      units += Units(*frame);
      av_frame_unref(frame);
    }
    return units;
  }

  const AVCodec* codec_;
  const char* unit_;
};

class LibavVideoSubject final : public LibavSubject {
 public:
  LibavVideoSubject() : LibavSubject(AV_CODEC_ID_H263, "pictures") {}

  bool Prepare(const std::vector<uint8_t>& input, std::string& error) override {
    if (!CheckCodec(error)) return false;
    size_t start = 0;
    for (size_t i = 1; i < input.size(); ++i) {
      if (PictureStartsAt(input, i)) {
        packets_.Add(input.data() + start, i - start);
        start = i;
      }
    }
    if (start < input.size()) packets_.Add(input.data() + start, input.size() - start);
    return true;
  }

 protected:
  uint64_t Units(const AVFrame&) const override { return 1; }
};

class LibavAudioSubject final : public LibavSubject {
 public:
  explicit LibavAudioSubject(bool voiceClip)
      : LibavSubject(AV_CODEC_ID_G723_1, "samples"), voiceClip_(voiceClip) {}

  bool Prepare(const std::vector<uint8_t>& input, std::string& error) override {
    if (!CheckCodec(error)) return false;
    size_t at = voiceClip_ ? 4 : 0;
    if (at > input.size()) {
      error = "too short for a VOICE clip";
      return false;
    }
    while (at < input.size()) {
      const size_t length = static_cast<size_t>(FrameLength(input[at]));
      if (length > input.size() - at) break;  // a cut last frame is left out
      packets_.Add(input.data() + at, length);
      at += length;
    }
    return true;
  }

 protected:
  void Configure(AVCodecContext& context) override {
    context.sample_rate = 8000;
    av_channel_layout_default(&context.ch_layout, 1);
  }
  uint64_t Units(const AVFrame& frame) const override {
    return static_cast<uint64_t>(frame.nb_samples);
  }

 private:
  bool voiceClip_;
};

}  // namespace

std::unique_ptr<BenchSubject> MakeLibavVideoSubject() {
  return std::make_unique<LibavVideoSubject>();
}

std::unique_ptr<BenchSubject> MakeLibavAudioSubject(bool voiceClip) {
  return std::make_unique<LibavAudioSubject>(voiceClip);
}
