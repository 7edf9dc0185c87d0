#include "monitor/remote/prometheus_reader.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace veska {
namespace {

using Json = nlohmann::json;

// The parser recurses per level: a hostile answer of nested brackets must
// not reach it.
bool NestsTooDeep(std::string_view body) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

// Values come as strings ("0.35", "NaN", "+Inf"); only finite ones count.
bool ReadNumber(const Json& text, double* value) {
  if (!text.is_string()) return false;
  const std::string& s = text.get_ref<const std::string&>();
  const char* begin = s.data();
  if (!s.empty() && s[0] == '+') ++begin;
  const auto [end, error] = std::from_chars(begin, s.data() + s.size(), *value);
  return error == std::errc() && end == s.data() + s.size() &&
         std::isfinite(*value);
}

bool ReadPoint(const Json& point, double* time, double* value) {
  if (!point.is_array() || point.size() != 2 || !point[0].is_number()) {
    return false;
  }
  *time = point[0].get<double>();
  return ReadNumber(point[1], value);
}

std::string InstanceOf(const Json& series) {
  const auto metric = series.find("metric");
  if (metric == series.end() || !metric->is_object()) return {};
  const auto instance = metric->find("instance");
  if (instance == metric->end() || !instance->is_string()) return {};
  return instance->get<std::string>();
}

// The "data" object of a successful answer of `type`, or null with `error`.
const Json* SuccessData(const Json& answer, const char* type,
                        std::string* error) {
  if (!answer.is_object()) {
    *error = "not an answer of the query API";
    return nullptr;
  }
  const auto status = answer.find("status");
  if (status == answer.end() || !status->is_string()) {
    *error = "not an answer of the query API";
    return nullptr;
  }
  if (*status != "success") {
    const auto kind = answer.find("errorType");
    *error = "query refused";
    if (kind != answer.end() && kind->is_string() && kind->size() < 40) {
      *error += " (" + kind->get<std::string>() + ")";
    }
    return nullptr;
  }
  const auto data = answer.find("data");
  if (data == answer.end() || !data->is_object()) {
    *error = "answer without data";
    return nullptr;
  }
  const auto result_type = data->find("resultType");
  const auto result = data->find("result");
  if (result_type == data->end() || result == data->end() ||
      !result_type->is_string() || *result_type != type) {
    *error = std::string("not a ") + type + " answer";
    return nullptr;
  }
  return &*data;
}

bool Parse(std::string_view body, Json* answer, std::string* error) {
  if (NestsTooDeep(body)) {
    *error = "answer nested too deep";
    return false;
  }
  *answer = Json::parse(body, nullptr, false);
  if (answer->is_discarded()) {
    *error = "malformed answer";
    return false;
  }
  return true;
}

bool ReadScalar(const Json& result, std::vector<InstantValue>* values,
                std::string* error) {
  double time = 0.0, value = 0.0;
  if (!ReadPoint(result, &time, &value)) {
    *error = "malformed value";
    return false;
  }
  values->push_back({"", value});
  return true;
}

}  // namespace

bool ReadInstantAnswer(std::string_view body, std::vector<InstantValue>* values,
                       std::string* error) {
  values->clear();
  Json answer;
  if (!Parse(body, &answer, error)) return false;
  const Json* data = SuccessData(answer, "vector", error);
  if (data == nullptr) {
    std::string scalar_error;
    data = SuccessData(answer, "scalar", &scalar_error);
    if (data == nullptr) return false;
    error->clear();
    return ReadScalar((*data)["result"], values, error);
  }
  const Json& result = (*data)["result"];
  if (!result.is_array() || result.size() > kMaxSeries) {
    *error = "malformed result";
    return false;
  }
  for (const Json& series : result) {
    double time = 0.0, value = 0.0;
    const auto point = series.is_object() ? series.find("value") : series.end();
    if (point == series.end() || !ReadPoint(*point, &time, &value)) {
      // NaN from a division by zero says nothing about that host.
      if (point != series.end() && point->is_array() && point->size() == 2 &&
          (*point)[1].is_string()) {
        continue;
      }
      values->clear();
      *error = "malformed series";
      return false;
    }
    values->push_back({InstanceOf(series), value});
  }
  return true;
}

bool ReadRangeAnswer(std::string_view body, std::vector<RangeSeries>* series,
                     std::string* error) {
  series->clear();
  Json answer;
  if (!Parse(body, &answer, error)) return false;
  const Json* data = SuccessData(answer, "matrix", error);
  if (data == nullptr) return false;
  const Json& result = (*data)["result"];
  if (!result.is_array() || result.size() > kMaxSeries) {
    *error = "malformed result";
    return false;
  }
  for (const Json& entry : result) {
    const auto values = entry.is_object() ? entry.find("values") : entry.end();
    if (values == entry.end() || !values->is_array()) {
      series->clear();
      *error = "malformed series";
      return false;
    }
    RangeSeries read{InstanceOf(entry), {}};
    for (const Json& point : *values) {
      double time = 0.0, value = 0.0;
      if (ReadPoint(point, &time, &value))
        read.points.emplace_back(time, value);
    }
    series->push_back(std::move(read));
  }
  return true;
}

}  // namespace veska
