// The optional resources' figures as loads of 0..100, the same on every
// platform, and their sampling through the platform's ResourceSensors.
#ifndef VESKA_MONITOR_RESOURCE_LOADS_H_
#define VESKA_MONITOR_RESOURCE_LOADS_H_

#include "monitor/monitor_state.h"
#include "monitor/resource_sensors.h"

namespace veska {

// Network: 1 kB/s and less is 0, 1 GB/s and more 100, logarithmic between,
// so a trickle and a download both sound on any link. GPU: the percentage.
// Temperature: 30 degrees Celsius is 0, 100 is 100. Battery: 100 minus the
// charge, 0 on mains with a full battery. An unavailable reading is 0.
double ResourceLoad(Resource resource, const ResourceReading& reading);

// Reads `resource` once into the state's figure and load.
void SampleResource(MonitorState& state, ResourceSensors& sensors,
                    Resource resource);

}  // namespace veska

#endif  // VESKA_MONITOR_RESOURCE_LOADS_H_
