#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ZQAbstractCommAdapterMQ.h"
#include "ZQCommInterfaces.h"
#include "ZQSocket.h"
#include "ZQStompFrame.h"
#include "ZQURI.h"

namespace velmor {

// The communication adapter over one TCP connection of the socket layer.
//
// Any error while a frame is being read (after its first octets, or one that leaves the stream at an
// unknown place) and any failed write closes the connection, so IsConnected is false before the error
// reaches the caller. A write that fails because the broker closed or reset the connection first reads
// what the broker sent before that: an ERROR frame there goes to the frame handler, whose error (the
// broker's own text) replaces the socket's. An ERROR frame read ends the connection: what the broker
// sent behind it and can be read without waiting is read first, its MESSAGE frames kept for
// TakeMessageFramesLeft, and the connection is closed before the ERROR goes to the frame handler.
//
// While heart-beats are negotiated, every wait for the broker's next frame keeps them, on the caller's
// thread: it writes the client's heart-beat whenever nothing was written for the outgoing interval,
// and when nothing at all came from the broker for twice its interval (the grace CheckHeartbeat
// allows), it closes the connection and raises EZQStompServerHeartbeatMissing "Heartbeat too late".
// Between calls nothing is sent or checked. Not thread-safe: one caller at a time.
class TZQCommAdapterBaseIndy : public TZQAbstractCommAdapterMQ {
 public:
  TZQCommAdapterBaseIndy();
  ~TZQCommAdapterBaseIndy() override = default;

  // Takes host, IP version and port (0..65535, else ERangeError; 0 when not a number) besides the
  // options. Nothing changes when the port is refused.
  void Init(const IURIPtr& URI) override;
  void Connect() override;
  void Disconnect() override;
  void Receive() override;
  void ReadOneMessage(int32_t Timeout, bool RaiseOnNoData) override;
  void Poll() override;
  void Write(const std::string& Data, int32_t SendTimeout) override;
  void WriteParts(std::string_view Head, std::string_view Body, std::string_view Tail,
                  int32_t SendTimeout) override;
  // Connected, and the broker has not closed or reset the connection (a check that does not wait).
  bool IsConnected() const override;
  std::vector<IStompFramePtr> TakeMessageFramesLeft() override;
  std::string GetClassName() const override { return "TZQCommAdapterBaseIndy"; }

  // Takes an already connected stream socket as the broker connection and counts as connected, without
  // the CONNECT exchange; for in-process peers (tests, fuzzing, benchmarks).
  void Adopt(int Handle);

 protected:
  // With UnlimitedWait: waits without limit for the first octet, then raises EReadTimeout when the line
  // does not end within BodyReadTimeout.
  std::string ReadLine(int32_t Timeout) override;
  bool ReadLineTimedOut() const override;
  void ReadUntilEndSep(std::string& Body, TWaitDeadline& Deadline) override;
  std::string ReadBytes(int32_t Count, TWaitDeadline& Deadline) override;
  void CheckEndSep(TWaitDeadline& Deadline) override;
  void CheckLineSep(TWaitDeadline& Deadline) override;
  void ReadHeartbeatLine(int32_t Timeout) override;
  IStompFramePtr ReceiveFrame(int32_t Timeout) override { return ReadFrame(Timeout); }

 private:
  // Drops the TCP connection after an error: the stream can no longer be trusted.
  void CloseConnection();
  // Connected, still receiving, with heart-beats negotiated in either direction.
  bool KeepsHeartbeats() const;
  // Waits until input is buffered, at most Timeout ms (UnlimitedWait: without limit); false when the
  // time ran out. Keeps the heart-beats meanwhile (see the class).
  bool AwaitInput(int32_t Timeout);
  // Ends the reading of a connection that is lost or about to be closed: takes what has arrived, without
  // waiting (at most MaxOctetsLeft), and reads the frames in it: the MESSAGE frames go to
  // FMessageFramesLeft, the first ERROR frame is returned (nullptr when there is none). Nothing more is
  // received afterwards.
  std::shared_ptr<TZQStompFrame> ReadFramesLeft();
  // ReceiveFrame: decodes the header block where it lies in the input buffer, then reads the body
  // straight into the frame and checks the frame end there; the same limits, waits and errors as
  // reading line by line.
  std::shared_ptr<TZQStompFrame> ReadFrame(int32_t Timeout);
  // Waits until the header block after a first line of FirstLineLength octets is in the input buffer,
  // by Deadline. Returns where its header lines end and where the blank line after them ends.
  std::pair<size_t, size_t> FindHeaderBlockEnd(size_t FirstLineLength, TWaitDeadline& Deadline);

  // Largest header list of a frame kept for reuse.
  static constexpr size_t MaxSpareHeaders = 64;
  // The most octets ReadFramesLeft takes: as many as a connection keeps for its consumers.
  static constexpr size_t MaxOctetsLeft = 64 * 1024 * 1024;

  TTCPClient FClient;
  // The last frame read, when nobody else kept it: the next read fills it again.
  std::shared_ptr<TZQStompFrame> FSpareFrame;
  std::vector<IStompFramePtr> FMessageFramesLeft;
  // The last ReadLine ended because no line began in time.
  bool FLineWaitTimedOut = false;
};

}  // namespace velmor
