#include "prefs/preferences_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "prefs/preferences_store.h"

namespace veska {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

std::string_view TrimLeadingBlanks(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  return first == std::string_view::npos ? std::string_view()
                                         : text.substr(first);
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  size_t last = text.find_last_not_of(kBlanks);
  return last == std::string_view::npos ? std::string_view()
                                        : text.substr(0, last + 1);
}

std::string_view SkipWhiteSpace(std::string_view text) {
  size_t first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string_view()
                                         : text.substr(first);
}

void ParseLine(std::string_view line, std::vector<PreferenceEntry>* entries) {
  line = TrimLeadingBlanks(line);
  if (line.empty()) return;
  PreferenceEntry entry;
  if (line.front() == ';') {
    entry.kind = PreferenceKind::kComment;
    line.remove_prefix(1);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    entry.name = line;
  } else if (line.front() == '[') {
    entry.kind = PreferenceKind::kGroup;
    entry.name = line.substr(1, line.find(']', 1) - 1);
  } else {
    size_t equals = line.find('=');
    entry.name = TrimTrailingBlanks(line.substr(0, equals));
    if (equals != std::string_view::npos) {
      entry.value = TrimLeadingBlanks(line.substr(equals + 1));
    }
  }
  entries->push_back(std::move(entry));
}

// Rough decimal exponent of a number whose digits from_chars could not fit
// in a double; only its sign matters (overflow versus underflow).
int64_t DecimalMagnitude(std::string_view mantissa, int64_t exponent) {
  size_t point = mantissa.find('.');
  std::string_view whole = mantissa.substr(0, point);
  std::string_view fraction = point == std::string_view::npos
                                  ? std::string_view()
                                  : mantissa.substr(point + 1);
  size_t first = whole.find_first_not_of('0');
  if (first != std::string_view::npos) {
    return static_cast<int64_t>(whole.size() - first) + exponent;
  }
  size_t zeros = fraction.find_first_not_of('0');
  if (zeros == std::string_view::npos) zeros = fraction.size();
  return exponent - static_cast<int64_t>(zeros);
}

// Well-formed UTF-8 only: no overlong forms, surrogates or code points past
// U+10FFFF.
bool IsUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length = lead < 0xC2   ? 0
                    : lead < 0xE0 ? 2
                    : lead < 0xF0 ? 3
                    : lead < 0xF5 ? 4
                                  : 0;
    if (length == 0 || bytes.size() - i < length) return false;
    // The second byte's range depends on the lead; later ones are 80..BF.
    auto second = static_cast<unsigned char>(bytes[i + 1]);
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

}  // namespace

std::string DecodePreferencesBytes(std::string_view bytes, bool* utf8) {
  *utf8 = false;
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    *utf8 = true;
    bytes.remove_prefix(kUtf8Mark.size());
  }
  if (bytes.empty()) return std::string();
  // Without the mark, text that is well-formed UTF-8 was most likely written
  // so by hand (it is rare in ISO-8859-1: an accented capital followed by a
  // symbol); anything else is ISO-8859-1, every byte the character of its
  // code.
  if (*utf8 || IsUtf8(bytes)) {
    *utf8 = true;
    return std::string(bytes);
  }
  *utf8 = true;
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      text.push_back(c);
    } else {
      text.push_back(static_cast<char>(0xC0 | (b >> 6)));
      text.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return text;
}

std::vector<PreferenceEntry> ParsePreferencesText(std::string_view text) {
  std::vector<PreferenceEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    ParseLine(text.substr(start, end - start), &entries);
    start = text.find_first_not_of("\r\n", end);
    if (start == std::string_view::npos) break;
  }
  return entries;
}

std::string FormatPreferencesText(const std::vector<PreferenceEntry>& entries,
                                  bool utf8_mark) {
  std::string text;
  if (utf8_mark) {
    text.append(kUtf8Mark);
    text.append(kLineBreak);
  }
  for (const PreferenceEntry& entry : entries) {
    switch (entry.kind) {
      case PreferenceKind::kGroup:
        text.append("[").append(entry.name).append("]");
        break;
      case PreferenceKind::kComment:
        text.append("; ").append(entry.name);
        break;
      case PreferenceKind::kKey:
        text.append(entry.name).append(" = ").append(entry.value);
        break;
    }
    text.append(kLineBreak);
  }
  return text;
}

bool IsWritableGroupName(std::string_view name) {
  return name.find_first_of("\r\n]") == std::string_view::npos;
}

bool IsWritableKey(std::string_view key) {
  if (key.find_first_of("\r\n=") != std::string_view::npos) return false;
  if (key.empty()) return true;
  return kBlanks.find(key.back()) == std::string_view::npos &&
         std::string_view(" \t;[").find(key.front()) == std::string_view::npos;
}

bool IsWritableValue(std::string_view value) {
  return value.find_first_of("\r\n") == std::string_view::npos;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  return TrimTrailingBlanks(TrimLeadingBlanks(text));
}

int32_t ParseIntegerText(std::string_view text) {
  text = SkipWhiteSpace(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Past 2^31 the result is pinned, so further digits only need skipping.
  constexpr int64_t kCap = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    magnitude = std::min(kCap, magnitude * 10 + (c - '0'));
  }
  int64_t value = negative ? -magnitude : magnitude;
  return static_cast<int32_t>(
      std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max()));
}

std::string FormatIntegerText(int32_t value) { return std::to_string(value); }

std::string FormatFloatText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Infinity" : "-Infinity";
  char text[128];
  int length = std::snprintf(text, sizeof text, "%.64g", value);
  if (length < 0 || static_cast<size_t>(length) >= sizeof text) return "0";
  return std::string(text, static_cast<size_t>(length));
}

double ParseFloatText(std::string_view text) {
  if (EqualsIgnoringAsciiCase(text, "+Infinity")) {
    return std::numeric_limits<double>::infinity();
  }
  if (EqualsIgnoringAsciiCase(text, "-Infinity")) {
    return -std::numeric_limits<double>::infinity();
  }
  if (EqualsIgnoringAsciiCase(text, "NaN")) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  text = SkipWhiteSpace(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Only the plain decimal form counts: no "inf", "nan" or hexadecimal.
  auto digits_from = [&](size_t at) {
    while (at < text.size() && IsDigit(text[at])) ++at;
    return at;
  };
  size_t end = digits_from(0);
  size_t digits = end;
  if (end < text.size() && text[end] == '.') {
    size_t fraction_end = digits_from(end + 1);
    digits += fraction_end - end - 1;
    end = fraction_end;
  }
  if (digits == 0) return 0.0;
  std::string_view mantissa = text.substr(0, end);
  int64_t exponent = 0;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    size_t at = end + 1;
    bool exponent_negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      exponent_negative = text[at] == '-';
      ++at;
    }
    if (at < text.size() && IsDigit(text[at])) {
      for (; at < text.size() && IsDigit(text[at]); ++at) {
        exponent = std::min<int64_t>(exponent * 10 + (text[at] - '0'),
                                     int64_t{1} << 40);
      }
      if (exponent_negative) exponent = -exponent;
      end = at;
    }
  }
  double value = 0.0;
  auto [ptr, error] = std::from_chars(text.data(), text.data() + end, value,
                                      std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    value = DecimalMagnitude(mantissa, exponent) > 0
                ? std::numeric_limits<double>::infinity()
                : 0.0;
  } else if (error != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

}  // namespace veska
