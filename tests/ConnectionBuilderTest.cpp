#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ZQAbstractCommAdapter.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQURI.h"
#include "optional/ZQConnectionBuilder.h"

namespace velmor {
namespace {

using TSetup = std::function<void(const IConnectionBuilderPtr&)>;

struct BuildCase {
  std::string Name;
  std::string HostOrURL;
  TSetup Setup;
  std::string URL;
};

class ConnectionBuilderURLTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(ConnectionBuilderURLTest, BuildsTheExpectedURL) {
  const BuildCase& c = GetParam();
  const IConnectionBuilderPtr builder = TZQConnectionBuilder::Create(c.HostOrURL);
  if (c.Setup)
    c.Setup(builder);
  EXPECT_EQ(builder->BuildURI(), c.URL);
}

const TSetup NoSetup;

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionBuilderURLTest,
    ::testing::Values(
        BuildCase{"PlainHost", "localhost", NoSetup, "stomp://localhost"},
        BuildCase{"OtherPortWritten", "localhost", [](auto& b) { b->SetPort(1234); },
                  "stomp://localhost:1234"},
        BuildCase{"DefaultPortOmitted", "stomp://h:1234", [](auto& b) { b->SetPort(61613); }, "stomp://h"},
        BuildCase{"URLDropsUserPathAndQuery", "STOMP://u:p@broker:99/path?send.receipt=true", NoSetup,
                  "STOMP://broker:99"},
        BuildCase{"AllVersionsNewestFirst", "localhost",
                  [](auto& b) { b->SetStompVersion("1.1")->SetStompVersion("1.0")->SetStompVersion("1.2"); },
                  "stomp://localhost?connect.accept-version=1.2,1.1,1.0"},
        BuildCase{
            "FullExampleInFixedOrder", "localhost",
            [](auto& b) {
              b->AddParam("custom", "1")
                  ->SetSubscribeReceipt(true)
                  ->SetSendReceipt(true)
                  ->SetDisconnectReceipt(true)
                  ->SetVirtualHost("vh")
                  ->SetHeartBeat(10000, 10000)
                  ->SetStompVersion("1.1")
                  ->SetUser("u")
                  ->SetPassword("p");
            },
            "stomp://localhost?connect.accept-version=1.1&connect.heart-beat=10000,10000&connect.host=vh"
            "&disconnect.receipt=true&send.receipt=true&subscribe.receipt=true&custom=1"},
        BuildCase{"AddParamEmptyValueRemoves", "localhost",
                  [](auto& b) { b->AddParam("a", "1")->AddParam("b", "2")->AddParam("A", ""); },
                  "stomp://localhost?b=2"},
        BuildCase{"IPv6HostGetsBrackets", "::1", [](auto& b) { b->SetPort(5); }, "stomp://[::1]:5"},
        BuildCase{"VirtualHostWithBlankQuoted", "localhost", [](auto& b) { b->SetVirtualHost("my vhost"); },
                  "stomp://localhost?\"connect.host=my vhost\""}),
    [](const ::testing::TestParamInfo<BuildCase>& info) { return info.param.Name; });

// What a URL reads back as, through the URI parser and the option splitter.
struct RoundTripCase {
  std::string Name;
  std::string HostOrURL;
  std::string VirtualHost;
  std::string ParamValue;
  std::string Host;
  bool IsIPv6;
};

class ConnectionBuilderRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ConnectionBuilderRoundTripTest, ParsesBackToEveryItem) {
  const RoundTripCase& c = GetParam();
  const IConnectionBuilderPtr builder = TZQConnectionBuilder::Create(c.HostOrURL);
  builder->SetPort(1234)->SetStompVersion("1.2")->SetHeartBeat(1, 2)->SetVirtualHost(c.VirtualHost);
  builder->SetSendReceipt(true)->AddParam("extra", c.ParamValue)->AddParam("last", "x");

  const IURIPtr uri = TZQURI::Create(builder->BuildURI());
  EXPECT_EQ(uri->GetProtocol(), "stomp");
  EXPECT_EQ(uri->GetHost(), c.Host);
  EXPECT_EQ(uri->GetIsIPv6(), c.IsIPv6);
  EXPECT_EQ(uri->GetPort(), "1234");
  // As the STOMP client reads the options.
  TZQConnectionParams params;
  params.Load(uri);
  const std::vector<std::string>& items = params.GetOptionList();
  EXPECT_THAT(items, ::testing::ElementsAre("connect.accept-version=1.2", "connect.heart-beat=1,2",
                                            "connect.host=" + c.VirtualHost, "send.receipt=true",
                                            "extra=" + c.ParamValue, "last=x"));
  EXPECT_EQ(OptionValue(items, "connect.host"), c.VirtualHost);
  EXPECT_EQ(OptionValue(items, "extra"), c.ParamValue);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionBuilderRoundTripTest,
    ::testing::Values(RoundTripCase{"Plain", "broker", "vh", "v", "broker", false},
                      RoundTripCase{"IPv6Loopback", "stomp://[::1]", "vh", "v", "::1", true},
                      RoundTripCase{"InjectedOption", "broker", "a&send.receipt=true", "b&c", "broker",
                                    false},
                      RoundTripCase{"LeadingQuote", "broker", "\"q\"", "\"", "broker", false},
                      RoundTripCase{"QueryAndAuthorityMarks", "broker", "/v?h@x:1", "[p]/?", "broker", false},
                      RoundTripCase{"QuestionMarksOnly", "broker", "v?h", "why?", "broker", false}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return info.param.Name; });

}  // namespace
}  // namespace velmor
