// Arbitrary octet streams through the adapter's frame reader, over a socketpair: each input must end
// in frames or the library's errors, never in a crash, a hang or unbounded memory. A frame whose error
// leaves the stream at an unknown place (a body over the limit among them) must close the connection.
//
// The first octet chooses the protocol version (bits 0-1), incoming heart-beats (bit 2), heart-beat
// waits between reads (bit 3), Receive instead of ReadOneMessage (bit 4) and the header escaping of a
// connection to RabbitMQ (bit 5); the rest is the stream. A writer thread sends it and then closes its
// end, so every wait of the reader ends.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"

namespace {

void WriteAll(int Handle, const uint8_t* Data, size_t Size) {
  size_t sent = 0;
  while (sent < Size) {
    const ssize_t written = send(Handle, Data + sent, Size - sent, MSG_NOSIGNAL);
    if (written <= 0)
      break;
    sent += static_cast<size_t>(written);
  }
  close(Handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1 || Size > 1024 * 1024)
    return 0;
  const uint8_t mode = Data[0];
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    return 0;

  velmor::TZQCommAdapterIndy adapter;
  adapter.SetVersion(static_cast<velmor::TStompVersion>(mode % 3 + 1));
  if ((mode & 4) != 0)
    adapter.SetIncomingHeartbeat(1000);
  adapter.SetEscapeV10Headers((mode & 32) != 0);
  size_t seen = 0;
  adapter.SetOnFrame([&](const velmor::IStompFramePtr& Frame) {
    seen += Frame->GetCommand().size() + Frame->GetBody().size() + Frame->GetHeaders().size();
  });
  adapter.Adopt(ends[0]);

  std::thread writer(WriteAll, ends[1], Data + 1, Size - 1);
  for (size_t round = 0; round < 2 * Size + 16 && adapter.IsConnected(); ++round) {
    if ((mode & 8) != 0 && (mode & 4) != 0) {
      try {
        adapter.WaitHeartbeat(1);
      } catch (const velmor::EVelmorError&) {
        if (!adapter.IsConnected())
          break;
      }
    }
    try {
      if ((mode & 16) != 0) {
        adapter.Receive();
      } else {
        adapter.ReadOneMessage(1, round % 2 == 0);
      }
    } catch (const velmor::EVelmorError& error) {
      if (std::strncmp(error.what(), "Frame body longer than", 22) == 0 && adapter.IsConnected())
        __builtin_trap();
      if (!adapter.IsConnected())
        break;
    }
  }
  adapter.Disconnect();
  writer.join();
  return seen == SIZE_MAX ? 1 : 0;
}
