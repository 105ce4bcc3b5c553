// What the library refuses before anything goes on the wire: frames the receive side would not read,
// destination options that would replace the SUBSCRIBE's own headers, and broker hosts or URLs whose
// text would change what is connected to. Each refusal names what it refuses without showing any part
// of a URL's user information.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "FakeCommAdapter.h"
#include "RecordingClient.h"
#include "StompFrames.h"
#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQURI.h"
#include "optional/ZQConnectionBuilder.h"

namespace velmor {
namespace {

using testing::MakeFrame;
using testing::TFakeCommAdapter;
using testing::TRecordingClient;

struct World {
  std::shared_ptr<TFakeCommAdapter> Adapter = std::make_shared<TFakeCommAdapter>();
  std::shared_ptr<TRecordingClient> Client = std::make_shared<TRecordingClient>();

  void Send(const std::string& Destination, const TStompHeaders& Headers = {}) {
    Client->Send(Destination, "body", Headers, false, false, -1);
  }
  void Subscribe(const std::string& Destination) {
    Client->Subscribe(Destination, AckModeClientIndividual, "sub-1", "", false);
  }
  void Connect(const std::string& Url) {
    Client->SetURI(CreateURI(Url, 61613));
    Client->Connect();
  }
};

struct RefusalCase {
  std::string Name;
  // Whether the client is connected (STOMP 1.2) before the action.
  bool Connected;
  std::function<void(World&)> Action;
  std::string Text;
};

void PrintTo(const RefusalCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class RefusedBeforeWritingTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedBeforeWritingTest, RaisesItsTextAndWritesNothing) {
  const RefusalCase& c = GetParam();
  World world;
  world.Client->SetCommAdapter(world.Adapter);
  if (c.Connected) {
    world.Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
    world.Connect("stomp://u:p@127.0.0.1:61613");
    world.Adapter->Written.clear();
  }
  try {
    c.Action(world);
    FAIL() << "nothing refused";
  } catch (const EMQException& error) {
    EXPECT_EQ(std::string(error.what()), c.Text);
  }
  EXPECT_TRUE(world.Adapter->Written.empty()) << world.Adapter->Written.front();
}

TStompHeaders ManyLongHeaders() {
  // 65 lines of 16005 octets with their LF, then one that takes the block past 1 MiB.
  TStompHeaders headers;
  for (int i = 0; i < 65; ++i)
    headers.push_back({"h" + std::to_string(100 + i).substr(1), std::string(16000, 'v')});
  headers.push_back({"last", std::string(9000, 'v')});
  return headers;
}

const std::string LineTooLong = "cannot be encoded: its line is longer than 16384 octets";
const std::string OwnHeader = "is not allowed: SUBSCRIBE sets that header itself";

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedBeforeWritingTest,
    ::testing::Values(
        // Frames the receive side would refuse.
        RefusalCase{"LongPropertyValue", true,
                    [](World& W) {
                      W.Send("/queue/q", {{"big", std::string(20000, 'v')}});
                    },
                    "Header \"big\" " + LineTooLong},
        RefusalCase{"LongDestination", true, [](World& W) { W.Send("/queue/" + std::string(70000, 'q')); },
                    "Header \"destination\" " + LineTooLong},
        RefusalCase{"LineLongOnlyOnceEscaped", true,
                    [](World& W) {
                      W.Send("/queue/q", {{"c", std::string(8192, ':')}});
                    },
                    "Header \"c\" " + LineTooLong},
        RefusalCase{
            "HeaderBlockOverOneMebibyte", true, [](World& W) { W.Send("/queue/q", ManyLongHeaders()); },
            "Header \"last\" cannot be encoded: the header block would be longer than 1048576 octets"},
        RefusalCase{"LongSubscribeDestination", true,
                    [](World& W) { W.Subscribe("/queue/" + std::string(20000, 'q')); },
                    "Header \"destination\" " + LineTooLong},
        // Destination options named like the SUBSCRIBE's own headers.
        RefusalCase{"OptionDestination", true,
                    [](World& W) { W.Subscribe("/queue/decoy?destination=/queue/secret"); },
                    "Destination option \"destination\" " + OwnHeader},
        RefusalCase{"OptionAckAfterAnother", true,
                    [](World& W) { W.Subscribe("/queue/q?x-max-length=5&ack=auto"); },
                    "Destination option \"ack\" " + OwnHeader},
        RefusalCase{"OptionId", true, [](World& W) { W.Subscribe("/queue/q?id=x"); },
                    "Destination option \"id\" " + OwnHeader},
        RefusalCase{"OptionReceipt", true, [](World& W) { W.Subscribe("/queue/q?receipt=r"); },
                    "Destination option \"receipt\" " + OwnHeader},
        RefusalCase{"OptionSelector", true, [](World& W) { W.Subscribe("/queue/q?selector=a>1"); },
                    "Destination option \"selector\" " + OwnHeader},
        RefusalCase{"OptionNoLocal", true, [](World& W) { W.Subscribe("/topic/t?no-local=true"); },
                    "Destination option \"no-local\" " + OwnHeader},
        RefusalCase{"OptionTransformation", true, [](World& W) { W.Subscribe("/queue/q?transformation=t"); },
                    "Destination option \"transformation\" " + OwnHeader},
        // Host texts that would add options, credentials or a path to the URL.
        RefusalCase{"HostWithOption", false,
                    [](World&) { TZQConnectionBuilder::Create("h?send.receipt=false"); },
                    "The broker host must not hold \"?\""},
        RefusalCase{"HostWithCredentials", false, [](World&) { TZQConnectionBuilder::Create("u:secret@h"); },
                    "The broker host must not hold \"@\""},
        RefusalCase{"HostWithPath", false, [](World&) { TZQConnectionBuilder::Create("h/vhost"); },
                    "The broker host must not hold \"/\""},
        RefusalCase{"HostWithBlank", false, [](World&) { TZQConnectionBuilder::Create("h h"); },
                    "The broker host must not hold a blank or control character"},
        // URLs whose password holds "@" or "?": no part of it may show in the text.
        RefusalCase{"BuilderURLHostFromPassword", false,
                    [](World&) { TZQConnectionBuilder::Create("stomp://u:se@cret@127.0.0.1"); },
                    "The broker host must not hold \"@\""},
        RefusalCase{"BuilderURLPortFromPassword", false,
                    [](World&) { TZQConnectionBuilder::Create("stomp://u:se@cr:et@127.0.0.1"); },
                    "The port of the broker URL could not be read"},
        RefusalCase{"OptionFromPassword", false,
                    [](World& W) { W.Connect("stomp://u:se@127.0.0.1:61613?cret@127.0.0.1"); },
                    "Connection URL contains unknown option number 1 (not shown: it may hold part of the "
                    "URL's user information)"},
        RefusalCase{"AdapterHostFromPassword", false,
                    [](World& W) {
                      W.Client->SetCommAdapter(std::make_shared<TZQCommAdapterIndy>());
                      W.Connect("stomp://u:se@cret@127.0.0.1:61613");
                    },
                    "The host of the broker URL could not be read: a user name or password in the URL must "
                    "not hold \"@\", \"?\" or \"/\""}),
    [](const ::testing::TestParamInfo<RefusalCase>& Info) { return Info.param.Name; });

// The limits are the receive side's own: a line of exactly 16384 octets and a block of exactly 1 MiB
// go out.
TEST(RefusedBeforeWritingLimitTest, ALineAndABlockJustAtTheLimitsAreWritten) {
  World world;
  world.Client->SetCommAdapter(world.Adapter);
  world.Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
  world.Connect("stomp://u:p@127.0.0.1:61613");
  world.Adapter->Written.clear();
  world.Send("/queue/q", {{"h", std::string(16384 - 2, 'v')}});
  ASSERT_EQ(world.Adapter->Written.size(), 1u);

  // "SEND\n" and the "destination" and "content-length" lines take 43 octets, the blank line one.
  TStompHeaders headers = ManyLongHeaders();
  const size_t used = 43 + 65 * 16005 + 1;
  headers.back().Value.resize(1024 * 1024 - used - 6);
  world.Send("/queue/q", headers);
  ASSERT_EQ(world.Adapter->Written.size(), 2u);
  EXPECT_EQ(world.Adapter->Written[1].find("\n\nbody"), 1024u * 1024u - 2);
}

}  // namespace
}  // namespace velmor
