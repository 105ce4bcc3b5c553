#include "ZQStompFrame.h"

#include <algorithm>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

void TZQStompFrame::AddHeader(const std::string& Name, const std::string& Value) {
  if (Name.empty()) {
    throw EIllegalArgumentException("Header name must not be empty");
  }
  // A repeated name goes first so that the newest non-empty value is the one read and written first.
  const auto first = std::find_if(FHeaders.begin(), FHeaders.end(),
                                  [&Name](const TStompHeaderItem& item) { return item.Name == Name; });
  if (first != FHeaders.end() && !first->Value.empty()) {
    FHeaders.insert(FHeaders.begin(), TStompHeaderItem{Name, Value});
  } else {
    FHeaders.push_back(TStompHeaderItem{Name, Value});
  }
}

int32_t TZQStompFrame::GetContentLength() const {
  return StrToIntDef(GetHeader("content-length"), 0);
}

std::string TZQStompFrame::GetHeader(const std::string& Name) const {
  const std::string* value = FindHeader(Name);
  return value != nullptr ? *value : std::string();
}

TStompHeaderItem TZQStompFrame::GetHeaderItem(int Index) const {
  Check(Index >= 0 && static_cast<size_t>(Index) < FHeaders.size(), "ZQStompFrame", 147);
  return FHeaders[static_cast<size_t>(Index)];
}

std::size_t ReceivedOctets(const IStompFrame& Frame) {
  std::size_t octets = Frame.GetCommand().size() + 1 + 1 + Frame.GetBody().size() + 1;
  for (const TStompHeaderItem& item : Frame.GetHeaders()) {
    octets += item.Name.size() + 1 + item.Value.size() + 1;
  }
  return octets;
}

}  // namespace velmor
