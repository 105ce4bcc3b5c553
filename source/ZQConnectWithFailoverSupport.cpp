#include "ZQConnectWithFailoverSupport.h"

#include <exception>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

namespace {

constexpr const char* UnitName = "ZQConnectWithFailoverSupport";

void SystemSleep(std::chrono::milliseconds Duration) {
  if (Duration.count() > 0)
    std::this_thread::sleep_for(Duration);
}

// One generator per thread, seeded on its first use: threads that connect at the same time neither
// share state nor need a lock, and each still gets its own sequence.
std::mt19937& ThreadGenerator() {
  thread_local std::mt19937 generator = [] {
    std::random_device device;
    const auto ticks = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::seed_seq seed{device(), device(), static_cast<unsigned>(ticks), static_cast<unsigned>(ticks >> 32)};
    return std::mt19937(seed);
  }();
  return generator;
}

int32_t ThreadRandomIndex(int32_t Count) {
  std::uniform_int_distribution<int32_t> distribution(0, Count - 1);
  return distribution(ThreadGenerator());
}

// Scheme of a single broker entry that the loop can connect: one the adapter serves, and never a
// failover one (the loop does not nest).
bool EntrySchemeSupported(const IStompCommAdapterPtr& Adapter, const std::string& Scheme) {
  if (Scheme.rfind("failover:", 0) == 0)
    return false;
  return Adapter ? Adapter->Supports(Scheme) : Scheme == "stomp";
}

}  // namespace

TZQFailoverEnvironment DefaultFailoverEnvironment() {
  return {SystemSleep, ThreadRandomIndex};
}

TZQConnectWithFailoverSupport::TZQConnectWithFailoverSupport(TZQStompClient& Client,
                                                             TZQFailoverEnvironment Environment)
    : FStompClient(Client) {
  SetEnvironment(std::move(Environment));
}

void TZQConnectWithFailoverSupport::SetEnvironment(TZQFailoverEnvironment Environment) {
  const TZQFailoverEnvironment defaults = DefaultFailoverEnvironment();
  FEnvironment.Sleep = Environment.Sleep ? std::move(Environment.Sleep) : defaults.Sleep;
  FEnvironment.RandomIndex =
      Environment.RandomIndex ? std::move(Environment.RandomIndex) : defaults.RandomIndex;
}

void TZQConnectWithFailoverSupport::CheckEntries(const std::vector<IURIPtr>& URIs) const {
  for (const IURIPtr& uri : URIs) {
    const std::string scheme = uri->GetProtocol();
    if (!EntrySchemeSupported(FStompClient.GetCommAdapter(), scheme)) {
      throw EConfigurationException(Format("Unsupported Protocol \"%s\" !", {scheme}));
    }
    CheckedPort(uri->GetPort());
    TZQConnectionParams params;
    params.Load(uri);
    TZQParamNameValidator::Validate(params.GetOptionList(), uri);
  }
}

void TZQConnectWithFailoverSupport::ConnectWithFailover(const IURIPtr& URI) {
  const std::string text = URI ? URI->GetURI() : std::string();
  Trace(Format("ConnectWithFailover to %s", {text}));
  TZQFailoverURLParser parser(text, TZQStompClient::DefaultStompPort());
  parser.Parse();
  const TZQFailoverOptions options = parser.GetOptions();
  const std::vector<IURIPtr> uris = parser.GetURIs();
  Check(!uris.empty(), UnitName, __LINE__);
  CheckEntries(uris);
  if (FStompClient.IsConnected())
    return;

  const auto count = static_cast<int32_t>(uris.size());
  auto nextRandom = [&] {
    const int32_t index = FEnvironment.RandomIndex(count);
    Check(index >= 0 && index < count, UnitName, __LINE__, "Random index out of range");
    return index;
  };
  const std::string baseLogin = FStompClient.GetLogin();
  const std::string basePasscode = FStompClient.GetPasscode();
  const int64_t maxDelay = static_cast<int64_t>(options.MaxReconnectDelay) * FixedPointScale;
  int64_t delay = static_cast<int64_t>(options.InitialReconnectDelay) * FixedPointScale;
  int64_t attempts = 0;
  int32_t index = options.Randomize ? nextRandom() : 0;
  try {
    while (!FStompClient.IsConnected()) {
      // Each broker sees the configured credentials unless its own entry names others.
      FStompClient.SetLogin(baseLogin);
      FStompClient.SetPasscode(basePasscode);
      FStompClient.SetURI(uris[static_cast<size_t>(index)]);
      std::exception_ptr failure;
      try {
        FStompClient.PlainConnect();
      } catch (const std::exception&) {
        failure = std::current_exception();
      }
      if (failure || !FStompClient.IsConnected()) {
        if (options.MaxReconnectAttempts == 0 && failure)
          std::rethrow_exception(failure);
        if (options.MaxReconnectAttempts != -1 && attempts >= options.MaxReconnectAttempts) {
          throw EMQException(
              Format("Reached %d reconnect attempts", {static_cast<int64_t>(options.MaxReconnectAttempts)}));
        }
        FEnvironment.Sleep(std::chrono::milliseconds(delay > 0 ? delay / FixedPointScale : 0));
        delay = MultiplyFixedPoint(delay, options.BackOffMultiplier);
        if (delay > maxDelay)
          delay = maxDelay;
      }
      index = options.Randomize ? nextRandom() : (index + 1) % count;
      ++attempts;
    }
    // The credentials of the entry reached served its CONNECT; a later loop starts from the base again.
    FStompClient.SetLogin(baseLogin);
    FStompClient.SetPasscode(basePasscode);
  } catch (...) {
    // The client goes back to the failover URL and its own credentials: a later Connect fails over again
    // instead of going to the last broker tried with that broker's credentials.
    try {
      FStompClient.SetURI(URI);
    } catch (const std::exception&) {
    }
    FStompClient.SetLogin(baseLogin);
    FStompClient.SetPasscode(basePasscode);
    throw;
  }
}

}  // namespace velmor
