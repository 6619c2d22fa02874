// How the decoding and interface layers report failure. A function that can fail returns a
// TStatus, or a TResult when it also hands back a value: success, or failure with a reason, the
// text for the user ("Unknown file format *.gif"). An empty reason means "failed, but there is
// nothing to tell the user" (a missing file, a picture that does not decode).
//
// Those layers never show anything themselves. The caller that faces the user, the scene, a
// window, a program or the launcher, tells the user once: platform::ShowFailure
// (platform/message.h) shows the reason as it is, a command-line tool may put it into a line
// of its own. So a reason is neither lost nor shown twice, and a test reads it from the status.
#pragma once

#include <cassert>
#include <string>
#include <utility>

namespace platform {

class [[nodiscard]] TStatus {
 public:
  // Success.
  TStatus() = default;
  static TStatus Failure(std::string Reason = {}) { return TStatus(std::move(Reason)); }

  bool Ok() const { return !FFailed; }
  explicit operator bool() const { return Ok(); }
  // A failure's text for the user; empty for success and for a failure with nothing to tell.
  const std::string& Reason() const { return FReason; }

 private:
  explicit TStatus(std::string Reason) : FFailed(true), FReason(std::move(Reason)) {}

  bool FFailed = false;
  std::string FReason;
};

// A value or a failure. Made from a T (success) or from a failed TStatus; a failure's value is
// T's default (null for a pointer).
template <class T>
class [[nodiscard]] TResult {
 public:
  TResult(T Value) : FValue(std::move(Value)) {}
  TResult(TStatus Failure) : FStatus(std::move(Failure)) { assert(!FStatus.Ok()); }

  bool Ok() const { return FStatus.Ok(); }
  explicit operator bool() const { return Ok(); }
  const TStatus& Status() const { return FStatus; }
  const std::string& Reason() const { return FStatus.Reason(); }

  T& Value() & { return FValue; }
  const T& Value() const& { return FValue; }
  // Moves the value out of a result that is not kept: LoadPicture(Path).Value().
  T Value() && { return std::move(FValue); }

 private:
  T FValue{};
  TStatus FStatus;
};

}  // namespace platform
