// The preview's load script: what each kind of value gives over a phase, and
// what a phase that leaves a load unset carries on with.
#include <gtest/gtest.h>

#include "load_script.h"

namespace veska::pack {
namespace {

TEST(LoadScriptTest, LevelsRampsAndBurstsCarryOnAcrossPhases) {
  std::string error;
  const auto script = LoadScript::Parse(
      "warm@4:cpu=10,ram=20..60,disk=90/0; hot @ 2.5 : cpu1=100 ;4:", 3,
      &error);
  ASSERT_TRUE(script) << error;
  ASSERT_EQ(script->phases().size(), 3u);
  EXPECT_EQ(script->phases()[0].name, "warm");
  EXPECT_EQ(script->phases()[1].name, "hot");
  EXPECT_DOUBLE_EQ(script->Seconds(), 10.5);

  const LoadPoint ramp = script->At(1.0);
  EXPECT_EQ(ramp.cores, (std::vector<double>{10, 10, 10}));
  EXPECT_DOUBLE_EQ(ramp.ram, 30);
  EXPECT_DOUBLE_EQ(script->At(0.5).disk, 90);
  EXPECT_DOUBLE_EQ(ramp.disk, 0);
  EXPECT_DOUBLE_EQ(script->At(2.5).disk, 90);
  EXPECT_DOUBLE_EQ(script->At(3.9).ram, 59);

  // The next phases hold the ramp's end, and one core changes alone.
  const LoadPoint hot = script->At(5.0);
  EXPECT_EQ(hot.cores, (std::vector<double>{10, 100, 10}));
  EXPECT_DOUBLE_EQ(hot.ram, 60);
  EXPECT_DOUBLE_EQ(script->At(9.0).cores[1], 100);
  EXPECT_DOUBLE_EQ(script->At(60).ram, 60);

  EXPECT_EQ(LoadScript::Default(4).Seconds(), 60);
  EXPECT_EQ(LoadScript::Default(4).At(15).cores,
            (std::vector<double>{100, 2, 2, 2}));
}

TEST(LoadScriptTest, TheOptionalElementsTakeLoadsAsTheOthersDo) {
  std::string error;
  const auto script = LoadScript::Parse(
      "4:net=10..50,temp=80;2:battery=5/95,gpu=30", 2, &error);
  ASSERT_TRUE(script) << error;
  // Network, GPU, temperature, battery.
  EXPECT_EQ(script->At(2).resources, (std::array<double, 4>{30, 0, 80, 0}));
  EXPECT_EQ(script->At(4.5).resources, (std::array<double, 4>{50, 30, 80, 5}));
  EXPECT_EQ(script->At(5.5).resources[3], 95);
  EXPECT_EQ(LoadScript::Default(2).At(30).resources, (std::array<double, 4>{}));
}

TEST(LoadScriptTest, MalformedScriptsSayWhatIsWrong) {
  for (const char* spec :
       {"", "5", "x:cpu=1", "0:cpu=1", "5:cpu3=1", "5:cpu=1..", "5:cpu=-1",
        "5:fan=1", "5:cpu", "601:cpu=1", "300:;301:", "5:net=101"}) {
    std::string error;
    EXPECT_FALSE(LoadScript::Parse(spec, 3, &error)) << spec;
    EXPECT_FALSE(error.empty()) << spec;
  }
}

}  // namespace
}  // namespace veska::pack
