#include "tools/check.h"

#include <cstdio>

#include <fmt/format.h>

#include "tools/exit_codes.h"
#include "tools/explain.h"

namespace vorn_io::tool {
namespace {

std::string OriginText(const Finding& finding) {
  switch (finding.origin) {
    case Origin::kFile:
      return "file";
    case Origin::kDefault:
      return "default (absent)";
    case Origin::kFallback:
      return "fallback: " + finding.detail;
    case Origin::kReplaced:
      return "replaced: " + finding.detail;
    case Origin::kUnknown:
      return "unknown key: " + finding.detail;
    case Origin::kIgnored:
      return "ignored: " + finding.detail;
    case Origin::kMissing:
      return "missing: " + finding.detail;
    case Origin::kError:
      return "ERROR: " + finding.detail;
    case Origin::kNotRead:
      return "not read: " + finding.detail;
  }
  return {};
}

void Print(const Finding& finding) {
  fmt::print("{} {:<12} {:<16} {}\n", finding.Flagged() ? '!' : ' ', finding.key,
             finding.value.empty() ? "-" : finding.value, OriginText(finding));
}

}  // namespace

int RunCheck(const std::string& path, const Selector& selector) {
  const YAML::Node root = LoadYamlFile(path);
  const std::vector<Target> targets = SelectTargets(root, path, selector);
  std::size_t flagged = 0;
  bool error = false;

  for (const std::string& key : StrayRootKeys(root, targets)) {
    if (flagged == 0) {
      fmt::print("{}: file root\n", path);
    }
    Print(Finding{key, "", Origin::kUnknown, "no device reads this root key; it is ignored"});
    ++flagged;
  }
  for (const Target& target : targets) {
    const Explanation explanation =
        target.kind == Kind::kLifter ? ExplainLifter(target.node) : ExplainGripper(target.node);
    fmt::print("{}: {}, {}\n", path, explanation.device, target.where);
    fmt::print("  {:<12} {:<16} {}\n", "key", "value used", "from");
    for (const Finding& finding : explanation.findings) {
      Print(finding);
    }
    if (target.kind == Kind::kLifter && explanation.motion.has_motor && !explanation.HasError() &&
        explanation.motion.Ticks() > 0) {
      fmt::print("  a move: {} ticks of {:g} ms, about {:.1f} s\n", explanation.motion.Ticks(),
                 explanation.motion.PeriodMs(), explanation.motion.Seconds());
    }
    flagged += explanation.FlaggedCount();
    error = error || explanation.HasError();
  }

  if (error) {
    fmt::print("{}: the device cannot be built from this description\n", path);
    return kBadConfig;
  }
  if (flagged > 0) {
    fmt::print("{}: {} flagged (marked !)\n", path, flagged);
    return kRefused;
  }
  fmt::print("{}: clean\n", path);
  return kDone;
}

}  // namespace vorn_io::tool
