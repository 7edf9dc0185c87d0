#include "soundpack_rig.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <vector>

namespace veska::testing {
namespace {

void Put16(std::vector<uint8_t>& bytes, uint32_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& bytes, uint32_t value) {
  Put16(bytes, value & 0xFFFF);
  Put16(bytes, value >> 16);
}

void PutTag(std::vector<uint8_t>& bytes, const char* tag) {
  bytes.insert(bytes.end(), tag, tag + 4);
}

}  // namespace

TempFolder::TempFolder() {
  std::random_device seed;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  do {
    path_ = base / ("veska-soundpack-" + std::to_string(seed()));
  } while (!std::filesystem::create_directory(path_));
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::Folder(const std::string& name) const {
  const std::filesystem::path folder = path_ / name;
  std::filesystem::create_directories(folder);
  return folder.string() + "/";
}

void WriteWav(const std::filesystem::path& file, uint32_t sample_rate,
              uint32_t frames, uint16_t channels) {
  const uint32_t block_align = 2u * channels;
  const uint32_t data_bytes = frames * block_align;
  std::vector<uint8_t> bytes;
  PutTag(bytes, "RIFF");
  Put32(bytes, 36 + data_bytes);
  PutTag(bytes, "WAVE");
  PutTag(bytes, "fmt ");
  Put32(bytes, 16);
  Put16(bytes, 1);
  Put16(bytes, channels);
  Put32(bytes, sample_rate);
  Put32(bytes, sample_rate * block_align);
  Put16(bytes, block_align);
  Put16(bytes, 16);
  PutTag(bytes, "data");
  Put32(bytes, data_bytes);
  for (uint32_t i = 0; i < frames * channels; ++i) Put16(bytes, i * 37);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

SoundpackRig::SoundpackRig(int cores)
    : diagnostics(std::tmpfile()), engine(&device, diagnostics) {
  engine.Open();
  state.services.sound = &engine;
  state.services.prefs = &prefs;
  state.services.shell = &shell;
  state.LastCoreIndex = static_cast<int16_t>(cores - 1);
  state.CoreLoads.assign(cores, 0.0);
  state.CoreLevels.assign(cores, 0);
  state.CoreTargets.assign(cores, 0);
  state.CoreSliding.assign(cores, 0);
  state.Random.seed(20240607);
}

SoundpackRig::~SoundpackRig() {
  engine.Release(AllSounds);
  engine.Close();
  if (diagnostics != nullptr) std::fclose(diagnostics);
}

std::shared_ptr<RecordedBuffer> SoundpackRig::BufferOf(SoundHandle handle) {
  if (handle == 0) return nullptr;
  auto known = buffers_by_handle.find(handle);
  if (known != buffers_by_handle.end()) return known->second;
  // Tag the buffer with a frequency no other live buffer has, find it, and
  // put its frequency back.
  const uint32_t own = engine.GetFrequency(handle);
  std::set<uint32_t> taken;
  for (const auto& buffer : device.Live()) taken.insert(buffer->frequency);
  uint32_t marker = 199999;
  while (taken.count(marker) != 0) --marker;
  engine.SetFrequency(handle, marker);
  std::shared_ptr<RecordedBuffer> found;
  for (const auto& buffer : device.Live()) {
    if (buffer->frequency == marker) found = buffer;
  }
  engine.SetFrequency(handle, own);
  if (found != nullptr) buffers_by_handle[handle] = found;
  return found;
}

SoundHandle SoundpackRig::LoadAs(const std::string& key,
                                 const std::filesystem::path& file) {
  const SoundHandle handle = engine.LoadFile(file.string());
  state.SoundTable.FindOrAdd(key) = handle;
  if (handle != 0) buffers_by_handle[handle] = device.Last();
  return handle;
}

int32_t SoundpackRig::DevicePan(int32_t pan) const {
  if (pan == 0) return 0;
  const int32_t magnitude = pan < 0 ? -pan : pan;
  const int32_t size = 10000 - engine.AttenuationTable()[100 - magnitude];
  return pan < 0 ? -size : size;
}

}  // namespace veska::testing
