// The connection factory without a broker: its defaults, and its refusals that leave no transport behind.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MessageOf.h"
#include "ZQAbstractConnectionFactory.h"
#include "ZQConnectionFactory.h"
#include "ZQExceptions.h"
#include "ZQMQTransportRabbitMQ.h"

namespace velmor {
namespace {

// A RabbitMQ factory that remembers, without owning it, the last transport it made.
class TRecordingFactory final : public TZQAbstractConnectionFactory {
 public:
  using TZQAbstractConnectionFactory::TZQAbstractConnectionFactory;

  mutable std::weak_ptr<TZQAbstractTransport> Last;
  mutable int Made = 0;

 protected:
  std::shared_ptr<TZQAbstractTransport> CreateTransport() const override {
    std::shared_ptr<TZQAbstractTransport> transport = TZQMQTransportRabbitMQ::Create();
    Last = transport;
    ++Made;
    return transport;
  }
};

TEST(ConnectionFactoryTest, DefaultsToTheLocalBrokerWithTheDefaultCredential) {
  const TZQConnectionFactory factory;

  EXPECT_EQ(factory.GetUserName(), "vorda");
  EXPECT_EQ(factory.GetPassword(), "vorda");
  EXPECT_EQ(factory.GetBrokerURL(), "stomp://127.0.0.1");
  EXPECT_EQ(factory.GetSendTimeout(), -1);
  EXPECT_EQ(factory.GetConnectTimeout(), 0);
  EXPECT_FALSE(factory.GetApplyConnectTimeout());
  EXPECT_EQ(factory.GetClientID(), "");
  EXPECT_EQ(TZQConnectionFactory("stomp://broker:1234").GetPassword(), "vorda");
  EXPECT_EQ(factory.GetClientLibraryInfo()->GetCopyright(),
            "Copyright (c) 2026 the Velmor STOMP Client developers");
}

TEST(ConnectionFactoryTest, RefusesAnEmptyURLAndAnUnsupportedSchemeLeavingNoTransportBehind) {
  TRecordingFactory empty("u", "p", "");
  EXPECT_EQ(testing::MessageOf<EConfigurationException>([&] { empty.CreateContext(); }),
            "BrokerURL not set.");
  EXPECT_EQ(empty.Made, 0);

  TRecordingFactory secure("u", "p", "stomp+ssl://127.0.0.1");
  EXPECT_EQ(testing::MessageOf<EConfigurationException>([&] { secure.CreateConnection(); }),
            "Unsupported Protocol \"stomp+ssl\" !");
  EXPECT_EQ(secure.Made, 1);
  EXPECT_TRUE(secure.Last.expired());
}

}  // namespace
}  // namespace velmor
