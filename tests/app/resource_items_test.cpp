// The optional elements in the running program: their menu items, settings
// keys and tooltip parts only with a pack that has them, and the sensors
// prepared, read and released as packs come and go.
#include <gmock/gmock.h>

#include "app/resource_items.h"
#include "app_rig.h"
#include "fake_resource_sensors.h"

namespace veska::testing {
namespace {

class ResourceItemsTest : public AppTest {
 protected:
  ResourceItemsTest() {
    MakePack("all",
             "RAMSoundMode=0\nNetSoundMode=0\nGPUSoundMode=2\nTempSoundMode=1",
             "cpu ram net gpu_a gpu_b temp battery");
    MakePack("battery", "RAMSoundMode=0", "cpu ram battery");
    state.services.sensors = &sensors;
  }
  std::string Items() {
    std::string items;
    for (const auto& item : shell.menu()) {
      if (item.submenu != "Elements") continue;
      items += std::to_string(item.id) + " " + item.text +
               (item.checked ? " *" : "") + "\n";
    }
    return items;
  }
  static std::string Saved(const std::string& pack, const std::string& more) {
    return "\xEF\xBB\xBF\r\n[Settings]\r\nPath = " + pack +
           "\r\nVolume = 0.5\r\nPlayRAM = 1\r\nPlayCPU = 1\r\nPlayDisk = 1\r\n"
           "RefreshTime = 500\r\nKeyboardMode = 0\r\nKeyboardModifiers = 6\r\n"
           "KeyboardKey = 122\r\n" +
           more;
  }

  FakeResourceSensors sensors;
};

TEST_F(ResourceItemsTest, APackWithEveryElementShowsSavesAndSwitchesThem) {
  WriteSettings(Pack("all"), "Volume = 0.5\nPlayGPU = 0\n");
  sensors.Set(Resource::kNetwork, 1e6);
  sensors.Set(Resource::kGpu, 12.5);
  sensors.Set(Resource::kTemperature, 64.5);
  sensors.Set(Resource::kBattery, 81, false);
  At(100, [&] {
    EXPECT_TRUE(Playing("net") && Playing("temp") && Playing("battery"));
    EXPECT_TRUE(Live("gpu_a").at(0)->play_count == 0) << "PlayGPU = 0";
  });
  shell.QueueMenuChoice(5500, kMenuNetwork);
  shell.QueueMenuChoice(5600, kMenuGpu);
  At(5700, [&] {
    EXPECT_FALSE(Live("net").at(0)->playing);
    EXPECT_TRUE(Playing("gpu_a") && Playing("gpu_b"));
  });
  shell.QueueMenuChoice(6000, kMenuExit);
  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Items(),
            "7 CPU *\n8 RAM *\n21 Network\n22 GPU *\n23 Temperature *\n"
            "24 Battery *\n");
  EXPECT_EQ(Read("settings.ini"),
            Saved(Pack("all"),
                  "PlayNetwork = 0\r\nPlayGPU = 1\r\nPlayTemperature = 1\r\n"
                  "PlayBattery = 1\r\n"));
  EXPECT_EQ(shell.tooltips().at(1),
            "VESKA - AVG CPU: 0% - RAM: 75% - Disk: 0 - Net: 50% - GPU: 12% - "
            "Temp: 64\xC2\xB0"
            "C - Battery: 81%");
  // Prepared once, before the first read; read at each sample; released at
  // the end.
  EXPECT_THAT(
      std::vector<std::string>(sensors.calls.begin(),
                               sensors.calls.begin() + 8),
      ::testing::ElementsAre("Prepare 0", "Prepare 1", "Prepare 2", "Prepare 3",
                             "Read 0", "Read 1", "Read 2", "Read 3"));
  EXPECT_EQ(sensors.Count("Read 2"), sensors.Count("Read 0"));
  EXPECT_GE(sensors.Count("Read 0"), 10);
  EXPECT_EQ(sensors.Count("Release 0") + sensors.Count("Release 3"), 2);
}

TEST_F(ResourceItemsTest, PacksComeAndGoAndTheSensorsFollow) {
  // From a pack with only the battery to one with none: the battery's
  // sensor is released, nothing is read any more, and the settings are the
  // nine classic keys again.
  WriteSettings(Pack("battery"), "Volume = 0.5\nPlayNetwork = 0\n");
  sensors.Set(Resource::kBattery, 30, false);
  sensors.Set(Resource::kNetwork, 1e8);
  At(5300, [&] {
    EXPECT_EQ(Items(), "7 CPU *\n8 RAM *\n24 Battery *\n");
    EXPECT_EQ(shell.tooltips().at(1),
              "VESKA - AVG CPU: 0% - RAM: 75% - Disk: 0 - Battery: 30%");
    EXPECT_EQ(sensors.calls.at(0), "Prepare 3");
    EXPECT_EQ(sensors.Count("Read 3"),
              static_cast<int>(sensors.calls.size()) - 1);
    EXPECT_GE(sensors.Count("Read 3"), 8);
    sensors.calls.clear();
  });
  shell.QueueMenuChoice(5400, kMenuVolume50);
  At(5450, [&] {
    EXPECT_EQ(Read("settings.ini"),
              Saved(Pack("battery"), "PlayBattery = 1\r\n"));
  });
  shell.AnswerFolder(Pack("avg"));
  shell.QueueMenuChoice(5500, kMenuLoadSoundpack);
  shell.QueueMenuChoice(9000, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sensors.calls, std::vector<std::string>{"Release 3"});
  EXPECT_EQ(Read("settings.ini"), Saved(Pack("avg"), ""));
}

}  // namespace
}  // namespace veska::testing
