#pragma once
// The error model of the whole system: every error carries a message text and derives from
// Exception; failed text conversions raise EConvertError.

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::wstring message) : message_(std::move(message)) {}
  const std::wstring& Message() const noexcept { return message_; }
  // The error class's name, as the "Anwendungsfehler" box shows it.
  virtual const char* ClassName() const noexcept { return "Exception"; }
  // The message as UTF-8, for diagnostics outside the system (test output, crash reports).
  const char* what() const noexcept override;

 private:
  std::wstring message_;
  mutable std::string utf8_;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};
