#include "VelmorThread.h"

#include <exception>
#include <limits>

#include "KestrunLogic.h"
#include "ZQExceptions.h"
#include "ZQText.h"

namespace kestrun {

namespace {

constexpr int32_t ReceiveTimeoutMs = 1000;

// Length in characters of a UTF-8 text: every octet that does not continue a sequence starts one.
int64_t CharacterCount(const std::string& Text) {
  int64_t Count = 0;
  for (const char C : Text) {
    if ((static_cast<unsigned char>(C) & 0xC0) != 0x80) {
      ++Count;
    }
  }
  return Count;
}

// Counts its receiver down on every way out of the receiver's body.
class TCountDownOnExit final {
 public:
  explicit TCountDownOnExit(TCompletionLatch& Latch) : FLatch(Latch) {}
  ~TCountDownOnExit() { FLatch.CountDown(); }
  TCountDownOnExit(const TCountDownOnExit&) = delete;
  TCountDownOnExit& operator=(const TCountDownOnExit&) = delete;

 private:
  TCompletionLatch& FLatch;
};

}  // namespace

std::string QueueName(int32_t Index) {
  return "ExampleQueue." + std::to_string(Index);
}

uint32_t ComputeRate(int64_t Received, std::chrono::steady_clock::duration Elapsed) {
  const int64_t ElapsedMs =
      std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::milliseconds>(Elapsed).count());
  const double Rate = static_cast<double>(Received) / static_cast<double>(ElapsedMs) * 1000.0;
  if (!(Rate >= 0.0 && Rate < 4294967296.0)) {
    throw velmor::ERangeError("Range check error");
  }
  return static_cast<uint32_t>(Rate);
}

void TCompletionLatch::CountDown() {
  {
    const std::lock_guard Lock(FMutex);
    --FCount;
  }
  FChanged.notify_all();
}

bool TCompletionLatch::Wait(std::stop_token Stop) {
  std::unique_lock Lock(FMutex);
  return FChanged.wait(Lock, Stop, [this] { return FCount <= 0; });
}

TTestRun::TTestRun(velmor::IConnectionFactoryPtr Factory, const TTestSettings& Settings, ITestSinkPtr Sink)
    : FFactory(std::move(Factory)),
      FSettings(Settings),
      FSink(std::move(Sink)),
      FReceiversDone(std::max(0, Settings.ThreadCount)) {
  FThreads.reserve(1 + 2 * static_cast<size_t>(std::max(0, Settings.ThreadCount)));
  // The measured span begins with the result thread, before any connection exists.
  FThreads.emplace_back([this](std::stop_token Stop) { ResultBody(Stop); });
  for (int32_t Index = 0; Index < Settings.ThreadCount; ++Index) {
    const std::string Queue = QueueName(Index);
    FThreads.emplace_back([this, Queue](std::stop_token Stop) { SenderBody(Stop, Queue); });
    FThreads.emplace_back([this, Queue](std::stop_token Stop) { ReceiverBody(Stop, Queue); });
  }
}

TTestRun::~TTestRun() {
  Stop();
}

void TTestRun::Stop() {
  for (auto& Thread : FThreads) {
    Thread.request_stop();
  }
  for (auto& Thread : FThreads) {
    if (Thread.joinable()) {
      Thread.join();
    }
  }
}

void TTestRun::Log(const std::string& Text) const {
  try {
    FSink->AddLog(Text, false);
  } catch (...) {
    // A sink that cannot take a line must not end the thread that writes it.
  }
}

void TTestRun::LogError(const std::string& Text) {
  FFailed = true;
  try {
    FSink->AddLog(Text, true);
  } catch (...) {
    // As above; the run still shows as failed.
  }
}

void TTestRun::SenderBody(std::stop_token Stop, const std::string& Queue) {
  const int32_t Count = FSettings.MessageCount;
  Log(velmor::Format("Send %d messages to queue %s", {Count, Queue}));
  try {
    const std::string Payload(static_cast<size_t>(std::max(0, FSettings.PayloadLength)), 'A');
    const velmor::IMQContextPtr Context = FFactory->CreateContext();
    CloseAfter(Context, [&] {
      const velmor::IQueuePtr Destination = Context->CreateQueue(Queue);
      const velmor::IMQProducerPtr Producer = Context->CreateProducer();
      int32_t Sent = 0;
      for (; Sent < Count && !Stop.stop_requested(); ++Sent) {
        Producer->Send(Destination, Payload);
      }
      if (Sent == Count) {
        Log(velmor::Format("%d messages sent to queue %s", {Count, Queue}));
      }
    });
  } catch (const std::exception& Error) {
    LogError(Error.what());
  } catch (...) {
    LogError("Unknown error");
  }
}

void TTestRun::ReceiverBody(std::stop_token Stop, const std::string& Queue) {
  const TCountDownOnExit CountDown(FReceiversDone);
  try {
    const velmor::IConnectionPtr Connection = FFactory->CreateConnection();
    CloseAfter(Connection, [&] { ReceiveAll(Stop, Queue, Connection); });
  } catch (const std::exception& Error) {
    LogError(Error.what());
  } catch (...) {
    LogError("Unknown error");
  }
}

void TTestRun::ReceiveAll(std::stop_token Stop, const std::string& Queue,
                          const velmor::IConnectionPtr& Connection) {
  const int32_t Count = FSettings.MessageCount;
  Connection->Start();
  Log(velmor::Format("Receive %d messages from queue %s", {Count, Queue}));
  const velmor::ISessionPtr Session = Connection->CreateSession(velmor::AcknowledgeModeAuto);
  const velmor::IQueuePtr Source = Session->CreateQueue(Queue);
  const velmor::IMessageConsumerPtr Consumer = Session->CreateConsumer(Source);

  // The first message only tells that the sender has begun; its size is not checked.
  if (!Consumer->Receive(ReceiveTimeoutMs)) {
    LogError(velmor::Format("ERROR: no message received from queue %s", {Queue}));
    return;
  }
  int64_t Missing = Count - 1;
  ++FReceivedMessages;
  for (int32_t Index = 0; Index < Count - 1 && !Stop.stop_requested(); ++Index) {
    const velmor::IMessagePtr Message = Consumer->Receive(ReceiveTimeoutMs);
    if (!Message) {
      continue;
    }
    ++FReceivedMessages;
    --Missing;
    const int64_t Length = CharacterCount(As<velmor::ITextMessage>(Message)->GetTextRef());
    if (Length != FSettings.PayloadLength) {
      LogError(velmor::Format("Message %d bad message size: %d", {Index, Length}));
    }
  }
  if (Missing == 0) {
    Log(velmor::Format("%d messages received from queue %s", {Count, Queue}));
  } else {
    LogError(velmor::Format("ERROR: %d messages missing in queue %s", {Missing, Queue}));
  }
}

void TTestRun::ResultBody(std::stop_token Stop) {
  const auto Started = std::chrono::steady_clock::now();
  // A run stopped before its receivers ended has no result.
  if (!FReceiversDone.Wait(Stop))
    return;
  const auto Ended = std::chrono::steady_clock::now();
  uint32_t Rate = 0;
  try {
    Rate = ComputeRate(FReceivedMessages.load(), Ended - Started);
  } catch (const std::exception& Error) {
    LogError(Error.what());
  }
  try {
    FSink->ShowResult(Rate, FFailed);
  } catch (...) {
    // Nothing is left to tell the result to.
  }
}

}  // namespace kestrun
