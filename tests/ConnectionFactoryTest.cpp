// The connection factory without a broker: its defaults, its refusals, what it writes into the transport
// and who owns the transport, and the library information.
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

TEST(ConnectionFactoryTest, ConnectionOwnsTheTransportAndBothOutliveTheFactory) {
  std::weak_ptr<TZQAbstractTransport> transport;
  IConnectionPtr connection;
  {
    TRecordingFactory factory("stomp://127.0.0.1");
    connection = factory.CreateConnection();
    transport = factory.Last;
    EXPECT_EQ(factory.GetBrokerURL(), "stomp://127.0.0.1");
  }
  ASSERT_EQ(transport.use_count(), 1);
  EXPECT_EQ(transport.lock()->GetURI()->GetPort(), "61613");

  connection.reset();
  EXPECT_TRUE(transport.expired());
}

TEST(ConnectionFactoryTest, OnlyANonEmptyClientIDIsSetOnTheConnection) {
  for (const std::string id : {"", "client-7"}) {
    TRecordingFactory factory("stomp://127.0.0.1");
    factory.SetClientID(id);
    const IConnectionPtr connection = factory.CreateConnection();

    EXPECT_EQ(factory.Last.lock()->GetClientID(), id);
    EXPECT_EQ(connection->GetClientID(), id);
    EXPECT_EQ(testing::MessageOf<EIllegalStateException>([&] { connection->SetClientID("x"); }),
              id.empty() ? "<nothing raised>" : "The ClientID has already been set");
  }
}

TEST(ConnectionFactoryTest, HandsOutANewLibraryInformationOnEveryCall) {
  const IConnectionFactoryPtr factory = std::make_shared<TZQConnectionFactory>();
  const auto provider = std::dynamic_pointer_cast<ILibraryInfoProvider>(factory);
  ASSERT_NE(provider, nullptr);

  const IClientLibraryInfoPtr first = provider->GetClientLibraryInfo();
  const IClientLibraryInfoPtr second = provider->GetClientLibraryInfo();
  EXPECT_NE(first, second);
  EXPECT_EQ(first->GetName(), "Velmor STOMP Client for RabbitMQ");
  EXPECT_EQ(first->GetVersion(), "9.4");
  EXPECT_EQ(first->GetCopyright(), "Copyright (c) 2026 the Velmor STOMP Client developers");
  EXPECT_TRUE(first->GetProperties()->GetNames().empty());
}

}  // namespace
}  // namespace velmor
