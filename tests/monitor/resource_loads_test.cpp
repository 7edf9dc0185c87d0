// The optional resources' figures as loads, and their sampling.
#include "monitor/resource_loads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fake_resource_sensors.h"

namespace veska {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Case {
  Resource resource;
  ResourceReading reading;
  double load;
};

TEST(ResourceLoadTest, EachFigureMapsOntoItsScaleAndStaysWithin0To100) {
  const Case cases[] = {
      // A decade of bytes per second is a sixth of the range.
      {Resource::kNetwork, {true, 0}, 0},
      {Resource::kNetwork, {true, 999}, 0},
      {Resource::kNetwork, {true, 1e3}, 0},
      {Resource::kNetwork, {true, 1e4}, 100.0 / 6},
      {Resource::kNetwork, {true, 1e6}, 50},
      {Resource::kNetwork, {true, 1e9}, 100},
      {Resource::kNetwork, {true, 1e13}, 100},
      {Resource::kNetwork, {true, -5e6}, 0},
      {Resource::kNetwork, {true, kNaN}, 0},
      {Resource::kNetwork, {true, kInf}, 0},
      {Resource::kNetwork, {false, 1e6}, 0},
      {Resource::kGpu, {true, 42.5}, 42.5},
      {Resource::kGpu, {true, 130}, 100},
      {Resource::kGpu, {true, -1}, 0},
      {Resource::kGpu, {false, 80}, 0},
      {Resource::kTemperature, {true, 20}, 0},
      {Resource::kTemperature, {true, 30}, 0},
      {Resource::kTemperature, {true, 65}, 50},
      {Resource::kTemperature, {true, 100}, 100},
      {Resource::kTemperature, {true, 140}, 100},
      {Resource::kTemperature, {true, kNaN}, 0},
      {Resource::kTemperature, {false, 90}, 0},
      // An emptying battery grows louder; mains and full, or none, is quiet.
      {Resource::kBattery, {true, 80, false}, 20},
      {Resource::kBattery, {true, 5, false}, 95},
      {Resource::kBattery, {true, 60, true}, 40},
      {Resource::kBattery, {true, 100, true}, 0},
      {Resource::kBattery, {true, 100, false}, 0},
      {Resource::kBattery, {true, 120, false}, 0},
      {Resource::kBattery, {true, -3, false}, 100},
      {Resource::kBattery, {true, kNaN, false}, 0},
      {Resource::kBattery, {false, 0, false}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(ResourceLoad(c.resource, c.reading), c.load, 1e-9)
        << static_cast<int>(c.resource) << " " << c.reading.value << " "
        << c.reading.available;
  }
}

TEST(ResourceLoadTest, SamplingKeepsTheFigureAndTheLoadOfTheOneResourceRead) {
  MonitorState state;
  testing::FakeResourceSensors sensors;
  sensors.Set(Resource::kTemperature, 72.5);
  sensors.Set(Resource::kNetwork, 1e5);
  SampleResource(state, sensors, Resource::kTemperature);
  EXPECT_EQ(sensors.calls, std::vector<std::string>{"Read 2"});
  EXPECT_DOUBLE_EQ(state.ResourceFigures[2], 72.5);
  EXPECT_NEAR(state.ResourceLoads[2], 60.714, 1e-3);
  EXPECT_EQ(state.ResourceLoads[0], 0.0);  // not read

  // No battery to read is a full one, and silent; no GPU is 0.
  SampleResource(state, sensors, Resource::kBattery);
  SampleResource(state, sensors, Resource::kGpu);
  EXPECT_EQ(state.ResourceFigures[3], 100.0);
  EXPECT_EQ(state.ResourceLoads[3], 0.0);
  EXPECT_EQ(state.ResourceFigures[1], 0.0);
  // A source that stops answering takes its figure back to rest.
  SampleResource(state, sensors, Resource::kTemperature);
  sensors.readings[2].available = false;
  SampleResource(state, sensors, Resource::kTemperature);
  EXPECT_EQ(state.ResourceFigures[2], 0.0);
  EXPECT_EQ(state.ResourceLoads[2], 0.0);
}

}  // namespace
}  // namespace veska
