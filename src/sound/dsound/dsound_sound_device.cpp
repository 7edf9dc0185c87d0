#include "sound/dsound/dsound_sound_device.h"

// The other system headers need the types <windows.h> declares.
#include <windows.h>

#include <dsound.h>
#include <mmreg.h>

#include <cstring>
#include <limits>
#include <vector>

namespace veska {

namespace {

using DirectSoundCreateCall = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*,
                                               LPUNKNOWN);

constexpr wchar_t kWindowClass[] = L"MultimediaBase Class";

// The owner window only has to exist: DirectSound ties the cooperative
// level and global focus to it, and nothing is ever shown in it.
ATOM RegisterOwnerClass(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.lpszClassName = kWindowClass;
  return RegisterClassExW(&window_class);
}

class DsoundBuffer : public SoundBuffer {
 public:
  explicit DsoundBuffer(IDirectSoundBuffer* buffer) : buffer_(buffer) {}
  ~DsoundBuffer() override {
    buffer_->Stop();
    buffer_->Release();
  }
  DsoundBuffer(const DsoundBuffer&) = delete;
  DsoundBuffer& operator=(const DsoundBuffer&) = delete;

  bool Play(bool loop) override {
    return SUCCEEDED(buffer_->Play(0, 0, loop ? DSBPLAY_LOOPING : 0));
  }
  bool Stop() override { return SUCCEEDED(buffer_->Stop()); }
  bool SetCurrentPosition(uint32_t byte_offset) override {
    return SUCCEEDED(buffer_->SetCurrentPosition(byte_offset));
  }
  bool SetVolume(int32_t volume) override {
    if (volume < kVolumeSilent || volume > kVolumeFull) return false;
    return SUCCEEDED(buffer_->SetVolume(volume));
  }
  bool SetPan(int32_t pan) override {
    if (pan < kPanLeft || pan > kPanRight) return false;
    return SUCCEEDED(buffer_->SetPan(pan));
  }
  bool SetFrequency(uint32_t hz) override {
    // Checked here as well: 0 would mean "the format's rate" to DirectSound.
    if (hz < kMinFrequency || hz > kMaxFrequency) return false;
    return SUCCEEDED(buffer_->SetFrequency(hz));
  }
  bool GetFrequency(uint32_t* hz) override {
    if (hz == nullptr) return false;
    DWORD frequency = 0;
    if (FAILED(buffer_->GetFrequency(&frequency))) return false;
    *hz = frequency;
    return true;
  }

 private:
  IDirectSoundBuffer* buffer_;
};

// The WAVEFORMATEX of `format` with its extra bytes after it; empty when
// the extra bytes do not fit the record's 16-bit size.
std::vector<uint8_t> WaveFormatRecord(const WaveFormat& format) {
  if (format.extra.size() > std::numeric_limits<WORD>::max()) return {};
  std::vector<uint8_t> record(sizeof(WAVEFORMATEX) + format.extra.size());
  WAVEFORMATEX header{};
  header.wFormatTag = format.format_tag;
  header.nChannels = format.channels;
  header.nSamplesPerSec = format.samples_per_sec;
  header.nAvgBytesPerSec = format.avg_bytes_per_sec;
  header.nBlockAlign = format.block_align;
  header.wBitsPerSample = format.bits_per_sample;
  header.cbSize = static_cast<WORD>(format.extra.size());
  std::memcpy(record.data(), &header, sizeof(header));
  if (!format.extra.empty()) {
    std::memcpy(record.data() + sizeof(header), format.extra.data(),
                format.extra.size());
  }
  return record;
}

// Copies `data` into the whole of `buffer`, which may hand it out in two
// pieces.
bool Fill(IDirectSoundBuffer* buffer, const uint8_t* data, uint32_t size) {
  void* first = nullptr;
  void* second = nullptr;
  DWORD first_bytes = 0;
  DWORD second_bytes = 0;
  HRESULT result =
      buffer->Lock(0, size, &first, &first_bytes, &second, &second_bytes, 0);
  if (result == DSERR_BUFFERLOST) {
    buffer->Restore();
    result =
        buffer->Lock(0, size, &first, &first_bytes, &second, &second_bytes, 0);
  }
  if (FAILED(result)) return false;
  const bool whole = first_bytes + second_bytes == size;
  if (whole) {
    std::memcpy(first, data, first_bytes);
    if (second != nullptr)
      std::memcpy(second, data + first_bytes, second_bytes);
  }
  buffer->Unlock(first, first_bytes, second, second_bytes);
  return whole;
}

}  // namespace

DsoundSoundDevice::~DsoundSoundDevice() { Close(); }

bool DsoundSoundDevice::Open() {
  if (IsOpen()) return true;
  last_open_error_ = 0;
  HMODULE library = LoadLibraryW(L"DSOUND.DLL");
  library_ = library;
  const auto create =
      library == nullptr
          ? nullptr
          : reinterpret_cast<DirectSoundCreateCall>(reinterpret_cast<void*>(
                GetProcAddress(library, "DirectSoundCreate")));
  if (create == nullptr) {
    last_open_error_ = static_cast<int32_t>(HRESULT_FROM_WIN32(GetLastError()));
    Close();
    return false;
  }
  IDirectSound* device = nullptr;
  HRESULT result = create(nullptr, &device, nullptr);
  if (FAILED(result) || device == nullptr) {
    last_open_error_ = static_cast<int32_t>(FAILED(result) ? result : E_FAIL);
    Close();
    return false;
  }
  device_ = device;

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  // Another device in this process may have registered the class already.
  if (RegisterOwnerClass(instance) == 0 &&
      GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    last_open_error_ = static_cast<int32_t>(HRESULT_FROM_WIN32(GetLastError()));
    Close();
    return false;
  }
  window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, nullptr,
                            nullptr, instance, nullptr);
  if (window_ == nullptr) {
    last_open_error_ = static_cast<int32_t>(HRESULT_FROM_WIN32(GetLastError()));
    Close();
    return false;
  }
  result =
      device->SetCooperativeLevel(static_cast<HWND>(window_), DSSCL_PRIORITY);
  if (FAILED(result)) {
    last_open_error_ = static_cast<int32_t>(result);
    Close();
    return false;
  }
  return true;
}

std::unique_ptr<SoundBuffer> DsoundSoundDevice::CreateBuffer(
    const WaveFormat& format, const uint8_t* data, uint32_t size) {
  if (!IsOpen() || data == nullptr || size == 0 || size > DSBSIZE_MAX ||
      size < DSBSIZE_MIN) {
    return nullptr;
  }
  std::vector<uint8_t> record = WaveFormatRecord(format);
  if (record.empty()) return nullptr;
  DSBUFFERDESC description{};
  description.dwSize = sizeof(description);
  description.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN |
                        DSBCAPS_CTRLFREQUENCY | DSBCAPS_GLOBALFOCUS |
                        DSBCAPS_GETCURRENTPOSITION2;
  description.dwBufferBytes = size;
  description.lpwfxFormat = reinterpret_cast<WAVEFORMATEX*>(record.data());
  IDirectSoundBuffer* buffer = nullptr;
  auto* device = static_cast<IDirectSound*>(device_);
  if (FAILED(device->CreateSoundBuffer(&description, &buffer, nullptr)) ||
      buffer == nullptr) {
    return nullptr;
  }
  auto made = std::make_unique<DsoundBuffer>(buffer);
  if (!Fill(buffer, data, size)) return nullptr;
  return made;
}

void DsoundSoundDevice::Close() {
  if (device_ != nullptr) {
    static_cast<IDirectSound*>(device_)->Release();
    device_ = nullptr;
  }
  if (window_ != nullptr) {
    DestroyWindow(static_cast<HWND>(window_));
    window_ = nullptr;
  }
  if (library_ != nullptr) {
    FreeLibrary(static_cast<HMODULE>(library_));
    library_ = nullptr;
  }
}

}  // namespace veska
