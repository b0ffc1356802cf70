// fennik-cli frames, show --stream ID --frame K and decode --stream ID: a stream's frame
// list, one frame's fields, and its decoded PCM as a WAV file.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CaptureSession.h"
#include "codec/audio/AudioViews.h"
#include "media/CWavFile.h"
#include "view/CFieldTree.h"

namespace fennik::cli {

int RunVideoFrames(const CliArgs& args, CAvStream* object);
int RunVideoShowFrame(CAvStream* object, uint32_t index, int language);
int RunVideoDecode(const CliArgs& args, CAvStream* object);

namespace {

// The stream object of --stream ID, or an exit status with the reason printed.
int FindStreamObject(const CliArgs& args, CaptureSession& session, CAvStream*& object) {
  uint32_t id = 0;
  if (int status = ReadStreamId(args, session, id)) return status;
  object = session.capture->StreamObject(id - 1);
  if (object == nullptr) {
    const RtpStreamEntry& s = session.capture->Streams()[id - 1];
    return Fail(kExitFailed, "stream " + std::to_string(id) + " has no frames (codec type " +
                                 std::to_string(s.codecType) +
                                 (s.codecType == 0 ? ": no codec known; try --sdp FILE)" : " is not supported)"));
  }
  return kExitOk;
}

CAudio_Stream* AsAudio(CAvStream* object) { return dynamic_cast<CAudio_Stream*>(object); }

int PrintFramesJson(CAudio_Stream& stream) {
  std::printf("[");
  const uint64_t count = stream.Frames().GetCount();
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t address;
    FrameEntry e;
    stream.Frames().Get(i, &address, &e);
    std::printf("%s\n  {\"index\": %" PRIu64 ", \"address\": %" PRIu64 ", \"size\": %u, "
                "\"time_us\": %" PRIu64 ", \"packet\": %u, \"timestamp\": %" PRIu64 "}",
                i == 0 ? "" : ",", i, address + e.frameOffset, e.size,
                stream.GetTime(static_cast<uint32_t>(i)), e.packetNumber, e.timestamp);
  }
  std::printf("%s]\n", count == 0 ? "" : "\n");
  return kExitOk;
}

}  // namespace

int RunFrames(const CliArgs& args) {
  CaptureSession session;
  if (int status = OpenCaptureSession(args, session)) return status;
  CAvStream* object = nullptr;
  if (int status = FindStreamObject(args, session, object)) return status;
  CAudio_Stream* audio = AsAudio(object);
  if (audio == nullptr) return RunVideoFrames(args, object);
  if (args.Has("--json")) return PrintFramesJson(*audio);

  CView_AudioFrameList list(*audio);
  CListModel model;
  model.SetSource(&list);
  CFieldTree header(session.language);
  list.PrintHeader(model, header);
  std::string text = RenderText(header.Rows());
  CRowLine line;
  list.ColumnTitle(line);
  text += line.Text() + "\n";
  for (uint64_t i = 0; i < list.Count(); ++i) {
    line.Clear();
    int colour = 0;
    if (list.ItemRow(i, line, colour)) text += line.Text() + "\n";
  }
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

int RunShowFrame(const CliArgs& args) {
  CaptureSession session;
  if (int status = OpenCaptureSession(args, session)) return status;
  CAvStream* object = nullptr;
  if (int status = FindStreamObject(args, session, object)) return status;
  int64_t frame = -1;
  if (!args.Has("--frame") || !args.GetInt("--frame", frame)) {
    return Fail(kExitUsage, "--frame K is required with --stream");
  }
  const uint64_t count = object->Frames().GetCount();
  if (frame < 0 || static_cast<uint64_t>(frame) >= count) {
    return Fail(kExitFailed, "frame " + *args.Get("--frame") + " does not exist (the stream has " +
                                 std::to_string(count) + " frames)");
  }
  CAudio_Stream* audio = AsAudio(object);
  const uint32_t index = static_cast<uint32_t>(frame);
  if (audio == nullptr) return RunVideoShowFrame(object, index, session.language);
  audio->DecodeFrame(index);  // the view shows the frame decoded last
  CFieldTree tree(session.language);
  audio->ShowFrameInfo(tree, index);
  audio->ShowFrameDetail(tree, index);
  std::fputs(RenderText(tree.Rows()).c_str(), stdout);
  return kExitOk;
}

// The decoder's PCM at the stream's own rate and channels, or with --as-played what the
// playback receives (16-bit stereo, mono widened).
int RunDecodeStream(const CliArgs& args) {
  CaptureSession session;
  if (int status = OpenCaptureSession(args, session)) return status;
  CAvStream* object = nullptr;
  if (int status = FindStreamObject(args, session, object)) return status;
  CAudio_Stream* audio = AsAudio(object);
  if (audio == nullptr) return RunVideoDecode(args, object);
  const auto out = args.Get("-o");
  if (!out) return Fail(kExitUsage, "-o OUT.wav is required");
  AudioFormat format;
  if (!audio->GetAudioFormat(format) || format.sampleRate == 0 || format.channels == 0) {
    return Fail(kExitFailed, "the stream's audio format is unknown");
  }
  const bool asPlayed = args.Has("--as-played");
  const uint32_t channels = asPlayed && format.channels == 1 ? 2 : format.channels;
  CWavFile wav;
  if (!wav.Create(*out, channels, format.sampleRate)) return Fail(kExitFailed, "Can't write file: " + *out);
  const uint32_t frames = static_cast<uint32_t>(audio->Frames().GetCount());
  std::vector<int16_t> buffer(1 << 20);
  AudioFrame played;
  played.samples = buffer.data();
  played.capacityBytes = static_cast<uint32_t>(buffer.size() * 2);
  uint32_t unreadable = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    bool ok;
    if (asPlayed) {
      ok = audio->GetAudioFrame(i, played) && wav.Write(played.samples, played.validBytes / 2);
    } else {
      audio->DecodeFrame(i);
      ok = wav.Write(audio->Pcm(), audio->PcmBytes() / 2);
    }
    if (!ok) return Fail(kExitFailed, "write failed: " + *out);
    if (audio->PcmBytes() == 0) ++unreadable;
  }
  if (!wav.Close()) return Fail(kExitFailed, "write failed: " + *out);
  if (unreadable > 0) {
    std::fprintf(stderr, "fennik-cli: %u of %u frames gave no samples\n", unreadable, frames);
  }
  return kExitOk;
}

}  // namespace fennik::cli
