#include "KestrunLogic.h"
#include "ZQConnectionFactory.h"

namespace kestrun {

TFactoryMaker LibraryFactoryMaker() {
  return {
      [] { return std::make_shared<velmor::TZQConnectionFactory>(); },
      [](const std::string& URL, const std::string& UserName, const std::string& Password) {
        auto Factory = std::make_shared<velmor::TZQConnectionFactory>();
        Factory->SetBrokerURL(URL);
        Factory->SetUserName(UserName);
        Factory->SetPassword(Password);
        return Factory;
      },
  };
}

}  // namespace kestrun
