// The busiest GPU's utilisation: "gpu_busy_percent" of the DRM devices under
// the /sys root that offer it, else the vendor's management library opened
// at run time when it is installed (never a build or package dependency).
#ifndef VESKA_MONITOR_LINUX_GPU_LOAD_H_
#define VESKA_MONITOR_LINUX_GPU_LOAD_H_

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "monitor/linux/sysfs_text.h"
#include "monitor/resource_sensors.h"

namespace veska {

class GpuLoad {
 public:
  // `library` is the management library's file name, looked for as the
  // dynamic loader looks for any.
  GpuLoad(const std::string& sys_root, std::string library,
          std::FILE* messages);
  ~GpuLoad();
  GpuLoad(const GpuLoad&) = delete;
  GpuLoad& operator=(const GpuLoad&) = delete;

  // Finds the sources; says once when none reports.
  void Prepare();
  void Release();
  ResourceReading Read();

 private:
  class ManagementLibrary;

  std::string drm_folder_;
  std::string library_name_;
  SilenceNotice notice_;
  std::vector<std::string> busy_files_;
  std::unique_ptr<ManagementLibrary> library_;
};

}  // namespace veska

#endif  // VESKA_MONITOR_LINUX_GPU_LOAD_H_
