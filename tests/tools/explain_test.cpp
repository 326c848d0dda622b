// `vorn-io check` against the devices it explains: the same keys, the same
// values, the same replacements.
#include <fstream>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter/lifter_settings.h"
#include "tools/explain.h"
#include "tools/key_text.h"
#include "vorn_io/config_keys.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using vorn_io::tool::ExplainGripper;
using vorn_io::tool::ExplainLifter;
using vorn_io::tool::Finding;
using vorn_io::tool::Origin;

const Finding* Find(const vorn_io::tool::Explanation& explanation, const std::string& key) {
  for (const Finding& finding : explanation.findings) {
    if (finding.key == key) {
      return &finding;
    }
  }
  return nullptr;
}

TEST(ExplainTest, EveryTableKeyIsExplained) {
  const auto lifter = ExplainLifter(YAML::Load("vendor: damiao"));
  for (const auto* key : vorn_io::keys::lifter::kAll) {
    const Finding* finding = Find(lifter, key->name);
    ASSERT_NE(finding, nullptr) << key->name;
    EXPECT_EQ(finding->origin, Origin::kDefault) << key->name;
  }
  for (const auto* key : vorn_io::keys::motor::kAll) {
    if (std::string(key->vendor) != "feetech") {
      EXPECT_NE(Find(lifter, key->name), nullptr) << key->name;
    }
  }
  const auto feetech = ExplainLifter(YAML::Load("vendor: FeeTech"));
  EXPECT_NE(Find(feetech, "baudrate"), nullptr);
  EXPECT_EQ(Find(feetech, "kp"), nullptr);

  const auto gripper = ExplainGripper(YAML::Load("{id: 1, dev_name: x}"));
  for (const auto* key : vorn_io::keys::gripper::kAll) {
    const Finding* finding = Find(gripper, key->name);
    ASSERT_NE(finding, nullptr) << key->name;
    if (key->when_absent == vorn_io::keys::Absent::kDefault) {
      EXPECT_EQ(finding->origin, Origin::kDefault) << key->name;
      EXPECT_EQ(finding->value, vorn_io::tool::AbsentText(*key)) << key->name;
    }
  }
  EXPECT_EQ(gripper.FlaggedCount(), 0U);
}

struct RampCase {
  const char* name;
  const char* yaml;
  float maxpos;
  unsigned freq;
  float speed;
};

class LifterRulesTest : public testing::TestWithParam<RampCase> {};

// The check must end up where the lifter does: with the lifter's own
// replacement of unusable settings, and with the start-up line it prints.
TEST_P(LifterRulesTest, CheckEndsWhereTheLifterEnds) {
  const RampCase& c = GetParam();
  const YAML::Node node = YAML::Load(c.yaml);
  const auto explanation = ExplainLifter(node);
  EXPECT_EQ(explanation.motion.maxpos, c.maxpos);
  EXPECT_EQ(explanation.motion.freq, c.freq);
  EXPECT_EQ(explanation.motion.speed, c.speed);

  vorn_io::lifter::Settings settings;
  settings.maxpos = vorn_io::keys::AbsentValueOf<float>(vorn_io::keys::lifter::kMaxpos);
  settings.freq = vorn_io::keys::AbsentValueOf<unsigned>(vorn_io::keys::lifter::kFreq);
  settings.speed = vorn_io::keys::AbsentValueOf<float>(vorn_io::keys::lifter::kSpeed);
  testing::internal::CaptureStdout();
  vorn_io::lifter::ReadSettings(node, settings);
  settings.maxpos = vorn_io::lifter::NormaliseMaxpos(settings.maxpos);
  vorn_io::lifter::ReplaceUnusable(settings);
  { const UpdownLifter lifter(node); }
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(settings.maxpos, explanation.motion.maxpos);
  EXPECT_EQ(settings.freq, explanation.motion.freq);
  EXPECT_EQ(settings.speed, explanation.motion.speed);
  EXPECT_THAT(log, testing::HasSubstr(fmt::format("maxpos: {:.2f}\r\n", explanation.motion.maxpos)));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LifterRulesTest,
    testing::Values(
        RampCase{"Defaults", "{vendor: damiao}", 450.0F, 10, 1.5707964F},
        RampCase{"NegativeTravelZeros", "{vendor: damiao, maxpos: -600, freq: 0, speed: 0}", 600.0F, 10, 3.14F},
        RampCase{"CappedTravelNan", "{vendor: damiao, maxpos: 600, freq: -5, speed: .nan}", 480.0F, 10, 3.14F},
        RampCase{"InfiniteTravel", "{vendor: damiao, maxpos: .inf, freq: 20, speed: fast}", 480.0F, 20, 3.14F},
        RampCase{"MinusInfinity", "{vendor: damiao, maxpos: -.inf, freq: 5.5, speed: -2}", 450.0F, 10, -2.0F},
        RampCase{"UnreadableTravelFastTicks", "{vendor: damiao, maxpos: abc, freq: 2000, speed: 4}", 450.0F, 1000,
                 4.0F}),
    [](const testing::TestParamInfo<RampCase>& param) { return param.param.name; });

TEST(ExplainTest, MoveLengthCountsTheLiftersTicks) {
  // The defaults: 2865 ticks of 100 ms, the last one past 450 ending the move.
  const auto defaults = ExplainLifter(YAML::Load("vendor: damiao"));
  EXPECT_EQ(defaults.motion.Ticks(), 2865U);
  EXPECT_EQ(defaults.motion.PeriodMs(), 100.0);
  EXPECT_NEAR(defaults.motion.Seconds(), 286.5, 1e-9);
  // The period keeps its fraction of a millisecond, as the lifter's ticks do.
  const auto fast = ExplainLifter(YAML::Load("{vendor: damiao, freq: 600}"));
  EXPECT_NEAR(fast.motion.PeriodMs(), 1000.0 / 600.0, 1e-9);
  // A step lost in the rounding never ends a move: the lifter refuses, the check says so.
  const auto stuck = ExplainLifter(YAML::Load("{vendor: damiao, speed: 1e-9}"));
  EXPECT_EQ(stuck.motion.Ticks(), 0U);
  const Finding* finding = Find(stuck, "speed/freq");
  ASSERT_NE(finding, nullptr);
  EXPECT_TRUE(finding->Flagged());
}

TEST(ExplainTest, ReadmeReferenceMatchesTheKeyTables) {
  std::ifstream readme(std::string(VORN_IO_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(readme) << "README.md is missing";
  std::stringstream text;
  text << readme.rdbuf();
  const std::string content = text.str();
  const std::string begin = "<!-- keys:begin (generated by `vorn-io keys --markdown`) -->\n";
  const std::string end = "<!-- keys:end -->";
  const std::size_t from = content.find(begin);
  const std::size_t to = content.find(end);
  ASSERT_NE(from, std::string::npos);
  ASSERT_NE(to, std::string::npos);
  EXPECT_EQ(content.substr(from + begin.size(), to - from - begin.size()), "\n" + vorn_io::tool::KeysMarkdown())
      << "regenerate with: vorn-io keys --markdown";
}

}  // namespace
