#pragma once

#include <stdexcept>
#include <string>

namespace velmor {

// Root of every error the library raises. Each error carries its exact English message text.
class EVelmorError : public std::runtime_error {
 public:
  explicit EVelmorError(const std::string& message) : std::runtime_error(message) {}
};

// Base of the messaging errors.
class EMQException : public EVelmorError {
 public:
  using EVelmorError::EVelmorError;
};

class EIllegalStateException : public EMQException {
 public:
  using EMQException::EMQException;
};

class EUnsupportedOperationException : public EMQException {
 public:
  using EMQException::EMQException;
};

class EIllegalArgumentException : public EMQException {
 public:
  using EMQException::EMQException;
};

class EConfigurationException : public EMQException {
 public:
  using EMQException::EMQException;
};

// STOMP protocol errors: malformed frames, broker ERROR frames, missing heart-beats.
class EZQStompError : public EMQException {
 public:
  using EMQException::EMQException;
};

class EZQNoCommAdapterInstalled final : public EZQStompError {
 public:
  using EZQStompError::EZQStompError;
};

class EZQReservedProperty final : public EZQStompError {
 public:
  using EZQStompError::EZQStompError;
};

class EZQStompClientNotConnectedError final : public EZQStompError {
 public:
  using EZQStompError::EZQStompError;
};

class EZQStompInvalidTransactionIdError final : public EZQStompError {
 public:
  using EZQStompError::EZQStompError;
};

// The broker answered with an ERROR frame.
class EZQStompServerErrorMessage final : public EZQStompError {
 public:
  using EZQStompError::EZQStompError;
};

class EZQStompServerHeartbeatMissing final : public EZQStompError {
 public:
  using EZQStompError::EZQStompError;
};

// These two stand beside the messaging errors, not under them.
class ENoMessageTransformer final : public EVelmorError {
 public:
  using EVelmorError::EVelmorError;
};

class EDuplicateConsumerIDException final : public EVelmorError {
 public:
  using EVelmorError::EVelmorError;
};

// Integer overflow and out-of-range conversions raise this instead of wrapping.
class ERangeError final : public EVelmorError {
 public:
  using EVelmorError::EVelmorError;
};

// A failed internal consistency check. The message is the check's text (or "Assertion failure")
// followed by the unit and line that made the check, e.g. "Assertion failure (ZQStompDecoder, line 139)".
class EAssertionFailed final : public EVelmorError {
 public:
  EAssertionFailed(const std::string& text, const char* unit, int line);
};

// Raises EAssertionFailed unless the condition holds. Active in every build type.
inline void Check(bool condition, const char* unit, int line, const char* text = "Assertion failure") {
  if (!condition) {
    throw EAssertionFailed(text, unit, line);
  }
}

}  // namespace velmor
