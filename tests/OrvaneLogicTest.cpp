#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "ConnectLogic.h"
#include "ZQMQInterfaces.h"

namespace orvane {
namespace {

struct URLCase {
  std::string Name;
  TConnectFields Fields;
  std::string Text;
  bool Valid;
};

std::ostream& operator<<(std::ostream& out, const URLCase& c) {
  return out << c.Name;
}

class OrvaneURLTest : public testing::TestWithParam<URLCase> {};

TEST_P(OrvaneURLTest, ShowsTheURLOrTheError) {
  const URLCase& c = GetParam();
  const TURLText url = ComposeURL(c.Fields);
  EXPECT_EQ(url.Text, c.Text);
  EXPECT_EQ(url.Valid, c.Valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrvaneURLTest,
    testing::Values(
        URLCase{"Defaults", DefaultFields(), "stomp://localhost", true},
        URLCase{"OtherPort", {"localhost", "1234", "u", "p", ""}, "stomp://localhost:1234", true},
        URLCase{"PortNoNumber", {"localhost", "12a", "u", "p", ""}, "stomp://localhost", true},
        URLCase{"PortEmpty", {"localhost", "", "u", "p", ""}, "stomp://localhost", true},
        URLCase{
            "VirtualHost", {"localhost", "61613", "u", "p", "vh"}, "stomp://localhost?connect.host=vh", true},
        URLCase{"PortFieldWinsOverURL", {"stomp://h:1234", "61613", "", "", ""}, "stomp://h", true},
        URLCase{"PortFieldReplacesURLPort", {"stomp://h:1234", "99", "", "", ""}, "stomp://h:99", true},
        URLCase{"RefusedHostText",
                {"stomp://h:abc", "61613", "u", "p", ""},
                "'abc' is not a valid integer value",
                false}),
    [](const testing::TestParamInfo<URLCase>& info) { return info.param.Name; });

class FixedLibraryInfo final : public velmor::IClientLibraryInfo {
 public:
  std::string GetName() const override { return "Velmor STOMP Client for RabbitMQ"; }
  std::string GetVersion() const override { return "9.4"; }
  std::string GetCopyright() const override { return ""; }
  velmor::IPrimitiveMapPtr GetProperties() const override { return nullptr; }
};

TEST(OrvaneTextTest, CaptionJoinsTitleLibraryNameAndVersion) {
  EXPECT_EQ(FormCaption("Orvane", FixedLibraryInfo()), "Orvane - Velmor STOMP Client for RabbitMQ 9.4");
}

TEST(OrvaneTextTest, SuccessTextNamesTheServer) {
  EXPECT_EQ(SuccessText("RabbitMQ/3.12.1"),
            "Connect was successful, server is: \nRabbitMQ/3.12.1\n\n(click Ok to disconnect)");
}

}  // namespace
}  // namespace orvane
