// The connection factory without a broker: its defaults, its refusals, what it writes into the transport
// and who owns the transport, and the library information.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
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

  std::shared_ptr<TZQAbstractTransport> LastTransport() const { return FLast.lock(); }
  bool MadeTransport() const { return FMade; }

 protected:
  std::shared_ptr<TZQAbstractTransport> CreateTransport() const override {
    std::shared_ptr<TZQAbstractTransport> transport = TZQMQTransportRabbitMQ::Create();
    FLast = transport;
    FMade = true;
    return transport;
  }

 private:
  mutable std::weak_ptr<TZQAbstractTransport> FLast;
  mutable bool FMade = false;
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
  EXPECT_EQ(TZQConnectionFactory("stomp://broker:1234").GetUserName(), "vorda");
}

struct PortCase {
  const char* URL;
  const char* Port;
};

void PrintTo(const PortCase& Case, std::ostream* Out) {
  *Out << Case.URL;
}

class ConnectionFactoryPortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(ConnectionFactoryPortTest, TransportGetsTheURLWithAPortWhileTheFactoryReadsItBackAsGiven) {
  TRecordingFactory factory("u", "p", GetParam().URL);
  const IConnectionPtr connection = factory.CreateConnection();

  EXPECT_EQ(factory.GetBrokerURL(), GetParam().URL);
  EXPECT_EQ(factory.LastTransport()->GetURI()->GetPort(), GetParam().Port);
}

INSTANTIATE_TEST_SUITE_P(URLs, ConnectionFactoryPortTest,
                         ::testing::Values(PortCase{"stomp://127.0.0.1", "61613"},
                                           PortCase{"stomp://broker:1234", "1234"},
                                           PortCase{"stomp://[::1]", "61613"}));

TEST(ConnectionFactoryTest, EmptyURLIsRefusedBeforeATransportIsMade) {
  TRecordingFactory factory("u", "p", "");

  EXPECT_EQ(testing::MessageOf<EConfigurationException>([&] { factory.CreateConnection(); }),
            "BrokerURL not set.");
  EXPECT_EQ(testing::MessageOf<EConfigurationException>([&] { factory.CreateContext(); }),
            "BrokerURL not set.");
  EXPECT_FALSE(factory.MadeTransport());
}

TEST(ConnectionFactoryTest, UnsupportedSchemeIsRefusedAndLeavesNoTransportBehind) {
  TRecordingFactory factory("u", "p", "stomp+ssl://127.0.0.1");

  EXPECT_EQ(testing::MessageOf<EConfigurationException>([&] { factory.CreateConnection(); }),
            "Unsupported Protocol \"stomp+ssl\" !");
  EXPECT_TRUE(factory.MadeTransport());
  EXPECT_EQ(factory.LastTransport(), nullptr);
}

TEST(ConnectionFactoryTest, ConnectionOwnsTheTransportAndBothOutliveTheFactory) {
  std::weak_ptr<TZQAbstractTransport> transport;
  IConnectionPtr connection;
  {
    TRecordingFactory factory("stomp://127.0.0.1:1");
    connection = factory.CreateConnection();
    transport = factory.LastTransport();
  }
  EXPECT_EQ(transport.use_count(), 1);

  connection.reset();
  EXPECT_TRUE(transport.expired());
}

struct ClientIDCase {
  const char* ClientID;
};

void PrintTo(const ClientIDCase& Case, std::ostream* Out) {
  *Out << '"' << Case.ClientID << '"';
}

class ConnectionFactoryClientIDTest : public ::testing::TestWithParam<ClientIDCase> {};

TEST_P(ConnectionFactoryClientIDTest, ReachesTransportAndConnection) {
  TRecordingFactory factory("stomp://127.0.0.1");
  factory.SetClientID(GetParam().ClientID);
  const IConnectionPtr connection = factory.CreateConnection();

  EXPECT_EQ(factory.LastTransport()->GetClientID(), GetParam().ClientID);
  EXPECT_EQ(connection->GetClientID(), GetParam().ClientID);
  // Only a client id that was set refuses a second one.
  const std::string second =
      testing::MessageOf<EIllegalStateException>([&] { connection->SetClientID("x"); });
  EXPECT_EQ(second, *GetParam().ClientID ? "The ClientID has already been set" : "<nothing raised>");
}

INSTANTIATE_TEST_SUITE_P(Ids, ConnectionFactoryClientIDTest,
                         ::testing::Values(ClientIDCase{""}, ClientIDCase{"client-7"}), [](const auto& Info) {
                           return std::string(*Info.param.ClientID ? "Set" : "Empty");
                         });

TEST(ConnectionFactoryTest, HandsOutANewLibraryInformationOnEveryCall) {
  const IConnectionFactoryPtr factory = std::make_shared<TZQConnectionFactory>();
  const auto provider = std::dynamic_pointer_cast<ILibraryInfoProvider>(factory);
  ASSERT_NE(provider, nullptr);

  const IClientLibraryInfoPtr first = provider->GetClientLibraryInfo();
  const IClientLibraryInfoPtr second = provider->GetClientLibraryInfo();
  EXPECT_NE(first, second);
  EXPECT_EQ(first->GetName(), "Velmor STOMP Client for RabbitMQ");
  EXPECT_EQ(first->GetVersion(), "9.4");
  EXPECT_EQ(first->GetCopyright(), second->GetCopyright());
  EXPECT_FALSE(first->GetCopyright().empty());
  EXPECT_TRUE(first->GetProperties()->GetNames().empty());
  EXPECT_NE(first->GetProperties(), second->GetProperties());
}

}  // namespace
}  // namespace velmor
