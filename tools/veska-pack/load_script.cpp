#include "load_script.h"

#include <cmath>
#include <cstdlib>

#include "soundpack/resource_elements.h"

namespace veska::pack {
namespace {

// A whole preview is at most ten minutes: its mix is held in memory.
constexpr double kMaxSeconds = 600;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<double> Number(const std::string& text, double lowest,
                             double highest) {
  const std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(value) || value < lowest ||
      value > highest) {
    return std::nullopt;
  }
  return value;
}

std::optional<LoadValue> ParseValue(const std::string& text) {
  LoadValue value;
  std::size_t at = text.find("..");
  std::size_t width = 2;
  if (at != std::string::npos) {
    value.kind = LoadValue::kRamp;
  } else if ((at = text.find('/')) != std::string::npos) {
    value.kind = LoadValue::kBursts;
    width = 1;
  }
  const auto from = Number(text.substr(0, at), 0, 100);
  if (!from) return std::nullopt;
  value.from = value.to = *from;
  if (at != std::string::npos) {
    const auto to = Number(text.substr(at + width), 0, 100);
    if (!to) return std::nullopt;
    value.to = *to;
  }
  return value;
}

LoadValue Hold(const LoadValue& previous, double seconds) {
  LoadValue held;
  held.from = held.to = previous.At(seconds, seconds);
  return held;
}

// The optional element a load key names ("net", "gpu", ...), by index.
std::optional<std::size_t> ResourceNamed(const std::string& key) {
  for (const ResourceElement& row : kResourceElements) {
    if (key == row.name) return IndexOf(row.resource);
  }
  return std::nullopt;
}

}  // namespace

double LoadValue::At(double t, double phase_seconds) const {
  switch (kind) {
    case kLevel:
      return from;
    case kRamp:
      return phase_seconds > 0 ? from + (to - from) * t / phase_seconds : to;
    case kBursts:
      return static_cast<long long>(std::floor(t)) % 2 == 0 ? from : to;
  }
  return from;
}

LoadScript LoadScript::Default(int cores) {
  std::string spec =
      "idle@10:cpu=2,ram=30,disk=0;one core busy@10:cpu0=100;"
      "every core busy@10:cpu=100;RAM rising@10:cpu=2,ram=30..90;"
      "disk bursts@10:disk=90/0;idle@10:cpu=2,ram=30,disk=0";
  std::string unused;
  return *Parse(spec, cores, &unused);
}

std::optional<LoadScript> LoadScript::Parse(const std::string& spec, int cores,
                                            std::string* error) {
  LoadScript script;
  Phase previous;
  previous.cores.assign(cores, LoadValue{});
  double total = 0;
  for (const std::string& text : Split(spec, ';')) {
    const std::string phase_text = Trim(text);
    const std::string where = "load phase \"" + phase_text + "\": ";
    const std::size_t colon = phase_text.find(':');
    if (colon == std::string::npos) {
      *error = where + "expected [NAME@]SECONDS:SETTINGS";
      return std::nullopt;
    }
    Phase phase;
    std::string head = phase_text.substr(0, colon);
    const std::size_t name_end = head.find('@');
    if (name_end != std::string::npos) {
      phase.name = Trim(head.substr(0, name_end));
      head = head.substr(name_end + 1);
    }
    const auto seconds = Number(head, 0.001, kMaxSeconds);
    if (!seconds) {
      *error = where + "the length must be 0.001 to 600 seconds";
      return std::nullopt;
    }
    phase.seconds = *seconds;
    total += phase.seconds;
    for (int n = 0; n < cores; ++n) {
      phase.cores.push_back(Hold(previous.cores[n], previous.seconds));
    }
    phase.ram = Hold(previous.ram, previous.seconds);
    phase.disk = Hold(previous.disk, previous.seconds);
    for (std::size_t r = 0; r < phase.resources.size(); ++r) {
      phase.resources[r] = Hold(previous.resources[r], previous.seconds);
    }

    const std::string settings = Trim(phase_text.substr(colon + 1));
    for (const std::string& set :
         settings.empty() ? std::vector<std::string>{} : Split(settings, ',')) {
      const std::size_t equals = set.find('=');
      const std::string key = Trim(set.substr(0, equals));
      const auto value = equals == std::string::npos
                             ? std::nullopt
                             : ParseValue(set.substr(equals + 1));
      if (!value) {
        *error = where + "\"" + Trim(set) +
                 "\": expected KEY=P, KEY=P..Q or KEY=P/Q with loads of 0 to "
                 "100";
        return std::nullopt;
      }
      if (key == "cpu") {
        phase.cores.assign(cores, *value);
      } else if (key == "ram") {
        phase.ram = *value;
      } else if (key == "disk") {
        phase.disk = *value;
      } else if (const auto resource = ResourceNamed(key)) {
        phase.resources[*resource] = *value;
      } else if (key.rfind("cpu", 0) == 0 && key.size() > 3 &&
                 key.find_first_not_of("0123456789", 3) == std::string::npos &&
                 key.size() < 8 && std::stoi(key.substr(3)) < cores) {
        phase.cores[std::stoi(key.substr(3))] = *value;
      } else {
        *error = where + "unknown load \"" + key + "\" (cpu, cpu0 to cpu" +
                 std::to_string(cores - 1) +
                 ", ram, disk, net, gpu, temp, battery)";
        return std::nullopt;
      }
    }
    script.phases_.push_back(phase);
    previous = phase;
  }
  if (total > kMaxSeconds) {
    *error = "the load script is longer than ten minutes";
    return std::nullopt;
  }
  return script;
}

LoadScript LoadScript::FromPoints(const std::vector<LoadPoint>& points,
                                  double seconds) {
  LoadScript script;
  const auto ramp = [](double from, double to) {
    return LoadValue{LoadValue::kRamp, from, to};
  };
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    const LoadPoint& from = points[i];
    const LoadPoint& to = points[i + 1];
    Phase phase;
    phase.seconds = seconds;
    for (std::size_t n = 0; n < points[0].cores.size(); ++n) {
      phase.cores.push_back(ramp(n < from.cores.size() ? from.cores[n] : 0,
                                 n < to.cores.size() ? to.cores[n] : 0));
    }
    phase.ram = ramp(from.ram, to.ram);
    phase.disk = ramp(from.disk, to.disk);
    script.phases_.push_back(phase);
  }
  return script;
}

double LoadScript::Seconds() const {
  double total = 0;
  for (const Phase& p : phases_) total += p.seconds;
  return total;
}

LoadPoint LoadScript::At(double seconds) const {
  LoadPoint point;
  double start = 0;
  for (std::size_t i = 0; i < phases_.size(); ++i) {
    const Phase& p = phases_[i];
    const bool last = i + 1 == phases_.size();
    if (seconds < start + p.seconds || last) {
      const double t = std::min(seconds - start, p.seconds);
      for (const LoadValue& core : p.cores) {
        point.cores.push_back(core.At(t, p.seconds));
      }
      point.ram = p.ram.At(t, p.seconds);
      point.disk = p.disk.At(t, p.seconds);
      for (std::size_t r = 0; r < p.resources.size(); ++r) {
        point.resources[r] = p.resources[r].At(t, p.seconds);
      }
      return point;
    }
    start += p.seconds;
  }
  return point;
}

}  // namespace veska::pack
