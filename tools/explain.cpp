#include "tools/explain.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <type_traits>

#include <fmt/format.h>

#include "lifter/lifter_settings.h"
#include "tools/key_text.h"
#include "vorn_io/config_keys.h"

namespace vorn_io::tool {
namespace {

using keys::Absent;
using keys::ConfigKey;
using keys::Type;

/// One key as a device reads it: the value it ends up with and why.
struct Reading {
  bool present = false;
  Origin origin = Origin::kDefault;
  std::string shown;
  double number = 0.0;
  std::string text;
  std::string detail;
};

/// How a device treats a key that is absent.
enum class Style {
  kTestFirst,  ///< the lifter and MotorAllocate: an absent key keeps the default
  kDirect,     ///< the gripper's loader: converts the absent node, which may raise
};

std::string DescribeNode(const YAML::Node& value) {
  switch (value.Type()) {
    case YAML::NodeType::Scalar:
      return fmt::format("\"{}\"", value.Scalar());
    case YAML::NodeType::Null:
      return "an empty value";
    case YAML::NodeType::Sequence:
      return "a sequence";
    case YAML::NodeType::Map:
      return "a map";
    default:
      return "nothing";
  }
}

template <typename T>
void Store(Reading& reading, const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    reading.text = value;
    reading.shown = value.empty() ? std::string("\"\"") : value;
  } else if constexpr (std::is_same_v<T, bool>) {
    reading.number = value ? 1.0 : 0.0;
    reading.shown = value ? "true" : "false";
  } else {
    reading.number = static_cast<double>(value);
    reading.shown = fmt::format("{}", value);
  }
}

/// Whether yaml-cpp's conversion accepts the value, which is exactly when
/// `as<T>(fallback)` does not fall back.
template <typename T>
bool Converts(const YAML::Node& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return value.IsScalar() || value.IsNull();
  } else {
    T probe{};
    return YAML::convert<T>::decode(value, probe);
  }
}

template <typename T>
Reading ReadAs(const YAML::Node& value, const ConfigKey& key, Style style) {
  Reading reading;
  reading.present = static_cast<bool>(value);
  if (!reading.present && (style == Style::kTestFirst || key.when_absent != Absent::kError)) {
    reading.origin = Origin::kDefault;
    if constexpr (std::is_same_v<T, std::string>) {
      Store(reading, std::string());
    } else {
      Store(reading, keys::AbsentValueOf<T>(key));
    }
    if (key.when_absent != Absent::kDefault) {
      reading.origin = Origin::kMissing;
      reading.shown.clear();
    }
    return reading;
  }
  if constexpr (!std::is_same_v<T, std::string>) {
    if (key.has_fallback) {
      Store(reading, value.as<T>(keys::FallbackOf<T>(key)));
      if (Converts<T>(value)) {
        reading.origin = Origin::kFile;
      } else {
        reading.origin = Origin::kFallback;
        reading.detail = fmt::format("the file has {}, which is not {}; the fallback is used silently",
                                     DescribeNode(value), TypeArticle(key.type));
      }
      return reading;
    }
  }
  try {
    Store(reading, value.as<T>());
    reading.origin = Origin::kFile;
  } catch (const YAML::Exception& error) {
    reading.origin = Origin::kError;
    reading.detail = reading.present
                         ? fmt::format("{} is not {}: {}", DescribeNode(value), TypeArticle(key.type), error.what())
                         : fmt::format("absent, and the load cannot do without it: {}", error.what());
  }
  if constexpr (std::is_same_v<T, std::string>) {
    if (reading.origin == Origin::kFile && value.IsNull()) {
      reading.origin = Origin::kReplaced;
      reading.detail = "an empty value reads as the text \"null\"";
    }
  }
  return reading;
}

Reading Read(const YAML::Node& map, const ConfigKey& key, Style style) {
  // Copied, never assigned: assigning a node handle writes into the document.
  std::optional<YAML::Node> found;
  try {
    found.emplace(map[key.name]);
  } catch (const YAML::Exception& error) {
    Reading reading;
    reading.origin = Origin::kError;
    reading.detail = fmt::format("the description is {}, not a map: {}", DescribeNode(map), error.what());
    return reading;
  }
  const YAML::Node& value = *found;
  switch (key.type) {
    case Type::kInt:
      return ReadAs<int>(value, key, style);
    case Type::kUnsigned:
      return ReadAs<unsigned int>(value, key, style);
    case Type::kFloat:
      return ReadAs<float>(value, key, style);
    case Type::kDouble:
      return ReadAs<double>(value, key, style);
    case Type::kBool:
      return ReadAs<bool>(value, key, style);
    case Type::kString:
      return ReadAs<std::string>(value, key, style);
  }
  return {};
}

Finding ToFinding(const ConfigKey& key, const Reading& reading) {
  return Finding{key.name, reading.shown, reading.origin, reading.detail};
}

/// Applies one of the lifter's replacement rules to a key read from the file.
void Replace(Finding& finding, float before, float after, const char* why) {
  if (finding.origin != Origin::kFile || (before == after && !std::isnan(before))) {
    return;
  }
  finding.origin = Origin::kReplaced;
  finding.value = fmt::format("{}", after);
  finding.detail = fmt::format("the file has {}; {}", before, why);
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0U : 1U)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

/// Keys of `map` that are not in `known`, each with the nearest known name.
void FlagUnknownKeys(const YAML::Node& map, const std::vector<std::string>& known, std::vector<Finding>& findings) {
  if (!map.IsMap()) {
    return;
  }
  for (const auto& entry : map) {
    const std::string key = entry.first.IsScalar() ? entry.first.Scalar() : std::string("<non-scalar key>");
    if (std::find(known.begin(), known.end(), key) != known.end()) {
      continue;
    }
    std::string detail = "no device reads this key; it is ignored";
    // One slip per three letters, at most two, so "x" suggests nothing and "maxpso" suggests "maxpos".
    const std::size_t slips = std::clamp<std::size_t>(key.size() / 3, 1, 2);
    for (const std::string& candidate : known) {
      if (EditDistance(key, candidate) <= slips) {
        detail += fmt::format(" (did you mean \"{}\"?)", candidate);
        break;
      }
    }
    findings.push_back(Finding{key, "", Origin::kUnknown, detail});
  }
}

std::string Lowered(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

/// The lifter's rules for settings that would start a move that never ends,
/// with the reasons a person is shown. They mirror the lifter's own.
void ApplyLifterRules(Explanation& explanation, Finding& maxpos, Finding& freq, Finding& speed) {
  LifterMotion& motion = explanation.motion;
  const float read_maxpos = motion.maxpos;
  motion.maxpos = vorn_io::lifter::NormaliseMaxpos(read_maxpos);
  const char* why = read_maxpos < 0.0F ? "a negative travel counts as its magnitude" : "the travel is at most 480";
  if (!std::isfinite(motion.maxpos)) {
    motion.maxpos = keys::FallbackOf<float>(keys::lifter::kMaxpos);
    why = "a travel that is not finite would never end the move";
  }
  Replace(maxpos, read_maxpos, motion.maxpos, why);
  if (motion.freq == 0) {
    motion.freq = keys::FallbackOf<unsigned int>(keys::lifter::kFreq);
    Replace(freq, 0.0F, static_cast<float>(motion.freq), "a frequency of 0 gives no tick interval");
  }
  if (motion.freq > vorn_io::lifter::kMaxFreq) {
    const auto read_freq = static_cast<float>(motion.freq);
    motion.freq = vorn_io::lifter::kMaxFreq;
    Replace(freq, read_freq, static_cast<float>(motion.freq), "the lifter ticks at most once a millisecond");
  }
  if (motion.speed == 0.0F || !std::isfinite(motion.speed)) {
    const float read_speed = motion.speed;
    motion.speed = keys::FallbackOf<float>(keys::lifter::kSpeed);
    Replace(speed, read_speed, motion.speed, "a speed that is 0 or not finite would never end the move");
  }
  if (!vorn_io::lifter::RampEnds(vorn_io::lifter::StepOf(motion.speed, motion.freq, true), motion.maxpos)) {
    explanation.findings.push_back(
        Finding{"speed/freq", "", Origin::kMissing,
                fmt::format("a step of {} per tick (speed / freq) is lost in the rounding before the ramp covers {}; "
                            "the lifter refuses every move",
                            vorn_io::lifter::StepOf(motion.speed, motion.freq, true), motion.maxpos)});
  }
}

std::vector<std::string> NamesOf(std::initializer_list<const ConfigKey* const*> begins,
                                 std::initializer_list<std::size_t> counts) {
  std::vector<std::string> names;
  auto count = counts.begin();
  for (const ConfigKey* const* table : begins) {
    for (std::size_t i = 0; i < *count; ++i) {
      names.emplace_back(table[i]->name);
    }
    ++count;
  }
  return names;
}

}  // namespace

unsigned long long LifterMotion::Ticks() const {
  const float step = vorn_io::lifter::StepOf(speed, freq, true);
  if (!vorn_io::lifter::RampEnds(step, maxpos)) {
    return 0;
  }
  // The lifter accumulates in single precision; so does this count, up to
  // the point where the closed form is as good.
  constexpr unsigned long long kCountedTicks = 10'000'000ULL;
  float position = 0.0F;
  for (unsigned long long tick = 1; tick <= kCountedTicks; ++tick) {
    position += step;
    if (std::fabs(position) > maxpos) {
      return tick;
    }
  }
  return static_cast<unsigned long long>(std::floor(static_cast<double>(maxpos) / static_cast<double>(step))) + 1;
}

double LifterMotion::PeriodMs() const { return vorn_io::lifter::TickPeriod(std::max(freq, 1U)).count(); }

double LifterMotion::Seconds() const {
  // The lifter keeps the period exact, fractions of a millisecond included.
  return static_cast<double>(Ticks()) * PeriodMs() / 1000.0;
}

bool Explanation::HasError() const {
  return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.origin == Origin::kError; });
}

std::size_t Explanation::FlaggedCount() const {
  return static_cast<std::size_t>(
      std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.Flagged(); }));
}

Explanation ExplainLifter(const YAML::Node& node) {
  namespace lk = keys::lifter;
  namespace mk = keys::motor;
  Explanation explanation;
  explanation.device = "lifter";
  std::vector<Finding>& findings = explanation.findings;
  std::set<std::string> shown;

  Finding maxpos;
  Finding freq;
  Finding speed;
  for (const ConfigKey* key : lk::kAll) {
    const Reading reading = Read(node, *key, Style::kTestFirst);
    Finding finding = ToFinding(*key, reading);
    if (key == &lk::kMaxpos) {
      explanation.motion.maxpos = static_cast<float>(reading.number);
      maxpos = finding;
    } else if (key == &lk::kFreq) {
      explanation.motion.freq = static_cast<unsigned>(reading.number);
      freq = finding;
    } else if (key == &lk::kSpeed) {
      explanation.motion.speed = static_cast<float>(reading.number);
      speed = finding;
    } else {
      findings.push_back(finding);
    }
    shown.insert(key->name);
    if (reading.origin == Origin::kError) {
      // The constructor stops at the first exception (only the keys without a
      // fallback, which come first, can raise one); nothing after it counts.
      return explanation;
    }
  }
  ApplyLifterRules(explanation, maxpos, freq, speed);
  findings.insert(findings.end(), {maxpos, freq, speed});

  // The motor: a null node, a missing vendor or another vendor leave the lifter without one.
  std::string vendor;
  if (node.IsNull()) {
    findings.push_back(Finding{mk::kVendor.name, "", Origin::kMissing,
                               "the description is empty: no motor, the lifter refuses every move"});
  } else {
    const Reading reading = Read(node, mk::kVendor, Style::kTestFirst);
    Finding finding = ToFinding(mk::kVendor, reading);
    if (reading.origin == Origin::kMissing) {
      finding.detail = "no vendor: no motor, the lifter refuses every move";
    } else if (reading.origin == Origin::kError) {
      findings.push_back(finding);
      return explanation;
    } else {
      vendor = Lowered(reading.text);
      finding.value = vendor;
      if (vendor != "damiao" && vendor != "feetech") {
        finding.origin = Origin::kMissing;
        finding.detail = fmt::format("unknown vendor {}: no motor, the lifter refuses every move",
                                     DescribeNode(node[mk::kVendor.name]));
        vendor.clear();
      }
    }
    findings.push_back(finding);
  }
  explanation.motion.has_motor = !vendor.empty();
  explanation.device = vendor.empty() ? std::string("lifter without a motor") : "lifter with a " + vendor + " motor";

  for (const ConfigKey* key : mk::kAll) {
    if (key == &mk::kVendor || shown.count(key->name) != 0) {
      continue;
    }
    const bool for_this_motor = *key->vendor == '\0' || key->vendor == vendor;
    if (!for_this_motor || vendor.empty()) {
      if (node.IsMap() && node[key->name]) {
        findings.push_back(Finding{key->name, "", Origin::kIgnored,
                                   vendor.empty() ? std::string("there is no motor to read it")
                                                  : fmt::format("only a {} motor reads it", key->vendor)});
      }
      continue;
    }
    const Reading reading = Read(node, *key, Style::kTestFirst);
    findings.push_back(ToFinding(*key, reading));
    if (reading.origin == Origin::kError) {
      return explanation;
    }
  }
  FlagUnknownKeys(node, NamesOf({lk::kAll, mk::kAll}, {std::size(lk::kAll), std::size(mk::kAll)}), findings);
  return explanation;
}

Explanation ExplainGripper(const YAML::Node& node) {
  namespace gk = keys::gripper;
  Explanation explanation;
  explanation.device = "gripper";
  std::vector<Finding>& findings = explanation.findings;
  bool stopped = false;
  for (const ConfigKey* key : gk::kAll) {
    if (stopped) {
      findings.push_back(Finding{key->name, "", Origin::kNotRead, "the load stopped at the error above"});
      continue;
    }
    const Reading reading = Read(node, *key, Style::kDirect);
    Finding finding = ToFinding(*key, reading);
    if (key == &gk::kId && reading.origin == Origin::kFile && reading.number < 0) {
      // Stored unsigned, with its bits unchanged.
      finding.origin = Origin::kReplaced;
      finding.value = std::to_string(static_cast<std::uint32_t>(static_cast<int>(reading.number)));
      finding.detail = fmt::format("the file has {}; a negative id is stored unsigned", reading.shown);
    }
    findings.push_back(finding);
    stopped = reading.origin == Origin::kError;
  }
  FlagUnknownKeys(node, NamesOf({gk::kAll}, {std::size(gk::kAll)}), findings);
  return explanation;
}

}  // namespace vorn_io::tool
