// `vorn-io check`, and how a reader's account reads in words.
#include <algorithm>
#include <cstdio>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tools/commands.h"
#include "tools/exit_codes.h"

namespace vorn_io::tool {
namespace {

// In the order a person reads them: what, where, then the findings and the verdict.
using json = nlohmann::ordered_json;

/// Ordered: the worst of several is the greatest, and it is the exit code.
enum class Result { kClean = kDone, kFlagged = kRefused, kError = kBadConfig };

const char* ResultName(Result result) {
  return result == Result::kClean ? "clean" : result == Result::kFlagged ? "flagged" : "error";
}

/// The lifter's move, as long as it takes.
struct Move {
  unsigned long long ticks = 0;
  double period_ms = 0.0;
  double seconds = 0.0;
};

struct CheckedDescription {
  std::string kind;    ///< "lifter", "gripper file", ...
  std::string where;   ///< "root map", "key gripper", "section feetechmotor1", "file root"
  std::string device;  ///< "lifter with a damiao motor", "gripper", ...
  DescriptionAccount account;
  std::optional<Move> move;
  Result result = Result::kClean;
};

struct CheckedFile {
  std::string name;
  std::string error;  ///< why it could not be read; then it holds no description
  std::vector<CheckedDescription> descriptions;
  Result result = Result::kClean;
};

CheckedDescription Describe(std::string kind, std::string where, std::string device, DescriptionAccount account) {
  CheckedDescription description{std::move(kind), std::move(where), std::move(device), std::move(account), {}, {}};
  description.result = description.account.HasError()           ? Result::kError
                       : description.account.FlaggedCount() > 0 ? Result::kFlagged
                                                                : Result::kClean;
  return description;
}

std::vector<CheckedDescription> CheckSelection(const Selection& selection, const DescriptionFile& file) {
  std::vector<CheckedDescription> checked;
  if (selection.kind == DescriptionKind::kLifter) {
    const LifterReading reading = ReadLifterDescription(selection.node);
    checked.push_back(
        Describe(KindName(selection.kind), selection.where, LifterDevice(reading), Noted(file, reading.account)));
    if (reading.motor.settings.vendor != MotorVendor::kNone && !reading.account.HasError() && reading.move_ticks > 0) {
      checked.back().move = Move{reading.move_ticks, reading.tick_period_ms, MoveSeconds(reading)};
    }
    return checked;
  }
  GripperSelection gripper = ReadGripper(selection, file.name);
  const DescriptionAccount root = Noted(file, gripper.root);
  if (!root.keys.empty()) {
    checked.push_back(Describe(KindName(selection.kind), "file root", KindName(selection.kind), root));
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
    file.descriptions = CheckSelection(Select(description, selector, std::nullopt), description);
  } catch (const ConfigError& error) {
    file.error = error.what();
  } catch (const std::exception& error) {  // yaml-cpp's, or out of memory
    file.error = fmt::format("{}: {}", file.name, WhatFailed(error));
  }
  if (!file.error.empty()) {
    Warn("{}", file.error);
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

json DescriptionJson(const CheckedDescription& description) {
  json keys = json::array();
  for (const KeyAccount& key : description.account.keys) {
    json entry{{"key", key.key}, {"value", key.value}, {"origin", OriginName(key.origin)}, {"detail", key.detail}};
    if (key.position) {
      entry["line"] = key.position->line;
      entry["column"] = key.position->column;
    }
    keys.push_back(std::move(entry));
  }
  json entry{{"kind", description.kind},
             {"where", description.where},
             {"device", description.device},
             {"keys", std::move(keys)}};
  if (description.move) {
    entry["move"] = {{"ticks", description.move->ticks},
                     {"period_ms", description.move->period_ms},
                     {"seconds", description.move->seconds}};
  }
  entry["result"] = ResultName(description.result);
  return entry;
}

/// The whole check as one JSON document, with a final newline.
std::string JsonReport(const std::vector<CheckedFile>& files, Result overall) {
  json list = json::array();
  for (const CheckedFile& file : files) {
    json descriptions = json::array();
    for (const CheckedDescription& description : file.descriptions) {
      descriptions.push_back(DescriptionJson(description));
    }
    json entry{{"file", file.name}};
    if (!file.error.empty()) {
      entry["error"] = file.error;
    }
    entry["descriptions"] = std::move(descriptions);
    entry["result"] = ResultName(file.result);
    list.push_back(std::move(entry));
  }
  const json report{{"files", std::move(list)}, {"result", ResultName(overall)}};
  // A description's bytes need not be UTF-8; JSON text must be.
  return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace

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

std::string Escaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      escaped += fmt::format("\\x{:02x}", static_cast<unsigned char>(c));
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string LifterDevice(const LifterReading& reading) {
  const MotorSettings& motor = reading.motor.settings;
  return motor.vendor == MotorVendor::kNone ? std::string("lifter without a motor")
                                            : "lifter with a " + motor.vendor_name + " motor";
}

double MoveSeconds(const LifterReading& reading) {
  return static_cast<double>(reading.move_ticks) * reading.tick_period_ms / 1000.0;
}

}  // namespace vorn_io::tool
