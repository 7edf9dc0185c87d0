// The optional resources' Windows binding against the stand-in pdh.dll's
// scripted counters (StandinPdhSensors) and against Wine's own pdh.dll,
// which has none of them (WinePdhSensors); the battery against what the
// kernel's power status answers in either copy.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "monitor/windows/pdh_resource_sensors.h"
#include "wide_env.h"

namespace veska::testing {
namespace {

constexpr Resource kCounted[] = {Resource::kNetwork, Resource::kGpu,
                                 Resource::kTemperature};

// The binding's messages, in a file of their own.
class Messages {
 public:
  Messages() : file_(std::tmpfile()) {}
  ~Messages() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Messages(const Messages&) = delete;
  Messages& operator=(const Messages&) = delete;

  std::FILE* file() const { return file_; }
  std::string Text() const {
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};

size_t Lines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

class SensorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("VESKA_PDH_UNDER_TEST"), nullptr)
        << "run through tests/windows/run.sh";
    ASSERT_NE(messages.file(), nullptr);
  }

  // The first read of a rate, then the read that has one.
  ResourceReading SecondRead(Resource resource) {
    const ResourceReading first = sensors.Read(resource);
    EXPECT_TRUE(first.available);
    EXPECT_EQ(first.value, 0.0);
    return sensors.Read(resource);
  }

  Messages messages;
  PdhResourceSensors sensors{messages.file()};
};

using StandinPdhSensors = SensorsTest;
using WinePdhSensors = SensorsTest;
using PowerStatus = SensorsTest;

TEST_F(StandinPdhSensors, NetworkSumsEveryInterfaceButLoopback) {
  ScopedEnv net(
      L"VESKA_PDH_NET",
      L"Ethernet 2=1500;Wi-Fi=2500.5;MS TCP Loopback interface=90000");
  sensors.Prepare(Resource::kNetwork);
  ResourceReading reading = SecondRead(Resource::kNetwork);
  EXPECT_TRUE(reading.available);
  EXPECT_DOUBLE_EQ(reading.value, 4000.5);

  // An interface that comes up counts from its own second collection.
  ScopedEnv more(L"VESKA_PDH_NET",
                 L"Ethernet 2=1500;Wi-Fi=2500;USB=1000000000");
  EXPECT_DOUBLE_EQ(sensors.Read(Resource::kNetwork).value, 4000.0);
  EXPECT_DOUBLE_EQ(sensors.Read(Resource::kNetwork).value, 1000004000.0);

  sensors.Release(Resource::kNetwork);
  reading = sensors.Read(Resource::kNetwork);
  EXPECT_FALSE(reading.available);
  EXPECT_EQ(reading.value, 0.0);
  EXPECT_EQ(messages.Text(), "");
}

// Each engine's use summed over its processes, the busiest engine taken:
// two adapters' 3D engines are two engines, never one at 105 %.
TEST_F(StandinPdhSensors, GpuIsTheBusiestEngine) {
  ScopedEnv gpu(
      L"VESKA_PDH_GPU",
      L"pid_10_luid_0x00000000_0x0000C2F1_phys_0_eng_0_engtype_3D=30;"
      L"pid_20_luid_0x00000000_0x0000C2F1_phys_0_eng_0_engtype_3D=25;"
      L"pid_20_luid_0x00000000_0x0000C2F1_phys_0_eng_3_engtype_"
      L"VideoDecode=40;"
      L"pid_30_luid_0x00000000_0x0000D0A4_phys_0_eng_0_engtype_3D=50");
  sensors.Prepare(Resource::kGpu);
  const ResourceReading reading = SecondRead(Resource::kGpu);
  EXPECT_TRUE(reading.available);
  EXPECT_DOUBLE_EQ(reading.value, 55.0);

  // Processes that together pass 100 % (counters sampled apart) are 100 %.
  ScopedEnv busy(L"VESKA_PDH_GPU",
                 L"pid_1_luid_0x0_0x1_phys_0_eng_1_engtype_Copy=70;"
                 L"pid_2_luid_0x0_0x1_phys_0_eng_1_engtype_Copy=45");
  sensors.Read(Resource::kGpu);
  EXPECT_DOUBLE_EQ(sensors.Read(Resource::kGpu).value, 100.0);
  EXPECT_EQ(messages.Text(), "");
}

TEST_F(StandinPdhSensors, TemperatureIsTheHottestZone) {
  ScopedEnv zones(L"VESKA_PDH_ZONES",
                  L"\\_TZ.TZ00=320.15;\\_TZ.CPUZ=345.6;\\_TZ.NONE=0");
  {
    // Read at once, in tenths of a kelvin where the system has them.
    PdhResourceSensors precise(messages.file());
    precise.Prepare(Resource::kTemperature);
    const ResourceReading reading = precise.Read(Resource::kTemperature);
    EXPECT_TRUE(reading.available);
    EXPECT_NEAR(reading.value, 72.45, 1e-9);
  }
  ScopedEnv coarse(L"VESKA_PDH_ZONES_COARSE", L"1");
  sensors.Prepare(Resource::kTemperature);
  EXPECT_NEAR(sensors.Read(Resource::kTemperature).value, 72.85, 1e-9);
  EXPECT_EQ(messages.Text(), "");
}

// No object, an object without instances, only loopback, only zones
// without a sensor: the element is silent and says so once, until it
// answers again or is prepared anew (another pack that has it).
TEST_F(StandinPdhSensors, NothingThatReportsIsUnavailableOnce) {
  for (Resource resource : kCounted) {
    sensors.Prepare(resource);
    for (int n = 0; n < 3; ++n) {
      const ResourceReading reading = sensors.Read(resource);
      EXPECT_FALSE(reading.available);
      EXPECT_EQ(reading.value, 0.0);
    }
  }
  EXPECT_EQ(messages.Text(),
            "VESKA: no network interface reports its traffic; the network "
            "element stays silent\n"
            "VESKA: no GPU reports its engines' use; the GPU element stays "
            "silent\n"
            "VESKA: no thermal zone reports its temperature; the "
            "temperature element stays silent\n");
  sensors.Prepare(Resource::kGpu);
  EXPECT_FALSE(sensors.Read(Resource::kGpu).available);
  EXPECT_EQ(Lines(messages.Text()), 4u);

  Messages later;
  PdhResourceSensors empty(later.file());
  ScopedEnv gpu(L"VESKA_PDH_GPU", L"-");
  ScopedEnv net(L"VESKA_PDH_NET", L"Software Loopback Interface 1=5000");
  ScopedEnv zones(L"VESKA_PDH_ZONES", L"\\_TZ.TZ00=0");
  for (Resource resource : kCounted) {
    empty.Prepare(resource);
    for (int n = 0; n < 3; ++n) EXPECT_FALSE(empty.Read(resource).available);
  }
  EXPECT_EQ(Lines(later.Text()), 3u) << later.Text();

  // A zone that comes to answer, then falls silent again.
  SetEnvironmentVariableW(L"VESKA_PDH_ZONES", L"\\_TZ.TZ00=300");
  EXPECT_TRUE(empty.Read(Resource::kTemperature).available);
  SetEnvironmentVariableW(L"VESKA_PDH_ZONES", L"\\_TZ.TZ00=0");
  EXPECT_FALSE(empty.Read(Resource::kTemperature).available);
  EXPECT_FALSE(empty.Read(Resource::kTemperature).available);
  EXPECT_EQ(Lines(later.Text()), 4u) << later.Text();

  const auto beyond = static_cast<Resource>(kResourceCount);
  empty.Prepare(beyond);
  EXPECT_FALSE(empty.Read(beyond).available);
  empty.Release(beyond);
}

// Wine's own service has none of these counters.
TEST_F(WinePdhSensors, NoCounterIsThere) {
  for (Resource resource : kCounted) {
    sensors.Prepare(resource);
    EXPECT_FALSE(sensors.Read(resource).available);
    sensors.Release(resource);
  }
  EXPECT_EQ(Lines(messages.Text()), 3u) << messages.Text();
}

// What the kernel's power status answers, and what the runner arranged:
// VESKA_EXPECT_BATTERY is "none", or the percent and "mains" or "battery".
TEST_F(PowerStatus, BatteryIsThePowerStatus) {
  SYSTEM_POWER_STATUS power{};
  ASSERT_TRUE(GetSystemPowerStatus(&power));
  std::printf("power status: line %u, flag %u, percent %u\n",
              power.ACLineStatus, power.BatteryFlag, power.BatteryLifePercent);
  sensors.Prepare(Resource::kBattery);
  const ResourceReading reading = sensors.Read(Resource::kBattery);
  // No battery is a full one on the mains, and silent.
  const bool none = (power.BatteryFlag & 128) != 0;
  EXPECT_EQ(reading.available, !none);
  EXPECT_EQ(reading.value, none ? 100.0 : power.BatteryLifePercent);
  EXPECT_EQ(reading.on_mains, none || power.ACLineStatus == 1);
  EXPECT_EQ(messages.Text(),
            none ? "VESKA: no battery reports its charge; the battery element "
                   "stays silent\n"
                 : "");

  const char* expected = std::getenv("VESKA_EXPECT_BATTERY");
  ASSERT_NE(expected, nullptr) << "run through tests/windows/run.sh";
  char answer[32] = "none";
  if (reading.available) {
    std::snprintf(answer, sizeof(answer), "%.0f %s", reading.value,
                  reading.on_mains ? "mains" : "battery");
  }
  EXPECT_STREQ(answer, expected);
}

}  // namespace
}  // namespace veska::testing
