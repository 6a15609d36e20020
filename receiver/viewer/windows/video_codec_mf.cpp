// SPDX-License-Identifier: GPL-3.0-or-later
// VideoCodec with Media Foundation's H.264 decoder transform: the Microsoft
// H.264 decoder (CLSID_CMSH264DecoderMFT), else the first synchronous
// H.264 decoder MFTEnumEx finds; under Wine, winegstreamer's, which decodes
// through GStreamer. Its output (NV12 or I420) goes out as a YuvPicture,
// cropped to the display aperture.
//
// Media Foundation starts once per process (MFShutdown at exit); COM is
// initialised on each thread that opens a decoder. Any failure of the
// transform is logged once per process and closes the decoder: the region
// then keeps its lossless pixels.
#include "receiver/viewer/video_codec.h"

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>

#include <atomic>
#include <cstring>

#include "common/log_file.h"

namespace qc {
namespace {

// A COM interface pointer that releases what it holds.
template <class T>
class Com {
 public:
  Com() = default;
  ~Com() { Clear(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** Put() {
    Clear();
    return &p_;
  }
  void Clear() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// Media Foundation for the life of the process. Its entry points are looked
// up at run time: Windows' "N" editions have no MFPlat.dll, and the
// receiver must start there too (the region then keeps its lossless
// pixels).
class MediaFoundation {
 public:
  decltype(&::MFCreateMediaType) createMediaType = nullptr;
  decltype(&::MFCreateMemoryBuffer) createMemoryBuffer = nullptr;
  decltype(&::MFCreateSample) createSample = nullptr;
  decltype(&::MFTEnumEx) enumerate = nullptr;
  HRESULT started = E_FAIL;  // failed: nothing above may be called

  MediaFoundation() {
    // From the system folder only, never from beside the program.
    dll_ = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dll_) {
      started = HRESULT_FROM_WIN32(GetLastError());
      return;
    }
    const bool found = Find(createMediaType, "MFCreateMediaType") &&
                       Find(createMemoryBuffer, "MFCreateMemoryBuffer") &&
                       Find(createSample, "MFCreateSample") && Find(enumerate, "MFTEnumEx") &&
                       Find(startup_, "MFStartup") && Find(shutdown_, "MFShutdown");
    started = found ? startup_(MF_VERSION, MFSTARTUP_LITE) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  // The DLL stays loaded until the process ends.
  ~MediaFoundation() {
    if (SUCCEEDED(started)) shutdown_();
  }

 private:
  template <class F>
  bool Find(F& function, const char* name) {
    // GetProcAddress's generic type goes through void (*)(), which converts
    // to any function pointer type.
    function = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(dll_, name)));
    return function != nullptr;
  }

  HMODULE dll_ = nullptr;
  decltype(&::MFStartup) startup_ = nullptr;
  decltype(&::MFShutdown) shutdown_ = nullptr;
};

MediaFoundation& Mf() {
  static MediaFoundation mf;
  return mf;
}

// Logs the first failure of the process only: a broken decoder would
// otherwise repeat its line for every stream.
void Fail(const char* what, HRESULT hr) {
  static std::atomic<bool> told{false};
  if (!told.exchange(true)) {
    Log().Print("qvViewer: Media Foundation H.264 decoder: %s failed (0x%08lx)\n", what,
                static_cast<unsigned long>(hr));
  }
}

// MF_LOW_LATENCY, which mfapi.h declares only when building for Windows 8
// and later; older systems ignore the attribute.
constexpr GUID kLowLatency = {0x9c27891a, 0xed7a, 0x40e1,
                              {0x88, 0xe8, 0xb2, 0x27, 0x27, 0xa0, 0x24, 0xee}};

// An access unit delimiter (primary_pic_type 7) after each unit. Stream
// parsers (winegstreamer's h264parse) otherwise hold a unit back until the
// next one's first bytes show where it ends: one frame late. Within the
// stream it starts the next unit, where a delimiter belongs.
constexpr uint8_t kDelimiter[] = {0, 0, 0, 1, 9, 0xF0};

// Access units without a picture after which a transform that takes units
// but puts out nothing counts as broken (two seconds of video).
constexpr int kSilentUnits = 60;

constexpr LONGLONG kFrameTicks = 10'000'000 / 30;  // 100 ns units

}  // namespace

struct VideoCodec::State {
  Com<IMFTransform> transform;
  bool providesSamples = false;  // the transform allocates its output samples
  DWORD outputSize = 0;          // bytes of one output sample
  Com<IMFSample> output;         // the sample the last picture lies in
  Com<IMFMediaBuffer> locked;    // its buffer while a picture is handed out
  LONGLONG time = 0;
  int silent = 0;  // units sent since the last picture
  // The negotiated output.
  bool nv12 = false;
  UINT32 frameWidth = 0, frameHeight = 0;  // the planes' size
  UINT32 stride = 0;
  int left = 0, top = 0, width = 0, height = 0;  // the display aperture

  ~State() { Unlock(); }
  void Unlock() {
    if (locked) locked->Unlock();
    locked.Clear();
  }
  bool ChooseOutput();
  bool MakeOutputSample();
};

bool VideoCodec::State::ChooseOutput() {
  for (DWORD i = 0;; ++i) {
    Com<IMFMediaType> type;
    const HRESULT hr = transform->GetOutputAvailableType(0, i, type.Put());
    if (hr == MF_E_NO_MORE_TYPES) break;
    if (FAILED(hr)) {
      Fail("GetOutputAvailableType", hr);
      return false;
    }
    GUID subtype{};
    if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) continue;
    const bool isNv12 = subtype == MFVideoFormat_NV12;
    if (!isNv12 && subtype != MFVideoFormat_I420 && subtype != MFVideoFormat_IYUV) continue;
    const HRESULT set = transform->SetOutputType(0, type.Get(), 0);
    if (FAILED(set)) {
      Fail("SetOutputType", set);
      return false;
    }
    nv12 = isNv12;
    if (FAILED(MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &frameWidth, &frameHeight)) ||
        frameWidth == 0 || frameHeight == 0 || frameWidth > 8192 || frameHeight > 8192) {
      Fail("MF_MT_FRAME_SIZE", E_UNEXPECTED);
      return false;
    }
    UINT32 defaultStride = 0;
    stride = SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &defaultStride)) &&
                     static_cast<INT32>(defaultStride) >= static_cast<INT32>(frameWidth)
                 ? defaultStride
                 : frameWidth;
    left = top = 0;
    width = static_cast<int>(frameWidth);
    height = static_cast<int>(frameHeight);
    MFVideoArea area{};
    if (SUCCEEDED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area),
                                sizeof area, nullptr)) &&
        area.OffsetX.value >= 0 && area.OffsetY.value >= 0 && area.Area.cx > 0 &&
        area.Area.cy > 0 && area.OffsetX.value + area.Area.cx <= static_cast<LONG>(frameWidth) &&
        area.OffsetY.value + area.Area.cy <= static_cast<LONG>(frameHeight)) {
      // Chroma is shared by 2x2 blocks: the aperture starts on one.
      left = area.OffsetX.value & ~1;
      top = area.OffsetY.value & ~1;
      width = area.Area.cx;
      height = area.Area.cy;
    }
    return MakeOutputSample();
  }
  Fail("an NV12 or I420 output type", MF_E_INVALIDMEDIATYPE);
  return false;
}

bool VideoCodec::State::MakeOutputSample() {
  Unlock();
  output.Clear();
  MFT_OUTPUT_STREAM_INFO info{};
  HRESULT hr = transform->GetOutputStreamInfo(0, &info);
  if (FAILED(hr)) {
    Fail("GetOutputStreamInfo", hr);
    return false;
  }
  providesSamples = (info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES) != 0;
  const DWORD planes = stride * frameHeight * 3 / 2;
  outputSize = info.cbSize > planes ? info.cbSize : planes;
  if (providesSamples) return true;
  Com<IMFMediaBuffer> buffer;
  if (FAILED(hr = Mf().createSample(output.Put())) ||
      FAILED(hr = Mf().createMemoryBuffer(outputSize, buffer.Put())) ||
      FAILED(hr = output->AddBuffer(buffer.Get()))) {
    Fail("an output sample", hr);
    return false;
  }
  return true;
}

VideoCodec::VideoCodec() = default;
VideoCodec::~VideoCodec() = default;

void VideoCodec::Close() { state_.reset(); }

bool VideoCodec::Open() {
  state_.reset();
  MediaFoundation& mf = Mf();
  if (FAILED(mf.started)) {
    Fail("loading MFPlat.dll", mf.started);
    return false;
  }
  // The update thread joins the multithreaded apartment once; a thread
  // that already has another apartment keeps it.
  thread_local const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(com) && com != RPC_E_CHANGED_MODE) {
    Fail("CoInitializeEx", com);
    return false;
  }
  auto s = std::make_unique<State>();
  HRESULT hr = CoCreateInstance(CLSID_CMSH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(s->transform.Put()));
  if (FAILED(hr)) {
    MFT_REGISTER_TYPE_INFO in{MFMediaType_Video, MFVideoFormat_H264};
    IMFActivate** found = nullptr;
    UINT32 count = 0;
    hr = mf.enumerate(MFT_CATEGORY_VIDEO_DECODER, MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER,
                   &in, nullptr, &found, &count);
    if (SUCCEEDED(hr)) {
      hr = MF_E_TOPO_CODEC_NOT_FOUND;
      for (UINT32 i = 0; i < count; ++i) {
        if (!s->transform && SUCCEEDED(found[i]->ActivateObject(IID_PPV_ARGS(s->transform.Put()))))
          hr = S_OK;
        found[i]->Release();
      }
      CoTaskMemFree(found);
    }
    if (FAILED(hr)) {
      Fail("finding a decoder", hr);
      return false;
    }
  }
  // Pictures as soon as they are decoded: no frames held back for
  // reordering (the sender's stream has none).
  Com<IMFAttributes> attributes;
  if (SUCCEEDED(s->transform->GetAttributes(attributes.Put()))) {
    attributes->SetUINT32(kLowLatency, TRUE);
  }
  Com<IMFMediaType> input;
  if (FAILED(hr = mf.createMediaType(input.Put())) ||
      FAILED(hr = input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video)) ||
      FAILED(hr = input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264)) ||
      FAILED(hr = input->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive)) ||
      FAILED(hr = MFSetAttributeRatio(input.Get(), MF_MT_FRAME_RATE, 30, 1)) ||
      FAILED(hr = s->transform->SetInputType(0, input.Get(), 0))) {
    Fail("SetInputType", hr);
    return false;
  }
  if (!s->ChooseOutput()) return false;
  s->transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  s->transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  state_ = std::move(s);
  return true;
}

bool VideoCodec::Send(const uint8_t* unit, size_t length) {
  if (!state_ || length == 0 || length > MAXDWORD - sizeof kDelimiter) return false;
  State& s = *state_;
  s.Unlock();
  if (++s.silent > kSilentUnits) {
    Fail("putting out pictures", MF_E_TRANSFORM_NEED_MORE_INPUT);
    state_.reset();
    return false;
  }
  // A sample per access unit: the transform may keep it after ProcessInput.
  Com<IMFSample> sample;
  Com<IMFMediaBuffer> buffer;
  HRESULT hr;
  BYTE* bytes = nullptr;
  if (FAILED(hr = Mf().createSample(sample.Put())) ||
      FAILED(hr = Mf().createMemoryBuffer(static_cast<DWORD>(length + sizeof kDelimiter),
                                          buffer.Put())) ||
      FAILED(hr = buffer->Lock(&bytes, nullptr, nullptr))) {
    Fail("an input sample", hr);
    state_.reset();
    return false;
  }
  std::memcpy(bytes, unit, length);
  std::memcpy(bytes + length, kDelimiter, sizeof kDelimiter);
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(length + sizeof kDelimiter));
  sample->AddBuffer(buffer.Get());
  sample->SetSampleTime(s.time);
  sample->SetSampleDuration(kFrameTicks);
  s.time += kFrameTicks;
  hr = s.transform->ProcessInput(0, sample.Get(), 0);
  if (hr == MF_E_NOTACCEPTING) {
    // Pictures nobody took yet: drop them, then the transform takes more.
    YuvPicture stale;
    while (state_ && Receive(stale)) {
    }
    if (!state_) return false;
    s.Unlock();
    hr = s.transform->ProcessInput(0, sample.Get(), 0);
  }
  if (FAILED(hr)) {
    Fail("ProcessInput", hr);
    state_.reset();
    return false;
  }
  return true;
}

bool VideoCodec::Receive(YuvPicture& out) {
  if (!state_) return false;
  State& s = *state_;
  for (;;) {
    s.Unlock();
    if (s.providesSamples) s.output.Clear();
    MFT_OUTPUT_DATA_BUFFER data{};
    data.dwStreamID = 0;
    data.pSample = s.providesSamples ? nullptr : s.output.Get();
    DWORD status = 0;
    const HRESULT hr = s.transform->ProcessOutput(0, 1, &data, &status);
    if (data.pEvents) data.pEvents->Release();
    if (s.providesSamples && data.pSample) *s.output.Put() = data.pSample;
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) return false;
    if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
      // The stream's size or format is known or changed: take the new type.
      if (s.ChooseOutput()) continue;
      state_.reset();
      return false;
    }
    if (FAILED(hr)) {
      Fail("ProcessOutput", hr);
      state_.reset();
      return false;
    }
    if (!s.output || (data.dwStatus & MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE)) return false;
    Com<IMFMediaBuffer> buffer;
    BYTE* base = nullptr;
    DWORD length = 0;
    if (FAILED(s.output->ConvertToContiguousBuffer(buffer.Put())) ||
        FAILED(buffer->Lock(&base, nullptr, &length))) {
      Fail("reading a picture", E_UNEXPECTED);
      state_.reset();
      return false;
    }
    *s.locked.Put() = buffer.Get();
    buffer->AddRef();
    // The planes: Y of frameHeight rows, then the chroma. Some decoders pad
    // the planes' height further; the buffer's length tells.
    const size_t stride = s.stride;
    size_t rows = s.frameHeight;
    const size_t padded = static_cast<size_t>(length) * 2 / (3 * stride);
    if (padded > rows && padded % 2 == 0 && padded * stride * 3 / 2 == length) rows = padded;
    if (static_cast<size_t>(length) < stride * rows * 3 / 2) continue;  // short: not a picture
    const uint8_t* y = base;
    const uint8_t* chroma = base + stride * rows;
    out.width = s.width;
    out.height = s.height;
    out.yStride = stride;
    out.y = y + stride * s.top + s.left;
    if (s.nv12) {
      out.uvStride = stride;
      out.uvStep = 2;
      out.u = chroma + stride * (s.top / 2) + s.left;
      out.v = out.u + 1;
    } else {
      out.uvStride = stride / 2;
      out.uvStep = 1;
      out.u = chroma + out.uvStride * (s.top / 2) + s.left / 2;
      out.v = chroma + out.uvStride * (rows / 2) + out.uvStride * (s.top / 2) + s.left / 2;
    }
    s.silent = 0;
    return true;
  }
}

}  // namespace qc
