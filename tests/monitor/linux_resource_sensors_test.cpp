// The Linux sources of the optional resources, read from /proc and /sys
// trees the tests make: each figure as the kernel's files give it, and every
// missing or unreadable source an unavailable 0 that says so in one line.
#include "monitor/linux/linux_resource_sensors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "scoped_env.h"
#include "temp_folder.h"

namespace veska {
namespace {

namespace fs = std::filesystem;
using Roots = LinuxResourceSensors::Roots;

constexpr int64_t kSecond = 1'000'000'000;

std::string NetDev(uint64_t eth_rx, uint64_t eth_tx, uint64_t lo = 0) {
  return "Inter-|   Receive                            |  Transmit\n"
         " face |bytes    packets errs drop fifo frame compressed multicast|"
         "bytes    packets errs drop fifo colls carrier compressed\n"
         "    lo: " +
         std::to_string(lo) + " 5 0 0 0 0 0 0 " + std::to_string(lo) +
         " 5 0 0 0 0 0 0\n"
         "  eth0: " +
         std::to_string(eth_rx) + " 9 0 0 0 0 0 0 " + std::to_string(eth_tx) +
         " 9 0 0 0 0 0 0\n"
         "veth-a:  1000 1 0 0 0 0 0 0 500 1 0 0 0 0 0 0\n";
}

class LinuxSensorsTest : public ::testing::Test {
 protected:
  LinuxSensorsTest() {
    roots_.proc = (temp_.path() / "proc").string();
    roots_.sys = (temp_.path() / "sys").string();
    roots_.gpu_library = "libveska-no-such-gpu-library.so";
  }
  ~LinuxSensorsTest() override { std::fclose(messages_); }

  LinuxResourceSensors& Sensors() {
    if (!sensors_) {
      sensors_ = std::make_unique<LinuxResourceSensors>(
          roots_, [this] { return now_; }, messages_);
    }
    return *sensors_;
  }
  void Write(const std::string& path, const std::string& text) {
    const fs::path file = temp_.path() / path;
    fs::create_directories(file.parent_path());
    testing::WriteFile(file, text);
  }
  void Remove(const std::string& path) { fs::remove_all(temp_.path() / path); }
  // A file the kernel refuses to read stands as a folder of that name.
  void Unreadable(const std::string& path) {
    Remove(path);
    fs::create_directories(temp_.path() / path);
  }
  // Lines said on the messages stream so far.
  std::vector<std::string> Said() {
    std::fflush(messages_);
    std::rewind(messages_);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, messages_)) lines.push_back(line);
    std::fseek(messages_, 0, SEEK_END);
    return lines;
  }

  testing::TempFolder temp_;
  Roots roots_;
  int64_t now_ = 5 * kSecond;
  std::FILE* messages_ = std::tmpfile();
  std::unique_ptr<LinuxResourceSensors> sensors_;
};

TEST_F(LinuxSensorsTest, NetworkIsTheRateOfEveryInterfaceButLoopback) {
  Write("proc/net/dev", NetDev(1000, 2000, 77));
  Sensors().Prepare(Resource::kNetwork);
  ResourceReading reading = Sensors().Read(Resource::kNetwork);
  EXPECT_TRUE(reading.available);
  EXPECT_EQ(reading.value, 0.0) << "no time has passed";

  // 3 MB in and 1 MB out over two seconds; loopback's 9 GB do not count.
  now_ += 2 * kSecond;
  Write("proc/net/dev", NetDev(3'001'000, 1'002'000, 9'000'000'077));
  reading = Sensors().Read(Resource::kNetwork);
  EXPECT_TRUE(reading.available);
  EXPECT_DOUBLE_EQ(reading.value, 2e6);

  // An interface gone takes the total down: no traffic, not a wrap.
  now_ += kSecond;
  Write("proc/net/dev", NetDev(0, 0));
  EXPECT_EQ(Sensors().Read(Resource::kNetwork).value, 0.0);
  now_ += kSecond;
  Write("proc/net/dev", NetDev(500, 0));
  EXPECT_DOUBLE_EQ(Sensors().Read(Resource::kNetwork).value, 500.0);
  EXPECT_TRUE(Said().empty());
}

TEST_F(LinuxSensorsTest, NetworkTextThatIsNotTheKernelsGivesNoTotal) {
  EXPECT_EQ(NetworkRate::TotalBytes(""), std::nullopt);
  EXPECT_EQ(NetworkRate::TotalBytes("Inter-|  Receive\n face |bytes\n"),
            std::nullopt);
  EXPECT_EQ(NetworkRate::TotalBytes("eth0: 12 3 4"), std::nullopt) << "cut";
  EXPECT_EQ(NetworkRate::TotalBytes("eth0: x 1 2 3 4 5 6 7 8 9"), std::nullopt);
  EXPECT_EQ(NetworkRate::TotalBytes("  lo: 5 0 0 0 0 0 0 0 5 0 0 0 0 0 0 0"),
            0u);
  EXPECT_EQ(NetworkRate::TotalBytes(
                "a: 18446744073709551615 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0\n"
                "b: 99999999999999999999999 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0"),
            0u)
      << "an overflowing figure is no line; the sum wraps as the "
         "kernel's counters do";
}

TEST_F(LinuxSensorsTest, EachMissingSourceSaysSoOnceAndReadsAsNothing) {
  // An empty tree: no /proc/net/dev, no DRM device, no management library,
  // no thermal zone, no power supply.
  const Resource all[] = {Resource::kNetwork, Resource::kGpu,
                          Resource::kTemperature, Resource::kBattery};
  for (Resource resource : all) Sensors().Prepare(resource);
  for (int pass = 0; pass < 3; ++pass) {
    for (Resource resource : all) {
      const ResourceReading reading = Sensors().Read(resource);
      EXPECT_FALSE(reading.available) << static_cast<int>(resource);
      EXPECT_EQ(reading.value, resource == Resource::kBattery ? 100.0 : 0.0);
    }
  }
  const std::vector<std::string> said = Said();
  ASSERT_EQ(said.size(), 4u);
  EXPECT_EQ(said[0], "VESKA: no network figures in " + roots_.proc +
                         "/net/dev; the network element stays silent\n");
  EXPECT_NE(said[1].find("no GPU reports its load"), std::string::npos);
  EXPECT_NE(said[2].find("no temperature sensor answers"), std::string::npos);
  EXPECT_NE(said[3].find("no battery in"), std::string::npos);

  // A source that comes and goes again says so again, once.
  Write("proc/net/dev", NetDev(1, 1));
  EXPECT_TRUE(Sensors().Read(Resource::kNetwork).available);
  Unreadable("proc/net/dev");
  EXPECT_FALSE(Sensors().Read(Resource::kNetwork).available);
  EXPECT_FALSE(Sensors().Read(Resource::kNetwork).available);
  EXPECT_EQ(Said().size(), 5u);
  // A new pack with the element prepares it again, and says it again.
  Sensors().Release(Resource::kGpu);
  Sensors().Prepare(Resource::kGpu);
  EXPECT_EQ(Said().size(), 6u);
}

TEST_F(LinuxSensorsTest, GpuIsTheBusiestDrmDeviceThatReports) {
  Write("sys/class/drm/card0/device/gpu_busy_percent", "35\n");
  Write("sys/class/drm/card1/device/gpu_busy_percent", "71\n");
  Write("sys/class/drm/card1-DP-1/device/gpu_busy_percent", "99\n");
  Write("sys/class/drm/renderD128/device/gpu_busy_percent", "99\n");
  Write("sys/class/drm/card2/device/vendor", "0x8086\n");  // reports none
  Sensors().Prepare(Resource::kGpu);
  EXPECT_EQ(Sensors().Read(Resource::kGpu).value, 71.0);
  Write("sys/class/drm/card1/device/gpu_busy_percent", "2\n");
  EXPECT_EQ(Sensors().Read(Resource::kGpu).value, 35.0);
  // One device failing leaves the other; both failing is nothing.
  Unreadable("sys/class/drm/card0/device/gpu_busy_percent");
  EXPECT_EQ(Sensors().Read(Resource::kGpu).value, 2.0);
  Write("sys/class/drm/card1/device/gpu_busy_percent", "busy\n");
  EXPECT_FALSE(Sensors().Read(Resource::kGpu).available);
  EXPECT_EQ(Said().size(), 1u);
}

TEST_F(LinuxSensorsTest, WithoutDrmFiguresTheManagementLibraryAnswers) {
  roots_.gpu_library = VESKA_FAKE_GPU_LIBRARY;
  testing::ScopedEnv busy("VESKA_FAKE_GPU_BUSY", "12,64");
  Sensors().Prepare(Resource::kGpu);
  ResourceReading reading = Sensors().Read(Resource::kGpu);
  EXPECT_TRUE(reading.available);
  EXPECT_EQ(reading.value, 64.0);
  testing::ScopedEnv busier("VESKA_FAKE_GPU_BUSY", "88,64");
  EXPECT_EQ(Sensors().Read(Resource::kGpu).value, 88.0);
  // Released, the library is closed and nothing answers until prepared.
  Sensors().Release(Resource::kGpu);
  EXPECT_FALSE(Sensors().Read(Resource::kGpu).available);
  Sensors().Prepare(Resource::kGpu);
  EXPECT_EQ(Sensors().Read(Resource::kGpu).value, 88.0);
  EXPECT_EQ(Said().size(), 1u) << "the read between said it once";
}

TEST_F(LinuxSensorsTest, TemperatureIsTheHottestThermalZone) {
  Write("sys/class/thermal/thermal_zone0/temp", "45000\n");
  Write("sys/class/thermal/thermal_zone1/temp", "71500\n");
  Write("sys/class/thermal/thermal_zone2/temp", "-273000\n");  // no probe
  Write("sys/class/thermal/cooling_device0/temp", "99000\n");
  Sensors().Prepare(Resource::kTemperature);
  EXPECT_EQ(Sensors().Read(Resource::kTemperature).value, 71.5);
  Write("sys/class/thermal/thermal_zone1/temp", "30250\n");
  EXPECT_EQ(Sensors().Read(Resource::kTemperature).value, 45.0);
  Unreadable("sys/class/thermal/thermal_zone0/temp");
  EXPECT_EQ(Sensors().Read(Resource::kTemperature).value, 30.25);
  Remove("sys/class/thermal");
  EXPECT_FALSE(Sensors().Read(Resource::kTemperature).available);
  EXPECT_FALSE(Sensors().Read(Resource::kTemperature).available);
  EXPECT_EQ(Said().size(), 1u);
}

TEST_F(LinuxSensorsTest, BatteryIsTheSystemsChargeAndWhetherMainsIsOn) {
  const std::string supply = "sys/class/power_supply/";
  Write(supply + "AC/type", "Mains\n");
  Write(supply + "AC/online", "0\n");
  Write(supply + "BAT0/type", "Battery\n");
  Write(supply + "BAT0/capacity", "80\n");
  Write(supply + "BAT0/status", "Discharging\n");
  // A wireless mouse's battery is not the system's.
  Write(supply + "hidpp_battery_0/type", "Battery\n");
  Write(supply + "hidpp_battery_0/scope", "Device\n");
  Write(supply + "hidpp_battery_0/capacity", "5\n");
  Sensors().Prepare(Resource::kBattery);
  ResourceReading reading = Sensors().Read(Resource::kBattery);
  EXPECT_TRUE(reading.available && !reading.on_mains);
  EXPECT_EQ(reading.value, 80.0);

  // Two batteries are their mean; plugged in, on mains.
  Write(supply + "BAT1/type", "Battery\n");
  Write(supply + "BAT1/capacity", "60\n");
  Write(supply + "AC/online", "1\n");
  reading = Sensors().Read(Resource::kBattery);
  EXPECT_TRUE(reading.on_mains);
  EXPECT_EQ(reading.value, 70.0);

  // Full is full whatever the gauge; without a mains supply, a battery
  // that is not discharging is on mains.
  Remove(supply + "BAT1");
  Remove(supply + "AC");
  Write(supply + "BAT0/capacity", "97\n");
  Write(supply + "BAT0/status", "Full\n");
  reading = Sensors().Read(Resource::kBattery);
  EXPECT_TRUE(reading.available && reading.on_mains);
  EXPECT_EQ(reading.value, 100.0);

  // A gauge that answers nonsense is no battery.
  Write(supply + "BAT0/capacity", "\n");
  reading = Sensors().Read(Resource::kBattery);
  EXPECT_FALSE(reading.available);
  EXPECT_TRUE(reading.on_mains);
  EXPECT_EQ(Said().size(), 1u);
}

TEST(LinuxSensorsRootsTest, TheSysRootComesFromTheEnvironmentWhenSet) {
  {
    testing::ScopedEnv root("VESKA_SYS_ROOT", "/tmp/fake-sys");
    EXPECT_EQ(LinuxResourceSensors::RootsFromEnvironment().sys,
              "/tmp/fake-sys");
  }
  testing::ScopedEnv none("VESKA_SYS_ROOT", nullptr);
  const Roots roots = LinuxResourceSensors::RootsFromEnvironment();
  EXPECT_EQ(roots.sys, "/sys");
  EXPECT_EQ(roots.proc, "/proc");
}

TEST(LinuxSensorsSystemTest, TheSystemsOwnSourcesReadWithoutFault) {
  // Whatever this machine has: libsensors' chips or none, a battery or none.
  std::FILE* messages = std::tmpfile();
  {
    LinuxResourceSensors sensors({}, {}, messages);
    for (Resource resource : {Resource::kNetwork, Resource::kGpu,
                              Resource::kTemperature, Resource::kBattery}) {
      sensors.Prepare(resource);
      const ResourceReading reading = sensors.Read(resource);
      EXPECT_TRUE(reading.value >= 0.0) << static_cast<int>(resource);
      sensors.Release(resource);
    }
  }
  std::fclose(messages);
}

}  // namespace
}  // namespace veska
