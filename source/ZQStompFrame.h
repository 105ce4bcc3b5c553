#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "ZQStompTypes.h"

namespace velmor {

// One STOMP frame: command, ordered headers, body octets. Built and read by one thread at a time.
class IStompFrame {
 public:
  virtual ~IStompFrame() = default;

  virtual const std::string& GetBody() const = 0;
  virtual const std::string& GetCommand() const = 0;
  virtual void SetBody(std::string Body) = 0;
  virtual void SetCommand(std::string Command) = 0;
  // Adds a header; a name that already has a non-empty value puts the new header first.
  virtual void AddHeader(const std::string& Name, const std::string& Value) = 0;
  // The "content-length" header as an integer, 0 when absent or not an integer.
  virtual int32_t GetContentLength() const = 0;
  // Value of the first header named exactly Name; empty when there is none.
  virtual std::string GetHeader(const std::string& Name) const = 0;
  // The frame's own live header list.
  virtual TStompHeaders& GetHeaders() = 0;
  virtual const TStompHeaders& GetHeaders() const = 0;
  virtual TStompHeaderItem GetHeaderItem(int Index) const = 0;
  // The body as text (UTF-8).
  virtual std::string GetBodyText() const = 0;
  // Hands the body over to the caller, leaving the frame's body empty.
  virtual std::string TakeBody() = 0;

  // The value of the first header named exactly Name, without a copy; nullptr when there is none.
  const std::string* FindHeader(std::string_view Name) const {
    for (const auto& item : GetHeaders()) {
      if (item.Name == Name)
        return &item.Value;
    }
    return nullptr;
  }
  // The same, with an empty text when there is none.
  const std::string& HeaderOrEmpty(std::string_view Name) const {
    static const std::string none;
    const std::string* value = FindHeader(Name);
    return value != nullptr ? *value : none;
  }
};

using IStompFramePtr = std::shared_ptr<IStompFrame>;

class TZQStompFrame final : public IStompFrame {
 public:
  TZQStompFrame() = default;
  explicit TZQStompFrame(std::string Command) : FCommand(std::move(Command)) {}

  static IStompFramePtr Create() { return std::make_shared<TZQStompFrame>(); }
  static IStompFramePtr CreateForCommand(std::string Command) {
    return std::make_shared<TZQStompFrame>(std::move(Command));
  }

  const std::string& GetBody() const override { return FBody; }
  const std::string& GetCommand() const override { return FCommand; }
  void SetBody(std::string Body) override { FBody = std::move(Body); }
  std::string TakeBody() override { return std::move(FBody); }
  // The body itself, for readers that fill it in place.
  std::string& Body() { return FBody; }
  // Empties the body, keeping its room when it is small.
  void ClearBody() {
    if (FBody.capacity() > MaxKeptBody) {
      std::string().swap(FBody);
    } else {
      FBody.clear();
    }
  }
  // Room of a body that ClearBody keeps.
  static constexpr size_t MaxKeptBody = 1024 * 1024;
  void SetCommand(std::string Command) override { FCommand = std::move(Command); }
  void AddHeader(const std::string& Name, const std::string& Value) override;
  int32_t GetContentLength() const override;
  std::string GetHeader(const std::string& Name) const override;
  TStompHeaders& GetHeaders() override { return FHeaders; }
  const TStompHeaders& GetHeaders() const override { return FHeaders; }
  TStompHeaderItem GetHeaderItem(int Index) const override;
  std::string GetBodyText() const override { return FBody; }

 private:
  std::string FCommand;
  std::string FBody;
  TStompHeaders FHeaders;
};

// A received frame's size as it came (unescaped): command and header lines with their ends, the blank
// line, the body and its NUL. What the bounds on frames kept for later count.
std::size_t ReceivedOctets(const IStompFrame& Frame);

}  // namespace velmor
