#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vorn_io/trace.h"

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

/// The rows of `csv`, each split at its commas.
std::vector<std::vector<std::string>> Rows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string>& cells = rows.emplace_back();
    std::istringstream fields(line + ",");
    for (std::string cell; std::getline(fields, cell, ',');) {
      cells.push_back(cell);
    }
  }
  return rows;
}

/// A cell read back as a spreadsheet would: empty is no number.
double Number(const std::string& cell) { return cell.empty() ? kNan : std::strtod(cell.c_str(), nullptr); }

void ExpectSame(double read, double written) {
  if (std::isnan(written)) {
    EXPECT_TRUE(std::isnan(read));
  } else {
    EXPECT_EQ(read, written);  // exactly: no digits lost
  }
}

TEST(TraceCsv, EveryColumnReadsBackExactly) {
  std::vector<vorn_io::LifterTick> ticks(2);
  ticks[0] = {0.1, 1e-300, 0.1 + 0.2, 7.25, 3.5, kNan, 3.5F, true, false, 0};
  ticks[1] = {0.30000000000000004,
              kNan,
              -449.86000061035156,
              kNan,
              kNan,
              -0.3141592741012573,
              3.5F,
              false,
              true,
              vorn_io::LifterTick::kGetTorqueFailed | vorn_io::LifterTick::kGetPositionFailed |
                  vorn_io::LifterTick::kSetPositionFailed};
  std::ostringstream lifter;
  ASSERT_TRUE(vorn_io::WriteTraceCsv(lifter, ticks));
  const auto rows = Rows(lifter.str());
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(lifter.str().substr(0, lifter.str().find('\n')),
            "time_s,lateness_s,set_position,position,torque,torque_limit,sent_position,held,unheld,failed_calls");
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    const std::vector<std::string>& row = rows[i + 1];
    ASSERT_EQ(row.size(), 10U);
    const vorn_io::LifterTick& tick = ticks[i];
    const double written[] = {tick.seconds,  tick.lateness, tick.setPosition,
                              tick.position, tick.torque,   static_cast<double>(tick.torqueLimit),
                              tick.sent};
    for (std::size_t column = 0; column < 7; ++column) {
      ExpectSame(Number(row[column]), written[column]);
    }
    EXPECT_EQ(row[7], tick.held ? "1" : "0");
    EXPECT_EQ(row[8], tick.unheld ? "1" : "0");
  }
  EXPECT_EQ(rows[1][9], "");
  EXPECT_EQ(rows[2][9], "getTorque+getPosition+setPosition");

  const std::vector<vorn_io::GripperPoll> polls = {{0.005, kNan, kNan, false}, {1.0000000000000002, 2.5, 1e-7, true}};
  std::ostringstream gripper;
  ASSERT_TRUE(vorn_io::WriteTraceCsv(gripper, polls));
  const auto gripper_rows = Rows(gripper.str());
  ASSERT_EQ(gripper_rows.size(), 3U);
  EXPECT_EQ(gripper.str().substr(0, gripper.str().find('\n')), "time_s,position,variance,settled");
  for (std::size_t i = 0; i < polls.size(); ++i) {
    const std::vector<std::string>& row = gripper_rows[i + 1];
    ASSERT_EQ(row.size(), 4U);
    ExpectSame(Number(row[0]), polls[i].seconds);
    ExpectSame(Number(row[1]), polls[i].position);
    ExpectSame(Number(row[2]), polls[i].variance);
    EXPECT_EQ(row[3], polls[i].settled ? "1" : "0");
  }

  // A stream that fails is reported.
  std::ostringstream failed;
  failed.setstate(std::ios::badbit);
  EXPECT_FALSE(vorn_io::WriteTraceCsv(failed, polls));
}

}  // namespace
