#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "vorn_io/config_keys.h"
#include "vorn_io/description.h"

// The machinery every description reader shares: a key table row bound to
// the settings member it fills, read with yaml-cpp's conversions and
// accounted for. Internal to the library.
namespace vorn_io::detail {

/// The settings member a key is read into.
template <class Settings>
using Member = std::variant<int Settings::*, unsigned int Settings::*, float Settings::*, double Settings::*,
                            bool Settings::*, std::string Settings::*>;

/// One key of a table and the member it fills.
template <class Settings>
struct Row {
  const keys::ConfigKey* key;
  Member<Settings> member;
};

/// Whether a member can hold what its key's conversion gives: the same
/// type, except that an int may land in an unsigned member (bits unchanged).
template <class Settings>
constexpr bool Holds(const Row<Settings>& row) {
  switch (row.key->type) {
    case keys::Type::kInt:
      return row.member.index() == 0 || row.member.index() == 1;
    case keys::Type::kUnsigned:
      return row.member.index() == 1;
    case keys::Type::kFloat:
      return row.member.index() == 2;
    case keys::Type::kDouble:
      return row.member.index() == 3;
    case keys::Type::kBool:
      return row.member.index() == 4;
    case keys::Type::kString:
      return row.member.index() == 5;
  }
  return false;
}

/// Whether every row of a table holds its key's type.
template <class Settings, std::size_t N>
constexpr bool AllHold(const Row<Settings> (&rows)[N]) {
  for (const Row<Settings>& row : rows) {
    if (!Holds(row)) {
      return false;
    }
  }
  return true;
}

/// What an absent key without a default does.
enum class WhenAbsent {
  kKeepDefault,  ///< tested before it is read: the member keeps what it holds
  kConvert,      ///< converted all the same: a fallback is taken, no fallback raises
};

/// The map a reader reads, and where its keys stand.
class KeyMap {
 public:
  explicit KeyMap(const YAML::Node& node) : node_(node) {}

  [[nodiscard]] const YAML::Node& node() const { return node_; }
  /// Position of the first occurrence of `key`, if the text gave one.
  [[nodiscard]] std::optional<TextPosition> PositionOf(const char* key) const;
  /// Position of the map itself.
  [[nodiscard]] std::optional<TextPosition> Position() const;

 private:
  const YAML::Node& node_;
};

/// A value as a key's conversion gives it.
using Value = std::variant<int, unsigned int, float, double, bool, std::string>;

/// One key read: the value for the member (none: keep what it holds) and
/// its entry in the account.
struct KeyRead {
  std::optional<Value> value;
  KeyAccount entry;
  std::exception_ptr error;
};

/// Reads `key` of `map` with yaml-cpp's conversion of its type.
KeyRead ReadKey(const KeyMap& map, const keys::ConfigKey& key, WhenAbsent absent);

/// The value as the account shows it: a float as a float (1.5707964).
std::string ValueText(const Value& value);

/// Stores a value in the member its row names.
template <class Settings>
void Store(const Member<Settings>& member, const Value& value, Settings& settings) {
  std::visit(
      [&](auto field) {
        using Field = std::remove_reference_t<decltype(settings.*field)>;
        std::visit(
            [&](const auto& given) {
              using Given = std::decay_t<decltype(given)>;
              if constexpr (std::is_same_v<Field, std::string> == std::is_same_v<Given, std::string>) {
                settings.*field = static_cast<Field>(given);
              }
            },
            value);
      },
      member);
}

/// Reads one row into `settings` and adds its entry to `account`; the first
/// exception is kept in `first_error`. A key that raised one leaves its
/// member as it was.
template <class Settings>
KeyAccount& ReadRow(const KeyMap& map, const Row<Settings>& row, WhenAbsent absent, Settings& settings,
                    std::exception_ptr& first_error, DescriptionAccount& account) {
  KeyRead read = ReadKey(map, *row.key, absent);
  if (read.error && !first_error) {
    first_error = read.error;
  }
  if (read.value) {
    Store(row.member, *read.value, settings);
  }
  if (!read.value && read.entry.origin == KeyOrigin::kDefault) {
    // An absent key: what the member holds is what the device uses.
    std::visit([&](auto field) { read.entry.value = ValueText(Value(settings.*field)); }, row.member);
  }
  account.keys.push_back(std::move(read.entry));
  return account.keys.back();
}

/// Reads a whole table in order, every key, so that the account holds every
/// error; the entries of the rows come first in `account`, in table order.
template <class Settings, std::size_t N>
void ReadRows(const KeyMap& map, const Row<Settings> (&rows)[N], WhenAbsent absent, Settings& settings,
              std::exception_ptr& first_error, DescriptionAccount& account) {
  for (const Row<Settings>& row : rows) {
    ReadRow(map, row, absent, settings, first_error, account);
  }
}

/// The number of rows a device stores before the first error, for an
/// account whose first N entries are a table's rows: a device stops at an
/// exception, so the rows after it are read for the account only.
template <std::size_t N>
std::size_t RowsBeforeError(const DescriptionAccount& account) {
  std::size_t rows = 0;
  while (rows < N && account.keys[rows].origin != KeyOrigin::kError) {
    ++rows;
  }
  return rows;
}

/// Whether `map` can be looked up in. A scalar (or an invalid node) raises
/// yaml-cpp's exception at the first lookup, for `first_key`: that becomes
/// the error, and one entry says the description is no map.
bool Subscriptable(const KeyMap& map, const char* first_key, std::exception_ptr& first_error,
                   DescriptionAccount& account);

/// A map key as text; empty for a key that is no scalar.
std::string KeyText(const YAML::Node& key);

/// How a node reads in a message: "\"fast\"", "an empty value", "a sequence".
std::string DescribeNode(const YAML::Node& value);

/// Appends an entry for every key of `map` that is not in `known` (with the
/// nearest known name as a suggestion), and for every second occurrence of
/// a key, in file order.
void AccountForStrayKeys(const KeyMap& map, const std::vector<std::string>& known, const char* unknown_detail,
                         DescriptionAccount& account);

/// The names of a table's keys.
template <class Settings, std::size_t N>
std::vector<std::string> NamesOf(const Row<Settings> (&rows)[N]) {
  std::vector<std::string> names;
  names.reserve(N);
  for (const Row<Settings>& row : rows) {
    names.emplace_back(row.key->name);
  }
  return names;
}

/// Marks an entry read from the file as replaced by a rule of the device
/// (a second rule adds its reason).
void MarkReplaced(KeyAccount& entry, std::string used, const char* why);

/// Marks an entry read from the file as suspect: used as written.
void MarkSuspect(KeyAccount& entry, std::string why);

/// The first entry for `key` in `account`; the table's key is always there.
KeyAccount& EntryOf(DescriptionAccount& account, const char* key);

}  // namespace vorn_io::detail
