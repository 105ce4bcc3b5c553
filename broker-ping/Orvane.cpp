#include <QApplication>

#include "ConnectFrm.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Orvane");
  orvane::TConfigForm form;
  form.show();
  return application.exec();
}
