// Program start of Kestrun, the throughput-test program.

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "KestrunLogic.h"
#include "MainFrm.h"

namespace {

// True when Qt has a window system to talk to: a display, or a platform chosen explicitly.
bool DisplayAvailable() {
  for (const char* Name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* Value = std::getenv(Name);
    if (Value != nullptr && *Value != '\0') {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!DisplayAvailable()) {
    std::fputs(
        "kestrun: no graphical display is available (DISPLAY and WAYLAND_DISPLAY are not set).\n"
        "Run it in a desktop session, over ssh -X, or under Xvfb: xvfb-run build/throughput-test/kestrun\n",
        stderr);
    return 2;
  }
  QApplication Application(argc, argv);
  QApplication::setApplicationName("Kestrun");
  kestrun::TMainForm MainForm(kestrun::LibraryFactoryMaker());
  MainForm.show();
  return QApplication::exec();
}
