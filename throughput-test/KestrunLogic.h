#pragma once

// What Kestrun's windows do apart from showing widgets: their texts, the broker probe and how they make
// connection factories. No widget in here, so all of it is tested without a screen.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ZQExceptions.h"
#include "ZQMQInterfaces.h"

namespace kestrun {

inline constexpr const char* DefaultBrokerURL = "stomp://127.0.0.1";
inline constexpr const char* DefaultCredential = "vorda";
inline constexpr const char* TitleSuffix = " performance test application";
inline constexpr const char* RunningText = "Running...";
inline constexpr const char* TestRunningText = "The test is running. Please try again later.";
inline constexpr const char* ProductionNoteText =
    "Note: please use the demo only with test servers, not with production systems.";

// How the windows make connection factories: the program uses the library's factory, tests a scripted
// one.
struct TFactoryMaker {
  // A factory with the library's defaults.
  std::function<velmor::IConnectionFactoryPtr()> Default;
  // A factory with the defaults, then the broker URL, user name and password set.
  std::function<velmor::IConnectionFactoryPtr(const std::string& URL, const std::string& UserName,
                                              const std::string& Password)>
      Configured;
};

// The library's own factory.
TFactoryMaker LibraryFactoryMaker();

// Object asked for another of its interfaces; raises EMQException "Interface not supported" when it
// does not implement it.
template <class TWanted, class TGiven>
std::shared_ptr<TWanted> As(const std::shared_ptr<TGiven>& Object) {
  auto Wanted = std::dynamic_pointer_cast<TWanted>(Object);
  if (!Wanted) {
    throw velmor::EMQException("Interface not supported");
  }
  return Wanted;
}

// Runs Body, then closes Object in every case. An error of Body passes out and wins over an error of the
// close; on the normal path an error of the close passes out.
template <class TObject, class TBody>
void CloseAfter(const std::shared_ptr<TObject>& Object, TBody&& Body) {
  try {
    Body();
  } catch (...) {
    try {
      Object->Close();
    } catch (...) {
      // The first error is the one worth reporting.
    }
    throw;
  }
  Object->Close();
}

// Caption of the start button for the positions of the three track bars.
std::string SendButtonCaption(int32_t ThreadCount, int32_t MessageCount, int32_t PayloadLength);

// "%d msgs/s" filled with Rate.
std::string ResultText(uint32_t Rate);

// The broker label after a run whose log has errors: the broker's server text, then that word.
std::string FailedRunLabel(const std::string& Server);

// The library's name and version joined by a blank, as the factory's library information tells them.
std::string LibraryTitle(const velmor::IConnectionFactoryPtr& Factory);

// Connects with a new connection of Factory, starts it and returns the broker's server text; the
// connection is closed in every case.
std::string ProbeBroker(const velmor::IConnectionFactoryPtr& Factory);

// True when a broker URL draws the note about production systems (it does not name "localhost").
bool NeedsProductionNote(const std::string& URL);

// Version of the compiler that built the program, major and minor as one number (12.2 for g++ 12.2).
double CompilerVersion();

}  // namespace kestrun
