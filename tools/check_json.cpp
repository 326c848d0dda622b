#include <nlohmann/json.hpp>

#include "tools/check_report.h"

namespace vorn_io::tool {
namespace {

// In the order a person reads them: what, where, then the findings and the verdict.
using json = nlohmann::ordered_json;

json KeyJson(const KeyAccount& key) {
  json entry{{"key", key.key}, {"value", key.value}, {"origin", OriginName(key.origin)}, {"detail", key.detail}};
  if (key.position) {
    entry["line"] = key.position->line;
    entry["column"] = key.position->column;
  }
  return entry;
}

json DescriptionJson(const CheckedDescription& description) {
  json keys = json::array();
  for (const KeyAccount& key : description.account.keys) {
    keys.push_back(KeyJson(key));
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

}  // namespace

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

}  // namespace vorn_io::tool
