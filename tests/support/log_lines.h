#pragma once

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace vorn_io_test {

/// One emitted line as an output shows it: "NNN [TAG] text".
struct LogLine {
  int number = -1;
  std::string tag;
  std::string text;
  /// For the logger's own "K lines dropped: ..." line, K.
  std::optional<long> dropped;
};

/// `message` read as a log line; nothing if it is not one (torn, garbled).
inline std::optional<LogLine> ParseLogLine(const std::string& message) {
  static const std::regex form(R"(^(  [0-9]| [1-9][0-9]|1[0-2][0-9]) \[(INFO|WARN|ERROR)\] (.*?)\r?$)");
  static const std::regex notice(R"(^([0-9]+) lines dropped: the output did not take them in time$)");
  std::smatch parts;
  if (!std::regex_match(message, parts, form)) {
    return std::nullopt;
  }
  LogLine line{std::stoi(parts[1].str()), parts[2].str(), parts[3].str(), std::nullopt};
  std::smatch count;
  if (line.tag == "WARN" && std::regex_match(line.text, count, notice)) {
    line.dropped = std::stol(count[1].str());
  }
  return line;
}

/// The MESSAGE field of a native-protocol journal datagram (single-line form).
inline std::string JournalMessage(const std::string& datagram) {
  const std::string key = "MESSAGE=";
  const std::size_t at = datagram.compare(0, key.size(), key) == 0 ? 0 : datagram.find("\n" + key);
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t begin = at == 0 ? key.size() : at + 1 + key.size();
  return datagram.substr(begin, datagram.find('\n', begin) - begin);
}

}  // namespace vorn_io_test

namespace vorn_io_test {

/// What is wrong with an output that stalled while a child ("stall" mode of
/// the log child) logged `flood` lines "flood I ...", then, once the output
/// was read dry, "after the drain"; empty if nothing. Expected: fewer flood
/// lines than logged, every line whole, and exactly one dropped-lines line,
/// counting at least the flood lines missing and followed at once by "after
/// the drain" with the next number.
inline std::string StallFindings(const std::vector<std::string>& messages, int flood) {
  std::vector<LogLine> lines;
  for (const std::string& message : messages) {
    if (message.empty()) {
      continue;  // on the console, the blank after a message ending in "\r\n"
    }
    const std::optional<LogLine> line = ParseLogLine(message);
    if (!line) {
      return "not a whole line: '" + message + "'";
    }
    lines.push_back(*line);
  }
  long flood_seen = 0;
  std::vector<std::size_t> notices;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    flood_seen += lines[i].text.compare(0, 6, "flood ") == 0 ? 1 : 0;
    if (lines[i].dropped) {
      notices.push_back(i);
    }
  }
  if (flood_seen >= flood) {
    return "all " + std::to_string(flood) + " flood lines came through: the output never stalled";
  }
  if (notices.size() != 1) {
    return std::to_string(notices.size()) + " dropped-lines lines, expected one";
  }
  const LogLine& notice = lines[notices.front()];
  if (*notice.dropped < flood - flood_seen) {
    return "says " + std::to_string(*notice.dropped) + " lines dropped, but " + std::to_string(flood - flood_seen) +
           " flood lines are missing";
  }
  if (notices.front() + 1 >= lines.size() || lines[notices.front() + 1].text != "after the drain") {
    return "the dropped-lines line is not followed by \"after the drain\"";
  }
  if (lines[notices.front() + 1].number != (notice.number + 1) % 128) {
    return "\"after the drain\" does not carry the number after the dropped-lines line";
  }
  return {};
}

}  // namespace vorn_io_test
