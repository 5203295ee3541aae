#pragma once
// How the host library fails: one way for the low-level client and the preview service alike.
//
// A call that has nothing to return gives a Status; one that does gives an Outcome<T>, which holds
// either the value or an Error. An Error has
//  - a kind, for the host's decision (retry, report, ignore a cancel),
//  - a code, one of those below or the renderer's own Error code, to compare and log,
//  - a message, for people; never compared.
// A failed Outcome has no value to read: value(), * and -> throw BadOutcomeAccess rather than hand
// out a default-made value, and error() throws on a success.
//
// Codes by kind (docs/host_guide.md lists them with what a host does):
//   kCancelled       CANCELLED
//   kRendererError   the renderer's Error or FatalError code (INVALID_FONT_COUNT, ...)
//   kStartFailed     RENDERER_START_FAILED
//   kTimeout         REPLY_TIMEOUT
//   kProtocol        STREAM_ENDED, WRITE_FAILED, MALFORMED_REPLY, UNEXPECTED_REPLY
//   kInvalidRequest  REQUEST_TOO_LARGE, CALLED_FROM_CALLBACK
//   kInternal        INTERNAL
// Per-font codes (RENDERER_CRASHED, REPLY_TOO_LARGE) are not failures of a call: they arrive in a
// result's `error` field like the renderer's per-font codes.

#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace kfp::client {

enum class ErrorKind {
  kCancelled,       // superseded by a newer request, or cancel()
  kRendererError,   // the renderer answered with an Error frame
  kStartFailed,     // no renderer could be started and greeted
  kTimeout,         // a reply did not come within the reply timeout
  kProtocol,        // the stream broke: it ended, a write failed, a reply was malformed or unasked
  kInvalidRequest,  // the host asked for something that cannot be done; no renderer is at fault
  kInternal,        // a fault of this library
};

const char* errorKindName(ErrorKind kind);

namespace codes {
inline constexpr std::string_view kCancelled = "CANCELLED";
inline constexpr std::string_view kStartFailed = "RENDERER_START_FAILED";
inline constexpr std::string_view kReplyTimeout = "REPLY_TIMEOUT";
// The renderer closed its output (it exited) where a reply was due.
inline constexpr std::string_view kStreamEnded = "STREAM_ENDED";
// The renderer stopped reading: its input is closed or full for longer than the timeout.
inline constexpr std::string_view kWriteFailed = "WRITE_FAILED";
// Bytes that are no frame, or a frame of the expected type without the expected fields.
inline constexpr std::string_view kMalformedReply = "MALFORMED_REPLY";
// A well-formed frame that answers something else: another type, request id, font or count.
inline constexpr std::string_view kUnexpectedReply = "UNEXPECTED_REPLY";
// The request does not fit in one frame (a text or a font list beyond the frame limits).
inline constexpr std::string_view kRequestTooLarge = "REQUEST_TOO_LARGE";
// A result callback called back into the service for something that would wait for itself.
inline constexpr std::string_view kCalledFromCallback = "CALLED_FROM_CALLBACK";
inline constexpr std::string_view kInternal = "INTERNAL";
}  // namespace codes

class Error {
 public:
  Error(ErrorKind kind, std::string_view code, std::string message = {})
      : kind_(kind), code_(code), message_(std::move(message)) {}

  ErrorKind kind() const { return kind_; }
  const std::string& code() const { return code_; }
  const std::string& message() const { return message_; }
  // "renderer error INVALID_FONT_COUNT", with ": message" when there is one.
  std::string describe() const;

 private:
  ErrorKind kind_;
  std::string code_;
  std::string message_;
};

std::ostream& operator<<(std::ostream& out, const Error& error);

// Thrown by reading the value of a failed outcome, or the error of a successful one.
class BadOutcomeAccess : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class Status {
 public:
  Status() = default;  // success
  Status(Error error) : error_(std::in_place, std::move(error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    if (!error_) throw BadOutcomeAccess("error() of a successful status");
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

template <typename T>
class Outcome {
 public:
  Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Outcome(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return checked(), std::get<0>(state_); }
  const T& value() const& { return checked(), std::get<0>(state_); }
  T&& value() && { return checked(), std::move(std::get<0>(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  // The value, or `fallback` on a failure.
  T valueOr(T fallback) && { return ok() ? std::move(std::get<0>(state_)) : std::move(fallback); }

  const Error& error() const {
    if (ok()) throw BadOutcomeAccess("error() of a successful outcome");
    return std::get<1>(state_);
  }

 private:
  void checked() const {
    if (!ok())
      throw BadOutcomeAccess("value of a failed outcome: " + std::get<1>(state_).describe());
  }

  std::variant<T, Error> state_;
};

}  // namespace kfp::client
