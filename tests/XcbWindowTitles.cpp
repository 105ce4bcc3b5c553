// The programs' window titles as the X window system shows them. Qt's xcb platform writes a title to the
// X server with the application's display name appended when one is set, so only the server tells the
// real title. Runs through run-on-xvfb, which gives it a private display.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <string>

#include "ConnCfgFrm.h"
#include "ConnectFrm.h"
#include "KestrunTestSupport.h"
#include "MainFrm.h"
#include "QtApplicationEnvironment.h"

namespace {

[[maybe_unused]] ::testing::Environment* const Application =
    ::testing::AddGlobalTestEnvironment(new velmor::testing::QtApplicationEnvironment("XcbWindowTitles"));

// The title of a shown window as the X server holds it, read by xwininfo, whose first line ends with the
// window's id and its name in quotes. Both waits are long enough for a loaded machine.
std::string ServerTitle(QWidget& Window) {
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&Window, 30000));
  QProcess XWinInfo;
  XWinInfo.start("xwininfo", {"-id", QString::number(Window.winId())});
  EXPECT_TRUE(XWinInfo.waitForFinished(30000));
  const QString Output = QString::fromUtf8(XWinInfo.readAllStandardOutput()).trimmed();
  const QString FirstLine = Output.section('\n', 0, 0);
  const qsizetype Open = FirstLine.indexOf('"');
  if (Open < 0 || !FirstLine.endsWith('"')) {
    ADD_FAILURE() << "xwininfo tells no window name: " << Output.toStdString();
    return {};
  }
  return FirstLine.mid(Open + 1, FirstLine.size() - Open - 2).toStdString();
}

TEST(XcbWindowTitles, KestrunsWindowsDialogAndMessageBoxesShowExactlyTheirTitles) {
  QApplication::setApplicationName("Kestrun");
  const auto Factory = std::make_shared<kestrun::testing::TScriptedFactory>();
  const kestrun::TFactoryMaker Maker{
      [Factory] { return Factory; },
      [Factory](const std::string&, const std::string&, const std::string&) { return Factory; }};
  kestrun::TMainForm Form(Maker);
  Form.show();
  const std::string MainTitle = "Velmor STOMP Client for RabbitMQ 9.4 performance test application";
  EXPECT_EQ(ServerTitle(Form), MainTitle);

  kestrun::TConnCfgForm Dialog(Maker, &Form);
  Dialog.show();
  EXPECT_EQ(ServerTitle(Dialog), "Connection configuration");
  Dialog.hide();

  // A failed broker probe shows its error in a box; the box is read and closed while it is open.
  std::string BoxTitle;
  QTimer Boxes;
  QObject::connect(&Boxes, &QTimer::timeout, [&] {
    if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Boxes.stop();
      BoxTitle = ServerTitle(*Box);
      Box->done(QMessageBox::Ok);
    }
  });
  Boxes.start(10);
  Factory->FailConnections = 1;
  QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
  EXPECT_EQ(BoxTitle, MainTitle);
}

TEST(XcbWindowTitles, OrvanesWindowShowsExactlyItsTitle) {
  QApplication::setApplicationName("Orvane");
  orvane::TConfigForm Form;
  Form.show();
  EXPECT_EQ(ServerTitle(Form), "Orvane - Velmor STOMP Client for RabbitMQ 9.4");
}

}  // namespace
