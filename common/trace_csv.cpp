#include <cmath>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "vorn_io/trace.h"

namespace vorn_io {
namespace {

/// A number that reads back exactly (fmt's shortest round trip); NaN as an empty cell.
void Cell(std::string& row, double value) {
  if (!std::isnan(value)) {
    fmt::format_to(std::back_inserter(row), "{}", value);
  }
}

void FailedCalls(std::string& row, std::uint8_t failed) {
  constexpr std::pair<std::uint8_t, const char*> kNames[] = {{LifterTick::kGetTorqueFailed, "getTorque"},
                                                             {LifterTick::kGetPositionFailed, "getPosition"},
                                                             {LifterTick::kSetPositionFailed, "setPosition"}};
  const char* separator = "";
  for (const auto& [bit, name] : kNames) {
    if ((failed & bit) != 0) {
      row.append(separator).append(name);
      separator = "+";
    }
  }
}

}  // namespace

bool WriteTraceCsv(std::ostream& out, const std::vector<LifterTick>& trace) {
  out << "time_s,lateness_s,set_position,position,torque,torque_limit,sent_position,held,unheld,failed_calls\n";
  std::string row;
  for (const LifterTick& tick : trace) {
    row.clear();
    for (const double value : {tick.seconds, tick.lateness, tick.setPosition, tick.position, tick.torque,
                               static_cast<double>(tick.torqueLimit), tick.sent}) {
      Cell(row, value);
      row.push_back(',');
    }
    row.append(tick.held ? "1," : "0,").append(tick.unheld ? "1," : "0,");
    FailedCalls(row, tick.failedCalls);
    row.push_back('\n');
    out << row;
  }
  out.flush();
  return static_cast<bool>(out);
}

bool WriteTraceCsv(std::ostream& out, const std::vector<GripperPoll>& trace) {
  out << "time_s,position,variance,settled\n";
  std::string row;
  for (const GripperPoll& poll : trace) {
    row.clear();
    for (const double value : {poll.seconds, poll.position, poll.variance}) {
      Cell(row, value);
      row.push_back(',');
    }
    row.append(poll.settled ? "1\n" : "0\n");
    out << row;
  }
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace vorn_io
