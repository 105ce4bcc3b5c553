#include "ZQURI.h"

#include <algorithm>

#include "IndyFunc.h"

namespace velmor {

namespace {

// Where the query starts when it is not introduced by "?": the first "=" that follows the user
// information, so that a password such as "abc123==" stays part of it. The user information is the
// text before the first "@" of the authority (the text up to the first "/"); without such an "@" the
// search starts at the beginning.
std::string::size_type FindEqualsQuery(const std::string& Text) {
  const auto slash = Text.find('/');
  const auto at = Text.find('@');
  const auto start = (at != std::string::npos && (slash == std::string::npos || at < slash)) ? at + 1 : 0;
  return Text.find('=', start);
}

}  // namespace

TZQURI::TZQURI(const std::string& URI) {
  if (!URI.empty()) {
    Parse(URI);
  }
}

void TZQURI::Parse(const std::string& URI) {
  FURI = URI;
  FProtocol.clear();
  FPort.clear();
  FPath.clear();
  FHost.clear();
  FUser.clear();
  FPassword.clear();
  FParams.clear();
  FIsIPv6 = false;

  std::string rest = URI;
  const auto schemeEnd = rest.find("://");
  if (schemeEnd == std::string::npos) {
    // Not a URL: only a query can be found.
    auto query = rest.find('?');
    if (query == std::string::npos) {
      query = rest.find('=');
    }
    if (query != std::string::npos) {
      FParams = rest.substr(query + 1);
    }
    return;
  }
  FProtocol = rest.substr(0, schemeEnd);
  rest.erase(0, schemeEnd + 3);

  auto query = rest.find('?');
  if (query == std::string::npos) {
    query = FindEqualsQuery(rest);
  }
  if (query != std::string::npos) {
    FParams = rest.substr(query + 1);
    rest.erase(query);
  }

  // The authority ends at the first "/"; the path after it is dropped.
  std::string authority = TakeUntilDelimiter(rest, "/");

  const auto at = authority.find('@');
  if (at != std::string::npos) {
    std::string userInfo = authority.substr(0, at);
    authority.erase(0, at + 1);
    FUser = TakeUntilDelimiter(userInfo, ":");
    FPassword = FUser.empty() ? std::string() : userInfo;
  }

  const auto open = authority.find('[');
  const auto close = authority.find(']');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    std::string bracketed = TakeUntilDelimiter(authority, "]");
    TakeUntilDelimiter(bracketed, "[");
    FHost = bracketed;
    // What follows the first ":" after the "]" is the port.
    TakeUntilDelimiter(authority, ":");
    FIsIPv6 = true;
    FPort = authority;
    return;
  }
  FHost = TakeUntilDelimiter(authority, ":");
  FPort = authority;
}

namespace {

// Where the user information of Text (the whole URL, whose query is Params) may end: the last "@" after
// Start, except one in an option's value (after the "=" of its item), which belongs to that value.
// An "@" that a "?" follows in its item may still end a password that held "?" and was split into the
// options. npos when no "@" may end user information.
size_t LastUserInformationEnd(const std::string& Text, size_t Start, const std::string& Params) {
  const bool hasQuery = !Params.empty() && Text.size() >= Params.size() &&
                        Text.compare(Text.size() - Params.size(), Params.size(), Params) == 0;
  const size_t query = hasQuery ? Text.size() - Params.size() : std::string::npos;
  for (size_t at = Text.rfind('@'); at != std::string::npos && at >= Start;
       at = at == 0 ? std::string::npos : Text.rfind('@', at - 1)) {
    if (query == std::string::npos || at < query)
      return at;
    const size_t amp = Text.rfind('&', at);
    const size_t itemStart = amp == std::string::npos || amp < query ? query : amp + 1;
    const size_t itemEnd = std::min(Text.find('&', at), Text.size());
    const bool inValue = Text.find('=', itemStart) < at;
    if (!inValue || Text.find('?', at) < itemEnd)
      return at;
  }
  return std::string::npos;
}

}  // namespace

bool MayHoldUserInformation(const IURI& URI, std::string_view Part) {
  if (Part.empty())
    return false;
  const std::string text = URI.GetURI();
  const auto scheme = text.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = LastUserInformationEnd(text, start, URI.GetParams());
  if (end == std::string::npos)
    return false;
  // A part found only after that "@" cannot reach into the user information before it; one found
  // earlier, or not found as written (an option that lost its quotes), may.
  const auto found = text.find(Part, start);
  return found == std::string::npos || found <= end;
}

IURIPtr CreateURI(const std::string& URL, int32_t DefaultPort) {
  IURIPtr uri = TZQURI::Create(URL);
  if (uri->GetPort().empty()) {
    uri->SetPort(std::to_string(DefaultPort));
  }
  return uri;
}

}  // namespace velmor
