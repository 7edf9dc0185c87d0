#include "sound/sound_engine.h"

#include <cmath>
#include <filesystem>

#include "sound/sound_file.h"

namespace veska {
namespace {

// False when the file cannot be looked at.
bool StampOf(const std::string& path, uint64_t* size, int64_t* changed) {
  try {
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    std::error_code error;
    *size = std::filesystem::file_size(file, error);
    if (error) return false;
    const auto time = std::filesystem::last_write_time(file, error);
    if (error) return false;
    *changed = time.time_since_epoch().count();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

SoundHandle NextFreeHandle(SoundHandle last,
                           const std::function<bool(SoundHandle)>& in_use) {
  // Unsigned steps wrap from the int32 maximum to the minimum without the
  // signed overflow.
  uint32_t candidate = static_cast<uint32_t>(last);
  for (uint64_t tries = 0; tries <= UINT32_MAX; ++tries) {
    ++candidate;
    const auto handle = static_cast<SoundHandle>(candidate);
    if (handle == 0 || handle == AllSounds) continue;
    if (!in_use(handle)) return handle;
  }
  return 0;
}

SoundEngine::SoundEngine(SoundDevice* device, std::FILE* diagnostics)
    : device_(device), diagnostics_(diagnostics) {}

SoundEngine::~SoundEngine() { Close(); }

bool SoundEngine::Open() {
  if (open_) return true;
  attenuation_table_[0] = 0;
  for (int i = 1; i < 100; ++i) {
    attenuation_table_[i] =
        static_cast<int32_t>(std::trunc(std::log10(1000.0 * i) * 20 * 100));
  }
  attenuation_table_[100] = 10000;
  if (device_ == nullptr || !device_->Open()) return false;
  sounds_.clear();
  open_ = true;
  return true;
}

void SoundEngine::RegisterDecoder(const SoundDecoder& decoder) {
  // A table with a missing operation could not be called safely.
  if (decoder.Open == nullptr || decoder.Decode == nullptr ||
      decoder.Channels == nullptr || decoder.Length == nullptr ||
      decoder.SampleRate == nullptr || decoder.Close == nullptr) {
    return;
  }
  for (const SoundDecoder& known : decoders_) {
    if (known.Open == decoder.Open) return;
  }
  decoders_.push_back(decoder);
}

SoundHandle SoundEngine::LoadFile(const std::string& path) {
  if (!open_) return 0;
  FileStamp stamp;
  const bool stamped = StampOf(path, &stamp.size, &stamp.changed);
  if (stamped) {
    const std::optional<SoundHandle> shared = LoadShared(path, stamp);
    if (shared) return *shared;
  }

  DecodedSound sound;
  if (!ReadSoundFile(path, decoders_, &sound)) return 0;
  PrintHeader(sound.format, sound.size);

  const SoundHandle handle = NextHandle();
  if (handle == 0) return 0;
  std::unique_ptr<SoundBuffer> buffer =
      device_->CreateBuffer(sound.format, sound.data, sound.size);
  if (buffer == nullptr) return 0;
  sounds_[handle] = {std::move(buffer), path};
  last_handle_ = handle;
  if (stamped) files_[path] = {stamp, sound.format, sound.size, handle};
  return handle;
}

std::optional<SoundHandle> SoundEngine::LoadShared(const std::string& path,
                                                   const FileStamp& stamp) {
  const auto file = files_.find(path);
  if (file == files_.end() || !(file->second.stamp == stamp)) {
    return std::nullopt;
  }
  SoundRecord* source = Find(file->second.sound);
  if (source == nullptr) return std::nullopt;
  std::unique_ptr<SoundBuffer> buffer = source->buffer->Duplicate();
  if (buffer == nullptr) return std::nullopt;
  PrintHeader(file->second.format, file->second.size);
  const SoundHandle handle = NextHandle();
  if (handle == 0) return 0;
  sounds_[handle] = {std::move(buffer), path};
  last_handle_ = handle;
  return handle;
}

void SoundEngine::PrintHeader(const WaveFormat& f, uint32_t size) {
  if (diagnostics_ == nullptr) return;
  std::fprintf(diagnostics_,
               "WAV Header Info: NbChannels %d, BitsPerSamples: %d, "
               "NbBlockAlign %d\n",
               static_cast<int>(f.channels),
               static_cast<int>(f.bits_per_sample),
               static_cast<int>(f.block_align));
  std::fprintf(diagnostics_,
               "WAV Header Info: SamplePerSec %d, nAvgBytesPerSec: %d, "
               "WavSize %d\n",
               static_cast<int>(f.samples_per_sec),
               static_cast<int>(f.avg_bytes_per_sec), static_cast<int>(size));
  std::fflush(diagnostics_);
}

bool SoundEngine::Play(SoundHandle handle, uint32_t flags, int32_t volume) {
  SoundRecord* sound = Find(handle);
  if (sound == nullptr) return false;
  sound->buffer->Stop();
  sound->buffer->SetCurrentPosition(0);
  if (volume != KeepVolume) SetVolume(handle, volume);
  return sound->buffer->Play((flags & PlayLoop) != 0);
}

void SoundEngine::Stop(SoundHandle handle) {
  if (handle == AllSounds) {
    for (auto& [key, sound] : sounds_) Stop(key);
    return;
  }
  SoundRecord* sound = Find(handle);
  if (sound == nullptr) return;
  sound->buffer->Stop();
  sound->buffer->SetCurrentPosition(0);
}

void SoundEngine::Release(SoundHandle handle) {
  if (handle == AllSounds) {
    sounds_.clear();
    files_.clear();
    return;
  }
  const auto sound = sounds_.find(handle);
  if (sound == sounds_.end()) return;
  const std::string path = std::move(sound->second.path);
  sounds_.erase(sound);
  // The file stays shared while another sound from it lives.
  const auto file = files_.find(path);
  if (file == files_.end() || file->second.sound != handle) return;
  for (const auto& [other, record] : sounds_) {
    if (record.path == path) {
      file->second.sound = other;
      return;
    }
  }
  files_.erase(file);
}

void SoundEngine::SetVolume(SoundHandle handle, int32_t volume) {
  if (handle == AllSounds) {
    for (auto& [key, sound] : sounds_) SetVolume(key, volume);
    return;
  }
  SoundRecord* sound = Find(handle);
  if (sound == nullptr) return;
  if (volume > 100) volume = 100;
  if (volume < 0) volume = 0;
  sound->buffer->SetVolume(attenuation_table_[volume] - 10000);
}

void SoundEngine::SetPan(SoundHandle handle, int32_t pan) {
  if (pan > 100) pan = 100;
  if (pan < -100) pan = -100;
  SoundRecord* sound = Find(handle);
  if (sound == nullptr) return;
  if (pan == 0) {
    sound->buffer->SetPan(0);
    return;
  }
  const int32_t side = pan > 0 ? 1 : -1;
  const int32_t magnitude = pan * side;
  sound->buffer->SetPan(side * (10000 - attenuation_table_[100 - magnitude]));
}

uint32_t SoundEngine::GetFrequency(SoundHandle handle) {
  SoundRecord* sound = Find(handle);
  if (sound == nullptr) return 0;
  uint32_t hz = 0;
  if (!sound->buffer->GetFrequency(&hz)) return 0;
  return hz;
}

void SoundEngine::SetFrequency(SoundHandle handle, uint32_t frequency) {
  SoundRecord* sound = Find(handle);
  if (sound == nullptr) return;
  sound->buffer->SetFrequency(frequency);
}

void SoundEngine::Close() {
  if (!open_) return;
  Release(AllSounds);
  device_->Close();
  open_ = false;
}

SoundEngine::SoundRecord* SoundEngine::Find(SoundHandle handle) {
  if (handle == 0 || handle == AllSounds) return nullptr;
  auto it = sounds_.find(handle);
  return it == sounds_.end() ? nullptr : &it->second;
}

SoundHandle SoundEngine::NextHandle() {
  return NextFreeHandle(last_handle_, [this](SoundHandle handle) {
    return sounds_.count(handle) != 0;
  });
}

}  // namespace veska
