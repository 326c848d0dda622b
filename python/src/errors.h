#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "vorn_io/description.h"

// The extension's failures, raised in Python as the classes of
// vorn_io._errors (see there for what each one means).
namespace vorn_io::python {

/// A description a device cannot be built from; `account` says key by key why,
/// when a reader has one.
class DescriptionError : public std::runtime_error {
 public:
  explicit DescriptionError(const std::string& message, std::optional<DescriptionAccount> account = std::nullopt)
      : std::runtime_error(message), account_(std::move(account)) {}
  const std::optional<DescriptionAccount>& account() const { return account_; }

 private:
  std::optional<DescriptionAccount> account_;
};

/// The motor library failed while a device was being built.
class MotorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A device used after `close()`, or closed while a call waited on it.
class ClosedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A device refused a command; the message carries the library's reason.
class RefusedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A move that had not ended when its time was up.
class MoveTimeoutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Installs the translation of these (and of yaml-cpp's exceptions) into
/// Python exceptions.
void RegisterErrorTranslation();

}  // namespace vorn_io::python
