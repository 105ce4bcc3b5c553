// How often the transport copies large texts on its hot paths (a received text body and header texts
// move, the properties of a sent message are copied once) and that the content-type check of every received
// text message allocates nothing. This program replaces the global operator new to count allocations of at
// least a given size.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "ZQMQTransportRabbitMQ.h"
#include "ZQStompFrame.h"
#include "ZQTextMessage.h"

namespace {

std::size_t GMinCountedSize = std::numeric_limits<std::size_t>::max();
std::size_t GCountedAllocations = 0;

}  // namespace

void* operator new(std::size_t Size) {
  if (Size >= GMinCountedSize) {
    ++GCountedAllocations;
  }
  if (void* block = std::malloc(Size == 0 ? 1 : Size)) {
    return block;
  }
  throw std::bad_alloc();
}

// Not inlined, so that the compiler does not take the free() for a mismatch with operator new.
[[gnu::noinline]] void operator delete(void* Block) noexcept {
  std::free(Block);
}

[[gnu::noinline]] void operator delete(void* Block, std::size_t /*Size*/) noexcept {
  std::free(Block);
}

namespace velmor {
namespace {

// Counts the allocations of at least MinSize bytes made while it lives.
class AllocationCounter {
 public:
  explicit AllocationCounter(std::size_t MinSize) {
    GCountedAllocations = 0;
    GMinCountedSize = MinSize;
  }
  ~AllocationCounter() { GMinCountedSize = std::numeric_limits<std::size_t>::max(); }
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  std::size_t Count() const { return GCountedAllocations; }
};

constexpr std::size_t LargeText = 64 * 1024;

TEST(TransportCopyTest, ReceivedTextBodyAndHeaderTextsMoveIntoTheMessage) {
  const auto transport = TZQMQTransportRabbitMQ::Create();
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("MESSAGE");
  frame->AddHeader("destination", "/queue/a");
  frame->AddHeader("message-id", std::string(LargeText, 'm'));
  frame->AddHeader("subscription", "sub-1");
  frame->AddHeader("content-type", "text/plain; charset=utf-8");
  frame->AddHeader("x-large", std::string(LargeText, 'v'));
  frame->SetBody(std::string(LargeText, 'x'));

  std::size_t copies = 0;
  {
    const AllocationCounter counter(LargeText);
    transport->OnMessageFrame(frame);
    copies = counter.Count();
  }
  EXPECT_EQ(copies, 0u);
  const auto text = std::dynamic_pointer_cast<ITextMessage>(transport->GetLastMessage());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetTextRef(), std::string(LargeText, 'x'));
  EXPECT_EQ(text->GetMessageID(), std::string(LargeText, 'm'));
  EXPECT_EQ(text->GetStringProperty("x-large"), std::string(LargeText, 'v'));
  EXPECT_TRUE(frame->GetBody().empty());
}

TEST(TransportCopyTest, ContentTypeCheckAllocatesNothing) {
  const std::string withCharset = "text/plain; charset=UTF-8";
  const std::string withParameters = "text/plain;format=flowed;Charset=Utf-8";
  const std::string withoutParameters = "text/plain-without-any-parameters-at-all";
  std::size_t allocations = 0;
  {
    const AllocationCounter counter(1);
    TZQAbstractTransport::CheckContentType(withCharset);
    TZQAbstractTransport::CheckContentType(withParameters);
    TZQAbstractTransport::CheckContentType(withoutParameters);
    allocations = counter.Count();
  }
  EXPECT_EQ(allocations, 0u);
}

TEST(TransportCopyTest, EachPropertyIsCopiedOnceIntoTheSendFrame) {
  const auto transport = TZQMQTransportRabbitMQ::Create();
  TZQTextMessage message{std::weak_ptr<TZQStompClient>{}};
  message.SetText("x");
  const std::string name(LargeText, 'n');
  const std::string value(LargeText, 'v');
  message.SetStringProperty(name, value);

  TZQStompFrame frame;
  std::size_t copies = 0;
  {
    const AllocationCounter counter(LargeText);
    transport->MessageToFrame(message, frame, 3, std::chrono::milliseconds{0});
    copies = counter.Count();
  }
  // The name and the value, each once.
  EXPECT_EQ(copies, 2u);
  EXPECT_EQ(frame.GetHeader(name), value);
}

TEST(TransportCopyTest, TextSetOnAMessageIsMovedIn) {
  TZQTextMessage message{std::weak_ptr<TZQStompClient>{}};
  std::string text(LargeText, 't');
  std::size_t copies = 0;
  {
    const AllocationCounter counter(LargeText);
    message.SetText(std::move(text));
    copies = counter.Count();
  }
  EXPECT_EQ(copies, 0u);
  EXPECT_EQ(message.GetTextRef().size(), LargeText);
}

}  // namespace
}  // namespace velmor
