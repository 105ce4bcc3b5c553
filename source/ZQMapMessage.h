#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQMQInterfaces.h"
#include "ZQMessage.h"
#include "ZQMgmtInterfaces.h"
#include "ZQPrimitiveMap.h"
#include "ZQTypes.h"

namespace velmor {

// A message of named typed entries. Only the raw body (IMessageContent) travels: the application's
// message transformer turns the entries into it on send and back on receive.
class TZQMapMessage final : public TZQMessage, public IMessageContent, public IMapMessage {
 public:
  explicit TZQMapMessage(std::weak_ptr<TZQStompClient> Transport);
  // For a received MESSAGE frame (Content is its body) and for the library copy of a message to send;
  // the map starts empty either way.
  TZQMapMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content, TSubscriptionText Subscription);

  // IMessageContent
  void SetContent(const std::string& Content) override { FContent = Content; }
  std::string GetContent() const override { return FContent; }

  // IMapMessage
  PMStrings GetMapNames() const override { return FMap->GetNames(); }
  bool ItemExists(const std::string& Name) const override;
  void SetBoolean(const std::string& Name, bool Value) override { FMap->SetBoolean(Name, Value); }
  bool GetBoolean(const std::string& Name) const override { return FMap->GetBoolean(Name); }
  void SetInt(const std::string& Name, int32_t Value) override { FMap->SetInt(Name, Value); }
  int32_t GetInt(const std::string& Name) const override { return FMap->GetInt(Name); }
  void SetString(const std::string& Name, const std::string& Value) override { FMap->SetString(Name, Value); }
  std::string GetString(const std::string& Name) const override { return FMap->GetString(Name); }

  TZQMessageKind GetKind() const override { return TZQMessageKind::Map; }

 private:
  const IPrimitiveMapPtr FMap = TPrimitiveMap::Create();
};

}  // namespace velmor
