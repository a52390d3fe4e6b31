#include "game/video.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace demo {

namespace {

constexpr int kSampleRate = 44100;
// Encoder threads of a segmented recording: x264's output depends on their
// number, so a fixed one lets pieces made on different machines join.
constexpr int kSegmentThreads = 4;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return text;
}

// x264's AVX-512 code reads memory it never wrote: what happened to be
// there changed frame types and bits, so two runs of one recording could
// differ. Where the processor has AVX-512 the encoder is held to what x264
// would take without it (its code gives the same bytes from SSE4.2 to
// AVX2); elsewhere x264 chooses. Empty: nothing to set.
std::string X264Instructions() {
  return (av_get_cpu_flags() & AV_CPU_FLAG_AVX512) != 0 ? "asm=SSE2Fast,AVX2,FMA3" : "";
}

// The whole music as interleaved stereo float at 44.1 kHz.
bool DecodeMusic(const std::string& path, std::vector<float>* samples, std::string* error) {
  AVFormatContext* input = nullptr;
  int r = avformat_open_input(&input, path.c_str(), nullptr, nullptr);
  if (r < 0) {
    *error = "cannot open the music " + path + ": " + AvError(r);
    return false;
  }
  struct Cleanup {
    AVFormatContext** input;
    AVCodecContext* decoder = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    ~Cleanup() {
      av_frame_free(&frame);
      av_packet_free(&packet);
      swr_free(&resampler);
      avcodec_free_context(&decoder);
      avformat_close_input(input);
    }
  } c{&input};
  const AVCodec* codec = nullptr;
  const int index = avformat_find_stream_info(input, nullptr) < 0
                        ? -1
                        : av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (index < 0 || codec == nullptr) {
    *error = "no sound in the music " + path;
    return false;
  }
  c.decoder = avcodec_alloc_context3(codec);
  if (c.decoder == nullptr ||
      avcodec_parameters_to_context(c.decoder, input->streams[index]->codecpar) < 0 ||
      avcodec_open2(c.decoder, codec, nullptr) < 0) {
    *error = "cannot decode the music " + path;
    return false;
  }
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  if (swr_alloc_set_opts2(&c.resampler, &stereo, AV_SAMPLE_FMT_FLT, kSampleRate,
                          &c.decoder->ch_layout, c.decoder->sample_fmt, c.decoder->sample_rate, 0,
                          nullptr) < 0 ||
      swr_init(c.resampler) < 0) {
    *error = "cannot resample the music " + path;
    return false;
  }
  const auto drain = [&](AVFrame* in) {
    const int room = swr_get_out_samples(c.resampler, in != nullptr ? in->nb_samples : 0);
    if (room <= 0) return;
    const std::size_t at = samples->size();
    samples->resize(at + static_cast<std::size_t>(room) * 2);
    auto* out = reinterpret_cast<std::uint8_t*>(samples->data() + at);
    const int got = swr_convert(c.resampler, &out, room,
                                in != nullptr ? const_cast<const std::uint8_t**>(in->extended_data) : nullptr,
                                in != nullptr ? in->nb_samples : 0);
    samples->resize(at + static_cast<std::size_t>(std::max(got, 0)) * 2);
  };
  const auto receive = [&] {
    while (avcodec_receive_frame(c.decoder, c.frame) >= 0) {
      drain(c.frame);
      av_frame_unref(c.frame);
    }
  };
  while (av_read_frame(input, c.packet) >= 0) {
    if (c.packet->stream_index == index && avcodec_send_packet(c.decoder, c.packet) >= 0) receive();
    av_packet_unref(c.packet);
  }
  avcodec_send_packet(c.decoder, nullptr);
  receive();
  drain(nullptr);
  return true;
}

}  // namespace

struct VideoWriter::State {
  std::string path;
  std::string temporary;
  AVFormatContext* output = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  int width = 0, height = 0, fps = 25;
  std::int64_t firstFrame = 0;   // the first frame's number on the demo's clock
  std::int64_t segmentFrames = 0;  // 0: one encoder for the whole video
  std::vector<float> music;  // interleaved stereo
  std::size_t musicStart = 0;  // first sample of the range
  std::int64_t frames = 0;
  std::int64_t samplesSent = 0;
  AVCodecParameters* pieces = nullptr;  // a join's video, as its first piece has it
  bool open = false;    // the file exists under its temporary name
  bool done = false;

  ~State() {
    if (output != nullptr && output->pb != nullptr) avio_closep(&output->pb);
    avformat_free_context(output);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    sws_freeContext(scaler);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&packet);
    avcodec_parameters_free(&pieces);
    if (open && !done) {
      std::error_code ec;
      std::filesystem::remove(temporary, ec);
    }
  }

  bool AddSound(bool withMusic, std::string* error);
  // Creates the file and writes its header.
  bool Begin(std::string* error);

  // The H.264 encoder, opened anew at each segment's start.
  bool OpenEncoder(std::string* error) {
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (h264 == nullptr) {
      *error = "this FFmpeg has no H.264 encoder";
      return false;
    }
    video = avcodec_alloc_context3(h264);
    if (video == nullptr) {
      *error = "out of memory for the video";
      return false;
    }
    video->width = width;
    video->height = height;
    video->time_base = AVRational{1, fps};
    video->framerate = AVRational{fps, 1};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->gop_size = 2 * fps;
    if (segmentFrames > 0) video->thread_count = kSegmentThreads;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(video->priv_data, "preset", "veryfast", 0);
    av_opt_set(video->priv_data, "crf", "20", 0);
    const std::string instructions = X264Instructions();
    if (!instructions.empty()) av_opt_set(video->priv_data, "x264-params", instructions.c_str(), 0);
    const int r = avcodec_open2(video, h264, nullptr);
    if (r < 0) {
      *error = "cannot open the H.264 encoder: " + AvError(r);
      return false;
    }
    return true;
  }

  bool Write(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string* error) {
    int r = avcodec_send_frame(codec, frame);
    while (r >= 0) {
      r = avcodec_receive_packet(codec, packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) break;
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      r = av_interleaved_write_frame(output, packet);
    }
    *error = "cannot write " + path + ": " + AvError(r);
    return false;
  }

  // Audio up to the end of the video so far, in encoder-sized frames; at
  // the end (final) the remainder as one shorter frame.
  bool Sound(bool final, std::string* error) {
    if (audio == nullptr) return true;
    const std::int64_t wanted =
        av_rescale(frames, kSampleRate, fps);  // samples that the video's length covers
    const int size = audio->frame_size > 0 ? audio->frame_size : 1024;
    while (samplesSent < wanted && (final || wanted - samplesSent >= size)) {
      const int n = static_cast<int>(std::min<std::int64_t>(size, wanted - samplesSent));
      if (av_frame_make_writable(sound) < 0) {
        *error = "out of memory for the sound";
        return false;
      }
      sound->nb_samples = n;
      auto* left = reinterpret_cast<float*>(sound->data[0]);
      auto* right = reinterpret_cast<float*>(sound->data[1]);
      for (int i = 0; i < n; ++i) {
        const std::size_t at = (musicStart + static_cast<std::size_t>(samplesSent + i)) * 2;
        // Past the music's end: silence.
        left[i] = at + 1 < music.size() ? music[at] : 0.0f;
        right[i] = at + 1 < music.size() ? music[at + 1] : 0.0f;
      }
      sound->pts = samplesSent;
      samplesSent += n;
      if (!Write(audio, audioStream, sound, error)) return false;
    }
    return true;
  }
};

VideoWriter::VideoWriter(std::unique_ptr<State> state) : mState(std::move(state)) {}
VideoWriter::~VideoWriter() = default;

namespace {

// A writer's state up to its streams: the muxer and the music.
std::unique_ptr<VideoWriter::State> NewState(const std::string& path, int width, int height, int fps,
                                             const std::string& music, double from,
                                             std::string* error) {
  // The encoders' statistics would break the progress bar.
  av_log_set_level(AV_LOG_ERROR);
  auto s = std::make_unique<VideoWriter::State>();
  s->path = path;
  s->temporary = path + ".part";
  // 4:2:0 needs even sides; an odd one is scaled to the next even size.
  s->width = std::max(2, (width + 1) & ~1);
  s->height = std::max(2, (height + 1) & ~1);
  s->fps = fps;
  s->firstFrame = std::llround(from * fps);
  if (!music.empty()) {
    if (!DecodeMusic(music, &s->music, error)) return nullptr;
    s->musicStart = static_cast<std::size_t>(std::llround(from * kSampleRate));
  }
  const int r = avformat_alloc_output_context2(&s->output, nullptr, "mp4", s->temporary.c_str());
  if (r < 0 || s->output == nullptr) {
    *error = "no MP4 muxer: " + AvError(r);
    return nullptr;
  }
  s->packet = av_packet_alloc();
  if (s->packet == nullptr) {
    *error = "out of memory for the video";
    return nullptr;
  }
  return s;
}

}  // namespace

bool VideoWriter::State::AddSound(bool withMusic, std::string* error) {
  if (!withMusic) return true;
  const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (aac == nullptr) {
    *error = "this FFmpeg has no AAC encoder";
    return false;
  }
  audio = avcodec_alloc_context3(aac);
  if (audio == nullptr) {
    *error = "out of memory for the sound";
    return false;
  }
  audio->sample_rate = kSampleRate;
  audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
  audio->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
  audio->bit_rate = 192000;
  audio->time_base = AVRational{1, kSampleRate};
  if (output->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int r = avcodec_open2(audio, aac, nullptr);
  if (r < 0) {
    *error = "cannot open the AAC encoder: " + AvError(r);
    return false;
  }
  audioStream = avformat_new_stream(output, nullptr);
  avcodec_parameters_from_context(audioStream->codecpar, audio);
  audioStream->time_base = audio->time_base;
  sound = av_frame_alloc();
  if (sound == nullptr) {
    *error = "out of memory for the sound";
    return false;
  }
  sound->format = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout);
  sound->sample_rate = kSampleRate;
  sound->nb_samples = audio->frame_size > 0 ? audio->frame_size : 1024;
  if (av_frame_get_buffer(sound, 0) < 0) {
    *error = "out of memory for the sound";
    return false;
  }
  return true;
}

bool VideoWriter::State::Begin(std::string* error) {
  int r = avio_open(&output->pb, temporary.c_str(), AVIO_FLAG_WRITE);
  if (r < 0) {
    *error = "cannot write " + temporary + ": " + AvError(r);
    return false;
  }
  open = true;
  AVDictionary* muxing = nullptr;
  // The index at the front: players can start before the whole file is read.
  av_dict_set(&muxing, "movflags", "+faststart", 0);
  r = avformat_write_header(output, &muxing);
  av_dict_free(&muxing);
  if (r < 0) {
    *error = "cannot write " + temporary + ": " + AvError(r);
    return false;
  }
  return true;
}

std::unique_ptr<VideoWriter> VideoWriter::Open(const std::string& path, int width, int height,
                                               int fps, const std::string& music, double from,
                                               double segment, std::string* error) {
  std::unique_ptr<State> s = NewState(path, width, height, fps, music, from, error);
  if (!s) return nullptr;
  if (segment > 0) s->segmentFrames = std::max(1LL, std::llround(segment * fps));
  if (!s->OpenEncoder(error)) return nullptr;
  s->videoStream = avformat_new_stream(s->output, nullptr);
  avcodec_parameters_from_context(s->videoStream->codecpar, s->video);
  s->videoStream->time_base = s->video->time_base;
  s->videoStream->avg_frame_rate = s->video->framerate;
  if (!s->AddSound(!music.empty(), error)) return nullptr;

  s->scaler = sws_getContext(width, height, AV_PIX_FMT_RGB24, s->width, s->height,
                             AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
  s->picture = av_frame_alloc();
  if (s->scaler == nullptr || s->picture == nullptr) {
    *error = "out of memory for the video";
    return nullptr;
  }
  s->picture->format = AV_PIX_FMT_YUV420P;
  s->picture->width = s->width;
  s->picture->height = s->height;
  if (av_frame_get_buffer(s->picture, 0) < 0) {
    *error = "out of memory for the video";
    return nullptr;
  }
  if (!s->Begin(error)) return nullptr;
  return std::unique_ptr<VideoWriter>(new VideoWriter(std::move(s)));
}

std::unique_ptr<VideoWriter> VideoWriter::OpenJoin(const std::string& path, const std::string& firstPiece,
                                                   const std::string& music, double from,
                                                   std::string* error) {
  // The first piece tells the video stream's parameters.
  AVFormatContext* input = nullptr;
  const int r = avformat_open_input(&input, firstPiece.c_str(), nullptr, nullptr);
  if (r < 0) {
    *error = "cannot open " + firstPiece + ": " + AvError(r);
    return nullptr;
  }
  const int index = avformat_find_stream_info(input, nullptr) < 0
                        ? -1
                        : av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVCodecParameters* parameters = avcodec_parameters_alloc();
  int fps = 0;
  if (index >= 0 && parameters != nullptr &&
      avcodec_parameters_copy(parameters, input->streams[index]->codecpar) >= 0 &&
      input->streams[index]->avg_frame_rate.den == 1) {
    fps = input->streams[index]->avg_frame_rate.num;
  }
  avformat_close_input(&input);
  std::unique_ptr<State> s;
  if (fps <= 0 || parameters->width <= 0 || parameters->height <= 0) {
    *error = "no video of whole frames per second in " + firstPiece;
  } else {
    s = NewState(path, parameters->width, parameters->height, fps, music, from, error);
  }
  if (!s) {
    avcodec_parameters_free(&parameters);
    return nullptr;
  }
  s->pieces = parameters;
  s->videoStream = avformat_new_stream(s->output, nullptr);
  avcodec_parameters_copy(s->videoStream->codecpar, parameters);
  s->videoStream->codecpar->codec_tag = 0;
  // What the piece's reader measured; the encoder states none (constant
  // quality), and the muxer writes it into the file.
  s->videoStream->codecpar->bit_rate = 0;
  s->videoStream->time_base = AVRational{1, fps};
  s->videoStream->avg_frame_rate = AVRational{fps, 1};
  if (!s->AddSound(!music.empty(), error) || !s->Begin(error)) return nullptr;
  return std::unique_ptr<VideoWriter>(new VideoWriter(std::move(s)));
}

bool VideoWriter::AddFrame(const Picture& frame, std::string* error) {
  State& s = *mState;
  if (s.video == nullptr) {
    *error = "a join takes no frames";
    return false;
  }
  if (av_frame_make_writable(s.picture) < 0) {
    *error = "out of memory for the video";
    return false;
  }
  if (s.segmentFrames > 0 && s.frames > 0 && (s.firstFrame + s.frames) % s.segmentFrames == 0) {
    // A segment starts: what the last one holds back goes out, and nothing
    // of it (references, rate control, look-ahead) reaches into this one.
    if (!s.Write(s.video, s.videoStream, nullptr, error)) return false;
    avcodec_free_context(&s.video);
    if (!s.OpenEncoder(error)) return false;
  }
  const std::uint8_t* rows[1] = {frame.rgb.data()};
  const int strides[1] = {frame.width * 3};
  sws_scale(s.scaler, rows, strides, 0, frame.height, s.picture->data, s.picture->linesize);
  s.picture->pts = s.frames++;
  return s.Write(s.video, s.videoStream, s.picture, error) && s.Sound(false, error);
}

bool VideoWriter::AddPiece(const std::string& piece, std::string* error) {
  State& s = *mState;
  AVFormatContext* input = nullptr;
  int r = avformat_open_input(&input, piece.c_str(), nullptr, nullptr);
  if (r < 0) {
    *error = "cannot open " + piece + ": " + AvError(r);
    return false;
  }
  struct Cleanup {
    AVFormatContext** input;
    AVPacket* packet = av_packet_alloc();
    ~Cleanup() {
      av_packet_free(&packet);
      avformat_close_input(input);
    }
  } c{&input};
  const int index = avformat_find_stream_info(input, nullptr) < 0
                        ? -1
                        : av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0 || c.packet == nullptr) {
    *error = "no video in " + piece;
    return false;
  }
  const AVStream* stream = input->streams[index];
  const AVCodecParameters* p = stream->codecpar;
  // The same encoder, size and settings give the same stream headers.
  const AVCodecParameters* first = s.pieces;
  const bool same = first != nullptr && p->codec_id == first->codec_id && p->width == first->width &&
                    p->height == first->height &&
                    av_cmp_q(stream->avg_frame_rate, AVRational{s.fps, 1}) == 0 &&
                    p->extradata_size == first->extradata_size &&
                    std::equal(p->extradata, p->extradata + p->extradata_size, first->extradata);
  if (!same) {
    *error = piece + " was recorded with another size, frame rate or encoder than the first piece";
    return false;
  }
  const AVRational frame{1, s.fps};
  const std::int64_t start = s.frames;
  std::int64_t count = 0;
  while ((r = av_read_frame(input, c.packet)) >= 0) {
    if (c.packet->stream_index != index) {
      av_packet_unref(c.packet);
      continue;
    }
    if (count == 0 && (c.packet->flags & AV_PKT_FLAG_KEY) == 0) {
      *error = piece + " does not start on a key frame";
      return false;
    }
    // In frames after what came before, then in the output's units.
    const auto place = [&](std::int64_t t) {
      return av_rescale_q(av_rescale_q(t, stream->time_base, frame) + start, frame, s.videoStream->time_base);
    };
    c.packet->pts = place(c.packet->pts);
    c.packet->dts = place(c.packet->dts);
    c.packet->duration = av_rescale_q(c.packet->duration, stream->time_base, s.videoStream->time_base);
    c.packet->stream_index = s.videoStream->index;
    c.packet->pos = -1;
    r = av_interleaved_write_frame(s.output, c.packet);
    if (r < 0) {
      *error = "cannot write " + s.path + ": " + AvError(r);
      return false;
    }
    s.frames = start + ++count;
    if (!s.Sound(false, error)) return false;
  }
  if (r != AVERROR_EOF) {
    *error = "cannot read " + piece + ": " + AvError(r);
    return false;
  }
  if (count == 0) {
    *error = "no video in " + piece;
    return false;
  }
  return true;
}

bool VideoWriter::Finish(std::string* error) {
  State& s = *mState;
  if (!s.Sound(true, error) || (s.video != nullptr && !s.Write(s.video, s.videoStream, nullptr, error)) ||
      (s.audio != nullptr && !s.Write(s.audio, s.audioStream, nullptr, error))) {
    return false;
  }
  int r = av_write_trailer(s.output);
  if (r >= 0) r = avio_closep(&s.output->pb);
  if (r < 0) {
    *error = "cannot complete " + s.temporary + ": " + AvError(r);
    return false;
  }
  std::error_code ec;
  std::filesystem::rename(s.temporary, s.path, ec);
  if (ec) {
    *error = "cannot rename " + s.temporary + " to " + s.path;
    return false;
  }
  s.done = true;
  return true;
}

void VideoWriter::Abandon() {
  State& s = *mState;
  if (s.output != nullptr && s.output->pb != nullptr) avio_closep(&s.output->pb);
  std::error_code ec;
  if (s.open && !s.done) std::filesystem::remove(s.temporary, ec);
  s.open = false;
}

std::string VideoWriter::Codecs() const {
  const State& s = *mState;
  std::string text = avcodec_get_name(s.videoStream->codecpar->codec_id);
  if (s.audio != nullptr) text += std::string(" + ") + s.audio->codec->name;
  return text;
}

bool JoinVideos(const std::vector<std::string>& pieces, const std::string& path,
                const std::string& music, double from, std::string* error) {
  if (pieces.empty()) {
    *error = "nothing to join";
    return false;
  }
  std::unique_ptr<VideoWriter> video = VideoWriter::OpenJoin(path, pieces[0], music, from, error);
  if (!video) return false;
  for (const std::string& piece : pieces) {
    if (!video->AddPiece(piece, error)) {
      video->Abandon();
      return false;
    }
  }
  if (!video->Finish(error)) {
    video->Abandon();
    return false;
  }
  return true;
}

VideoInfo ProbeVideo(const std::string& path) {
  VideoInfo info;
  AVFormatContext* input = nullptr;
  const int r = avformat_open_input(&input, path.c_str(), nullptr, nullptr);
  if (r < 0) {
    info.error = "cannot open " + path + ": " + AvError(r);
    return info;
  }
  if (avformat_find_stream_info(input, nullptr) < 0) info.error = "cannot read " + path;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    const double unit = av_q2d(stream->time_base);
    const double start = stream->start_time == AV_NOPTS_VALUE ? 0.0 : stream->start_time * unit;
    const double length = stream->duration == AV_NOPTS_VALUE ? 0.0 : stream->duration * unit;
    const char* name = avcodec_get_name(stream->codecpar->codec_id);
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      info.videoCodec = name;
      info.width = stream->codecpar->width;
      info.height = stream->codecpar->height;
      info.frames = stream->nb_frames;
      info.videoSeconds = length;
      info.videoStart = start;
    } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      info.audioCodec = name;
      info.audioSeconds = length;
      info.audioStart = start;
    }
  }
  avformat_close_input(&input);
  return info;
}

}  // namespace demo
