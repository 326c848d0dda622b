// The description readers: the rules a device reads its description with,
// and the account they give of every key.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "vorn_io/description.h"

namespace {

using testing::HasSubstr;
using vorn_io::DescriptionKind;
using vorn_io::KeyAccount;
using vorn_io::KeyOrigin;

const KeyAccount& Entry(const vorn_io::DescriptionAccount& account, const std::string& key) {
  const KeyAccount* entry = account.Find(key);
  EXPECT_NE(entry, nullptr) << key;
  static const KeyAccount kNone;
  return entry != nullptr ? *entry : kNone;
}

std::optional<int> LineOf(const KeyAccount& entry) {
  return entry.position ? std::optional<int>(entry.position->line) : std::nullopt;
}

struct RampCase {
  const char* yaml;
  float maxpos;
  unsigned freq;
  float speed;
  KeyOrigin maxpos_from;
  KeyOrigin freq_from;
  KeyOrigin speed_from;
  bool logged;  ///< a value the lifter replaces with an error line
};

TEST(DescriptionReaders, LifterRulesGiveWhatTheLifterRunsWith) {
  const std::vector<RampCase> cases = {
      {"{vendor: damiao}", 450.0F, 10, 1.5707964F, KeyOrigin::kDefault, KeyOrigin::kDefault, KeyOrigin::kDefault,
       false},
      {"{vendor: damiao, maxpos: -600, freq: 0, speed: 0}", 600.0F, 10, 3.14F, KeyOrigin::kReplaced,
       KeyOrigin::kReplaced, KeyOrigin::kReplaced, true},
      {"{vendor: damiao, maxpos: 600, freq: -5, speed: .nan}", 480.0F, 10, 3.14F, KeyOrigin::kReplaced,
       KeyOrigin::kFallback, KeyOrigin::kReplaced, true},
      {"{vendor: damiao, maxpos: .inf, freq: 20, speed: fast}", 480.0F, 20, 3.14F, KeyOrigin::kReplaced,
       KeyOrigin::kFile, KeyOrigin::kFallback, false},
      {"{vendor: damiao, maxpos: -.inf, freq: 5.5, speed: -2}", 450.0F, 10, -2.0F, KeyOrigin::kReplaced,
       KeyOrigin::kFallback, KeyOrigin::kSuspect, true},
      {"{vendor: damiao, maxpos: abc, freq: 2000, speed: 4}", 450.0F, 1000, 4.0F, KeyOrigin::kFallback,
       KeyOrigin::kReplaced, KeyOrigin::kFile, true},
  };
  for (const RampCase& c : cases) {
    SCOPED_TRACE(c.yaml);
    const vorn_io::LifterReading reading = vorn_io::ReadLifterDescription(YAML::Load(c.yaml));
    EXPECT_FALSE(reading.error);
    EXPECT_EQ(reading.settings.maxpos, c.maxpos);
    EXPECT_EQ(reading.settings.freq, c.freq);
    EXPECT_EQ(reading.settings.speed, c.speed);
    EXPECT_EQ(Entry(reading.account, "maxpos").origin, c.maxpos_from);
    EXPECT_EQ(Entry(reading.account, "freq").origin, c.freq_from);
    EXPECT_EQ(Entry(reading.account, "speed").origin, c.speed_from);
    EXPECT_EQ(Entry(reading.account, "speed").value, fmt::format("{}", c.speed));
    EXPECT_EQ(reading.unusable_freq || reading.unusable_maxpos || reading.unusable_speed, c.logged);
  }
  // "speed" has two defaults, and the account says which one applied.
  EXPECT_THAT(Entry(vorn_io::ReadLifterDescription(YAML::Load("vendor: damiao")).account, "speed").detail,
              HasSubstr("absent"));
  EXPECT_THAT(Entry(vorn_io::ReadLifterDescription(YAML::Load("speed: fast")).account, "speed").detail,
              HasSubstr("the fallback 3.14"));
}

TEST(DescriptionReaders, MoveTicksCountTheLiftersRamp) {
  // The defaults: 2865 ticks of 100 ms, the last one past 450 ending the move.
  const vorn_io::LifterReading defaults = vorn_io::ReadLifterDescription(YAML::Load("vendor: damiao"));
  EXPECT_EQ(defaults.move_ticks, 2865U);
  EXPECT_EQ(defaults.tick_period_ms, 100.0);
  // The period keeps its fraction of a millisecond, as the lifter's ticks do.
  EXPECT_NEAR(vorn_io::ReadLifterDescription(YAML::Load("{freq: 600}")).tick_period_ms, 1000.0 / 600.0, 1e-9);
  // The ramp as a whole, as the lifter runs it: the account's finding about
  // it, if any, and whether it is an error.
  struct RampFinding {
    const char* yaml;
    unsigned long long ticks;
    const char* key;  // "": no finding
    KeyOrigin origin;
    const char* says;
  };
  const std::vector<RampFinding> findings = {
      // A step lost in the rounding never ends a move: the lifter refuses.
      {"{speed: 1e-9}", 0, "speed/freq", KeyOrigin::kMissing, "lost in the rounding"},
      // A first step past the travel sends nothing: the lifter refuses.
      {"{maxpos: 12, freq: 50, speed: 1000}", 1, "speed/freq", KeyOrigin::kError, "a step of 20 per tick"},
      {"{maxpos: 12, freq: 50, speed: 550}", 2, "speed/freq", KeyOrigin::kSuspect, "the motor jumps 11 per tick"},
      {"{maxpos: 4.5, freq: 1, speed: 1}", 5, "speed/freq", KeyOrigin::kSuspect, "a move sends 4 position(s)"},
      {"{vendor: damiao, maxpos: 5, freq: 1, speed: 1}", 6, "", KeyOrigin::kFile, ""},
      {"{maxpos: 0}", 1, "maxpos", KeyOrigin::kSuspect, "nothing to move"},
  };
  for (const RampFinding& c : findings) {
    SCOPED_TRACE(c.yaml);
    const vorn_io::LifterReading reading = vorn_io::ReadLifterDescription(YAML::Load(c.yaml));
    EXPECT_EQ(reading.move_ticks, c.ticks);
    EXPECT_EQ(reading.account.HasError(), c.origin == KeyOrigin::kError);
    if (*c.key == '\0') {
      EXPECT_EQ(reading.account.Find("speed/freq"), nullptr);
      EXPECT_EQ(reading.account.FlaggedCount(), 0U);
      continue;
    }
    EXPECT_EQ(Entry(reading.account, c.key).origin, c.origin);
    EXPECT_THAT(Entry(reading.account, c.key).detail, HasSubstr(c.says));
  }
}

TEST(DescriptionReaders, EveryFindingSaysWhereItStands) {
  const std::string text =
      "vendor: feetech\n"
      "maxpso: 3\n"
      "kp: 2\n"
      "freq: 20\n"
      "freq: 30\n"
      "baudrate: 0\n"
      "id: x\n"
      "  # a comment\n"
      "mode:   y\n";
  const vorn_io::LifterReading reading = vorn_io::ReadLifterDescription(YAML::Load(text));
  const vorn_io::DescriptionAccount& account = reading.account;
  EXPECT_EQ(Entry(account, "maxpso").origin, KeyOrigin::kUnknown);
  EXPECT_THAT(Entry(account, "maxpso").detail, HasSubstr("did you mean \"maxpos\"?"));
  EXPECT_EQ(Entry(account, "kp").origin, KeyOrigin::kOtherVendor);
  EXPECT_EQ(Entry(account, "baudrate").origin, KeyOrigin::kSuspect);
  EXPECT_EQ(Entry(account, "freq").value, "20");  // yaml-cpp keeps the first
  const std::vector<std::optional<int>> expected_lines = {2, 3, 4, 6, 7, 9};
  std::vector<std::optional<int>> lines;
  for (const char* key : {"maxpso", "kp", "freq", "baudrate", "id", "mode"}) {
    lines.push_back(LineOf(Entry(account, key)));
  }
  EXPECT_EQ(lines, expected_lines);
  EXPECT_EQ(Entry(account, "mode").position->column, 1);

  std::vector<std::string> flagged;
  for (const KeyAccount& entry : account.keys) {
    if (entry.origin == KeyOrigin::kDuplicate) {
      EXPECT_EQ(LineOf(entry), 5);
      EXPECT_THAT(entry.detail, HasSubstr("line 4"));
    }
    if (entry.origin == KeyOrigin::kError) {
      flagged.push_back(entry.key);
    }
  }
  // Every key-level error, not only the first; the lifter raises the first.
  EXPECT_EQ(flagged, (std::vector<std::string>{"id", "mode"}));
  ASSERT_TRUE(reading.error);
  try {
    std::rethrow_exception(reading.error);
  } catch (const YAML::Exception& error) {
    EXPECT_EQ(error.mark.line, 6);
  }

  // A node a host built in code has no positions at all.
  YAML::Node built;
  built["vendor"] = "damiao";
  built["frq"] = 20;
  for (const KeyAccount& entry : vorn_io::ReadLifterDescription(built).account.keys) {
    EXPECT_FALSE(entry.position) << entry.key;
  }
}

TEST(DescriptionReaders, GripperValuesStoredAsReadButSuspect) {
  const vorn_io::GripperReading reading = vorn_io::ReadGripperParameters(
      YAML::Load("{id: -1, dev_name: ~, baudrate: 0, torque_low: -3, torque_high: .nan, inverse: no}"));
  EXPECT_FALSE(reading.error);
  EXPECT_EQ(reading.settings.id, 4294967295U);
  EXPECT_EQ(Entry(reading.account, "id").origin, KeyOrigin::kReplaced);
  EXPECT_EQ(reading.settings.dev_name, "null");
  EXPECT_FALSE(reading.settings.inverse);
  EXPECT_TRUE(std::isnan(reading.settings.torque_high));
  for (const char* key : {"baudrate", "torque_low", "torque_high"}) {
    EXPECT_EQ(Entry(reading.account, key).origin, KeyOrigin::kSuspect) << key;
  }
  EXPECT_EQ(reading.account.FlaggedCount(), 5U);
}

TEST(DescriptionReaders, KindsAndSectionsOfFiles) {
  struct KindCase {
    const char* yaml;
    std::optional<DescriptionKind> kind;
    const char* evidence;
  };
  const std::vector<KindCase> cases = {
      {"other: 1\ngripper: {id: 1}", DescriptionKind::kGripperFile, "a root key \"gripper\""},
      {"feetechmotor2: {}\nfeetechmotor1: {}", DescriptionKind::kMotorFile, "sections feetechmotor2, feetechmotor1"},
      {"feetechmotor0: {}", DescriptionKind::kMotorFile, "section feetechmotor0"},
      {"vendor: x\ntorque_low: 1", DescriptionKind::kLifter, "a \"vendor\" key"},
      {"id: 1\ntorque_low: 3", DescriptionKind::kParameterMap, "a \"torque_low\" key"},
      {"id: 1\ndev_name: x", std::nullopt, ""},
      {"feetechmotor01: {}\nfeetechmotor: {}", std::nullopt, ""},
      {"42", std::nullopt, ""},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.yaml);
    const std::optional<vorn_io::KindEvidence> told = vorn_io::TellDescriptionKind(YAML::Load(c.yaml));
    ASSERT_EQ(told.has_value(), c.kind.has_value());
    if (told) {
      EXPECT_EQ(told->kind, *c.kind);
      EXPECT_EQ(told->evidence, c.evidence);
    }
  }

  const vorn_io::GripperFileReading motors = vorn_io::ReadMotorFile(
      YAML::Load("feetechmotor12: {id: 40, dev_name: a}\nfeetechmotor012: {id: 41}\nfeetechmotor3: {id: 3}\n"));
  ASSERT_EQ(motors.sections.size(), 2U);
  EXPECT_EQ(motors.sections[0].motor, 12U);
  EXPECT_EQ(motors.sections[0].reading.settings.id, 40U);
  EXPECT_FALSE(motors.sections[0].reading.error);
  EXPECT_EQ(motors.sections[1].key, "feetechmotor3");
  EXPECT_TRUE(motors.sections[1].reading.error);  // no dev_name
  EXPECT_EQ(Entry(motors.root, "feetechmotor012").origin, KeyOrigin::kUnknown);

  // A gripper file without its entry reads as the gripper reads it: the
  // load stops at the absent id.
  const vorn_io::GripperFileReading empty = vorn_io::ReadGripperFile(YAML::Load("lifter: {id: 1}"));
  ASSERT_EQ(empty.sections.size(), 1U);
  EXPECT_EQ(Entry(empty.sections[0].reading.account, "id").origin, KeyOrigin::kError);
  EXPECT_EQ(Entry(empty.root, "lifter").origin, KeyOrigin::kUnknown);
}

TEST(DescriptionReaders, NoReaderThrowsForAnInvalidOrScalarNode) {
  const YAML::Node map = YAML::Load("{a: 1}");
  // A const lookup of an absent key gives an invalid node, which yaml-cpp
  // refuses to tell the type of.
  const YAML::Node invalid = map["absent"];
  for (const YAML::Node& node : {invalid, YAML::Load("42")}) {
    EXPECT_TRUE(vorn_io::ReadLifterDescription(node).error);
    EXPECT_TRUE(vorn_io::ReadMotorDescription(node).error);
    EXPECT_TRUE(vorn_io::ReadGripperParameters(node).error);
    EXPECT_TRUE(vorn_io::ReadGripperFile(node).sections.empty());
    EXPECT_TRUE(vorn_io::ReadMotorFile(node).root.HasError());
    EXPECT_FALSE(vorn_io::TellDescriptionKind(node));
  }
}

}  // namespace
