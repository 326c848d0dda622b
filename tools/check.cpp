#include "tools/check.h"

#include <algorithm>
#include <cstdio>

#include <fmt/format.h>

#include "tools/account_text.h"
#include "tools/check_report.h"

namespace vorn_io::tool {
namespace {

CheckedDescription Describe(std::string kind, std::string where, std::string device, DescriptionAccount account) {
  CheckedDescription description{std::move(kind), std::move(where), std::move(device), std::move(account), {}, {}};
  description.result = description.account.HasError()           ? Result::kError
                       : description.account.FlaggedCount() > 0 ? Result::kFlagged
                                                                : Result::kClean;
  return description;
}

std::vector<CheckedDescription> CheckSelection(const Selection& selection, const std::string& name) {
  std::vector<CheckedDescription> checked;
  if (selection.kind == DescriptionKind::kLifter) {
    const LifterReading reading = ReadLifterDescription(selection.node);
    checked.push_back(Describe(KindName(selection.kind), selection.where, LifterDevice(reading), reading.account));
    if (reading.motor.settings.vendor != MotorVendor::kNone && !reading.account.HasError() && reading.move_ticks > 0) {
      checked.back().move = Move{reading.move_ticks, reading.tick_period_ms, MoveSeconds(reading)};
    }
    return checked;
  }
  GripperDescription gripper = ReadGripperSelection(selection, name);
  if (!gripper.root.keys.empty()) {
    checked.push_back(Describe(KindName(selection.kind), "file root", KindName(selection.kind), gripper.root));
  }
  for (GripperPart& part : gripper.parts) {
    checked.push_back(Describe(KindName(selection.kind), part.where, "gripper", std::move(part.reading.account)));
  }
  return checked;
}

CheckedFile CheckFile(const std::string& path, const Selector& selector) {
  CheckedFile file{FileName(path), {}, {}, Result::kClean};
  try {
    const DescriptionFile description = LoadDescription(path);
    file.descriptions = CheckSelection(Select(description, selector, std::nullopt), description.name);
  } catch (const ConfigError& error) {
    file.error = error.what();
  } catch (const YAML::Exception& error) {
    file.error = fmt::format("{}: {}", file.name, error.what());
  }
  if (!file.error.empty()) {
    fmt::print(stderr, "vorn-io: {}\n", file.error);
    file.result = Result::kError;
  }
  for (const CheckedDescription& description : file.descriptions) {
    file.result = std::max(file.result, description.result);
  }
  return file;
}

void PrintKey(const KeyAccount& key, const std::string& file) {
  std::string line = fmt::format("{} {:<12} {:<16} {}", key.Flagged() ? '!' : ' ', Escaped(key.key),
                                 key.value.empty() ? std::string("-") : Escaped(key.value), OriginName(key.origin));
  if (!key.detail.empty()) {
    line += ": " + Escaped(key.detail);
  }
  if (key.position) {
    line += fmt::format("  [{}:{}:{}]", file, key.position->line, key.position->column);
  }
  fmt::print("{}\n", line);
}

void PrintPlain(const CheckedFile& file) {
  std::size_t flagged = 0;
  for (const CheckedDescription& description : file.descriptions) {
    fmt::print("{}: {}, {}\n", file.name, description.device, description.where);
    fmt::print("  {:<12} {:<16} {}\n", "key", "value used", "from");
    for (const KeyAccount& key : description.account.keys) {
      PrintKey(key, file.name);
    }
    if (description.move) {
      fmt::print("  a move: {} ticks of {:g} ms, about {:.1f} s\n", description.move->ticks,
                 description.move->period_ms, description.move->seconds);
    }
    flagged += description.account.FlaggedCount();
  }
  if (file.result == Result::kError) {
    // A file that could not be read has said so on standard error already.
    if (file.error.empty()) {
      fmt::print("{}: the device cannot be built from this description\n", file.name);
    }
  } else if (flagged > 0) {
    fmt::print("{}: {} flagged (marked !)\n", file.name, flagged);
  } else {
    fmt::print("{}: clean\n", file.name);
  }
}

}  // namespace

const char* ResultName(Result result) {
  switch (result) {
    case Result::kClean:
      return "clean";
    case Result::kFlagged:
      return "flagged";
    case Result::kError:
      return "error";
  }
  return "";
}

int RunCheck(const std::vector<std::string>& paths, const Selector& selector, bool json) {
  std::vector<CheckedFile> files;
  Result overall = Result::kClean;
  for (const std::string& path : paths) {
    files.push_back(CheckFile(path, selector));
    overall = std::max(overall, files.back().result);
    if (!json) {
      PrintPlain(files.back());
    }
  }
  if (json) {
    fmt::print("{}", JsonReport(files, overall));
  }
  return static_cast<int>(overall);
}

}  // namespace vorn_io::tool
