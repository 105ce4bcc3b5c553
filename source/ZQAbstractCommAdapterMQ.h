#pragma once

#include <cstdint>

#include "ZQAbstractCommAdapter.h"
#include "ZQStompFrame.h"

namespace velmor {

// Completes a frame after its header block: the body by "content-length" (without one, up to the first
// NUL), then NUL and LF.
class TZQAbstractCommAdapterMQ : public TZQAbstractCommAdapter {
 protected:
  TZQAbstractCommAdapterMQ() = default;

  // Reads one whole frame, or returns none when no frame began within Timeout. Once the first line is
  // in, the rest of the frame must follow within FrameRestTimeout(Timeout) plus the BodyReadAllowance
  // of its body, else EReadTimeout; a negative "content-length" or one over MaxBodyLength (however many
  // digits it has) raises EZQStompError before the body is read.
  IStompFramePtr ReceiveFrame(int32_t Timeout) override;
};

}  // namespace velmor
