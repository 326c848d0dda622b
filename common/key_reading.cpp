#include "common/key_reading.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

namespace vorn_io::detail {
namespace {

using keys::ConfigKey;
using keys::Type;

std::optional<TextPosition> PositionOfMark(const YAML::Mark& mark) {
  if (mark.is_null()) {
    return std::nullopt;
  }
  return TextPosition{mark.line + 1, mark.column + 1};
}

const char* TypeInWords(Type type) {
  switch (type) {
    case Type::kInt:
      return "an integer";
    case Type::kUnsigned:
      return "an unsigned integer";
    case Type::kFloat:
    case Type::kDouble:
      return "a number";
    case Type::kBool:
      return "a boolean";
    case Type::kString:
      return "a string";
  }
  return "";
}

/// yaml-cpp's conversion to T, with `as<T>(fallback)`'s rule when the key
/// has one and `as<T>()`'s (which may raise) when it has none.
template <typename T>
KeyRead Convert(const YAML::Node& value, const ConfigKey& key, bool present) {
  KeyRead read;
  read.entry.origin = present ? KeyOrigin::kFile : KeyOrigin::kDefault;
  if constexpr (!std::is_same_v<T, std::string>) {
    if (key.has_fallback) {
      T converted{};
      // `as<T>(fallback)` is exactly this: the fallback when decoding fails.
      if (present && YAML::convert<T>::decode(value, converted)) {
        read.value = converted;
      } else {
        read.value = keys::FallbackOf<T>(key);
        if (present) {
          read.entry.origin = KeyOrigin::kFallback;
          read.entry.detail = fmt::format("the file has {}, which is not {}; the fallback {} is used silently",
                                          DescribeNode(value), TypeInWords(key.type), ValueText(*read.value));
        }
      }
      read.entry.value = ValueText(*read.value);
      return read;
    }
  }
  try {
    if (!present) {
      // What the conversion of an absent entry raises, as the loaders look
      // keys up: an undefined node without a position.
      throw YAML::TypedBadConversion<T>(YAML::Mark::null_mark());
    }
    read.value = value.as<T>();
    read.entry.value = ValueText(*read.value);
  } catch (const YAML::Exception& error) {
    read.error = std::current_exception();
    read.entry.origin = KeyOrigin::kError;
    read.entry.detail = present
                            ? fmt::format("{} is not {}: {}", DescribeNode(value), TypeInWords(key.type), error.what())
                            : fmt::format("absent, and the load cannot do without it: {}", error.what());
    return read;
  }
  if constexpr (std::is_same_v<T, std::string>) {
    if (value.IsNull()) {
      read.entry.origin = KeyOrigin::kReplaced;
      read.entry.detail = "an empty value reads as the text \"null\"";
    } else if (read.entry.value.empty()) {
      read.entry.value = "\"\"";
    }
  }
  return read;
}

/// Known names compared with unknown keys for a suggestion, over a whole
/// map: a map of many unknown keys gets suggestions for its first ones, and
/// its reading stays linear in its size.
constexpr std::size_t kSuggestionComparisons = 20000;

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

/// The first of `known` within a slip per three letters of `key` (at most
/// two), so "x" suggests nothing and "maxpso" suggests "maxpos"; each name
/// compared uses up one of `budget`.
std::optional<std::string> NearestName(const std::string& key, const std::vector<std::string>& known,
                                       std::size_t& budget) {
  const std::size_t slips = std::clamp<std::size_t>(key.size() / 3, 1, 2);
  for (const std::string& candidate : known) {
    if (budget == 0) {
      return std::nullopt;
    }
    --budget;
    const std::size_t apart =
        key.size() > candidate.size() ? key.size() - candidate.size() : candidate.size() - key.size();
    if (apart <= slips && EditDistance(key, candidate) <= slips) {
      return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string KeyText(const YAML::Node& key) { return key.IsScalar() ? key.Scalar() : std::string(); }

std::optional<TextPosition> KeyMap::PositionOf(const char* key) const {
  if (!node_.IsDefined() || !node_.IsMap()) {
    return std::nullopt;
  }
  for (const auto& entry : node_) {
    if (entry.first.IsScalar() && entry.first.Scalar() == key) {
      return PositionOfMark(entry.first.Mark());
    }
  }
  return std::nullopt;
}

std::optional<TextPosition> KeyMap::Position() const {
  return node_.IsDefined() ? PositionOfMark(node_.Mark()) : std::nullopt;
}

KeyRead ReadKey(const KeyMap& map, const ConfigKey& key, WhenAbsent absent) {
  // A copy of the handle, never an assignment: assigning a node writes into the document.
  const YAML::Node value = map.node()[key.name];
  const bool present = static_cast<bool>(value);
  KeyRead read;
  if (!present && absent == WhenAbsent::kKeepDefault) {
    read.entry.origin = KeyOrigin::kDefault;
  } else {
    switch (key.type) {
      case Type::kInt:
        read = Convert<int>(value, key, present);
        break;
      case Type::kUnsigned:
        read = Convert<unsigned int>(value, key, present);
        break;
      case Type::kFloat:
        read = Convert<float>(value, key, present);
        break;
      case Type::kDouble:
        read = Convert<double>(value, key, present);
        break;
      case Type::kBool:
        read = Convert<bool>(value, key, present);
        break;
      case Type::kString:
        read = Convert<std::string>(value, key, present);
        break;
    }
  }
  read.entry.key = key.name;
  if (present) {
    read.entry.position = map.PositionOf(key.name);
  }
  return read;
}

std::string ValueText(const Value& value) {
  return std::visit(
      [](const auto& given) -> std::string {
        using Given = std::decay_t<decltype(given)>;
        if constexpr (std::is_same_v<Given, std::string>) {
          return given;
        } else if constexpr (std::is_same_v<Given, bool>) {
          return given ? "true" : "false";
        } else {
          return fmt::format("{}", given);
        }
      },
      value);
}

bool Subscriptable(const KeyMap& map, const char* first_key, std::exception_ptr& first_error,
                   DescriptionAccount& account) {
  try {
    static_cast<void>(map.node()[first_key]);
    return true;
  } catch (const YAML::Exception& error) {
    if (!first_error) {
      first_error = std::current_exception();
    }
    KeyAccount entry;
    entry.key = first_key;
    entry.origin = KeyOrigin::kError;
    entry.position = map.node().IsDefined() ? map.Position() : std::nullopt;
    entry.detail = fmt::format("the description is {}, not a map of keys: {}",
                               map.node().IsDefined() ? DescribeNode(map.node()) : "nothing", error.what());
    account.keys.push_back(std::move(entry));
    return false;
  }
}

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
    case YAML::NodeType::Undefined:
      break;
  }
  return "nothing";
}

void AccountForStrayKeys(const KeyMap& map, const std::vector<std::string>& known, const char* unknown_detail,
                         DescriptionAccount& account) {
  if (!map.node().IsDefined() || !map.node().IsMap()) {
    return;
  }
  // Looked up by hash, so that a map of many keys is read in time linear in
  // their number.
  const std::unordered_set<std::string_view> known_names(known.begin(), known.end());
  std::unordered_map<std::string, std::optional<TextPosition>> first_seen;
  std::size_t suggestion_budget = kSuggestionComparisons;
  for (const auto& entry : map.node()) {
    std::string key = entry.first.IsScalar() ? entry.first.Scalar() : std::string("<non-scalar key>");
    KeyAccount stray;
    stray.position = PositionOfMark(entry.first.Mark());
    // Keys that are no scalar cannot be told apart here; none has a position to point to.
    const auto [first, is_first] = first_seen.try_emplace(key, entry.first.IsScalar() ? stray.position : std::nullopt);
    if (!is_first) {
      const std::optional<TextPosition>& kept = first->second;
      stray.origin = KeyOrigin::kDuplicate;
      stray.detail = kept ? fmt::format("a second \"{}\"; yaml-cpp keeps the first, at line {}, and ignores this one",
                                        key, kept->line)
                          : fmt::format("a second \"{}\"; yaml-cpp keeps the first and ignores this one", key);
      stray.key = std::move(key);
      account.keys.push_back(std::move(stray));
      continue;
    }
    if (known_names.count(key) > 0) {
      continue;
    }
    stray.origin = KeyOrigin::kUnknown;
    stray.detail = unknown_detail;
    if (const std::optional<std::string> near = NearestName(key, known, suggestion_budget)) {
      stray.detail += fmt::format(" (did you mean \"{}\"?)", *near);
    }
    stray.key = std::move(key);
    account.keys.push_back(std::move(stray));
  }
}

void MarkReplaced(KeyAccount& entry, std::string used, const char* why) {
  if (entry.origin == KeyOrigin::kFile) {
    entry.detail = fmt::format("the file has {}; {}", entry.value, why);
    entry.origin = KeyOrigin::kReplaced;
  } else if (entry.origin == KeyOrigin::kReplaced) {
    entry.detail = fmt::format("{}, and {}", entry.detail, why);
  } else {
    return;
  }
  entry.value = std::move(used);
}

void MarkSuspect(KeyAccount& entry, std::string why) {
  if (entry.origin == KeyOrigin::kFile) {
    entry.origin = KeyOrigin::kSuspect;
    entry.detail = std::move(why);
  }
}

KeyAccount& EntryOf(DescriptionAccount& account, const char* key) {
  return *std::find_if(account.keys.begin(), account.keys.end(),
                       [&](const KeyAccount& entry) { return entry.key == key; });
}

}  // namespace vorn_io::detail
