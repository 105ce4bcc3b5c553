// Encode and Decode speed for typical frames, in frames/s and bytes/s.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "ZQStompDecoder.h"
#include "ZQStompEncoder.h"
#include "ZQStompFrame.h"

namespace {

using velmor::IStompFramePtr;
using velmor::TStompVersion;
using velmor::TZQStompFrame;

constexpr TStompVersion kStomp12 = 3;

IStompFramePtr SmallSend() {
  IStompFramePtr frame = TZQStompFrame::CreateForCommand("SEND");
  frame->AddHeader("destination", "/queue/bench");
  frame->AddHeader("content-length", "5");
  frame->SetBody("hello");
  return frame;
}

// A MESSAGE as RabbitMQ delivers it, with ten headers, one of them needing escapes.
IStompFramePtr MessageWithTenHeaders(std::string body) {
  IStompFramePtr frame = TZQStompFrame::CreateForCommand("MESSAGE");
  const std::vector<std::pair<std::string, std::string>> headers = {
      {"subscription", "{5A1C6E0B-3F4D-4B8E-9C2A-7D1E0F3B6A59}"},
      {"destination", "/queue/bench"},
      {"message-id", "T_{5A1C6E0B-3F4D-4B8E-9C2A-7D1E0F3B6A59}@@session-Q1nQ7pXzR0@@1"},
      {"redelivered", "false"},
      {"content-type", "text/plain"},
      {"persistent", "true"},
      {"priority", "4"},
      {"timestamp", "1733700000000"},
      {"reply-to", "/temp-queue/tmp-0"},
      {"content-length", std::to_string(body.size())},
  };
  for (const auto& [name, value] : headers)
    frame->AddHeader(name, value);
  frame->AddHeader("app-note", "a:b\\c");
  frame->SetBody(std::move(body));
  return frame;
}

std::string HeaderBlockOf(const IStompFramePtr& frame) {
  const std::string octets = velmor::Encode(*frame, kStomp12);
  return octets.substr(0, octets.find("\n\n") + 2);
}

void RunEncode(benchmark::State& state, const IStompFramePtr& frame) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::string octets = velmor::Encode(*frame, kStomp12);
    bytes += octets.size();
    benchmark::DoNotOptimize(octets);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void RunDecode(benchmark::State& state, const std::string& headerText) {
  const velmor::IStompDecoderPtr decoder = velmor::TZQStompDecoder::Create();
  for (auto _ : state) {
    IStompFramePtr frame = decoder->Decode(headerText, kStomp12);
    benchmark::DoNotOptimize(frame);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(headerText.size()));
}

void BM_EncodeSmallSend(benchmark::State& state) {
  RunEncode(state, SmallSend());
}
BENCHMARK(BM_EncodeSmallSend);

void BM_EncodeMessageTenHeaders(benchmark::State& state) {
  RunEncode(state, MessageWithTenHeaders(std::string(100, 'x')));
}
BENCHMARK(BM_EncodeMessageTenHeaders);

void BM_EncodeMessage64KiBBody(benchmark::State& state) {
  RunEncode(state, MessageWithTenHeaders(std::string(64 * 1024, 'x')));
}
BENCHMARK(BM_EncodeMessage64KiBBody);

// The decoder sees only the header block; the body is read by the adapter.
void BM_DecodeSmallMessage(benchmark::State& state) {
  RunDecode(state, "MESSAGE\ndestination:/queue/bench\ncontent-length:5\n\n");
}
BENCHMARK(BM_DecodeSmallMessage);

void BM_DecodeReceipt(benchmark::State& state) {
  RunDecode(state, "RECEIPT\nreceipt-id:12345\n\n");
}
BENCHMARK(BM_DecodeReceipt);

void BM_DecodeMessageTenHeaders(benchmark::State& state) {
  RunDecode(state, HeaderBlockOf(MessageWithTenHeaders(std::string(100, 'x'))));
}
BENCHMARK(BM_DecodeMessageTenHeaders);

void BM_DecodeMessage64KiBBodyHeaders(benchmark::State& state) {
  RunDecode(state, HeaderBlockOf(MessageWithTenHeaders(std::string(64 * 1024, 'x'))));
}
BENCHMARK(BM_DecodeMessage64KiBBodyHeaders);

}  // namespace

BENCHMARK_MAIN();
