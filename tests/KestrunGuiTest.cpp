#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>

#include "KestrunTestSupport.h"
#include "MainFrm.h"
#include "QtApplicationEnvironment.h"

namespace kestrun {
namespace {

[[maybe_unused]] ::testing::Environment* const Application =
    ::testing::AddGlobalTestEnvironment(new velmor::testing::QtApplicationEnvironment("KestrunGuiTest"));

// Processes events until Done holds or thirty seconds passed.
bool WaitUntil(const std::function<bool()>& Done) {
  const QDeadlineTimer Deadline(30000);
  while (!Done() && !Deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return Done();
}

// Notes the text and icon of every message box that opens and closes it.
class TMessageBoxes final {
 public:
  TMessageBoxes() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Texts.push_back(Box->text().toStdString());
        Icons.push_back(Box->icon());
        PlainText = PlainText && Box->textFormat() == Qt::PlainText;
        Box->done(QMessageBox::Ok);
      }
    });
    FTimer.start(10);
  }

  std::vector<std::string> Texts;
  std::vector<QMessageBox::Icon> Icons;
  bool PlainText = true;

 private:
  QTimer FTimer;
};

class KestrunGuiTest : public ::testing::Test {
 protected:
  KestrunGuiTest() { Form.show(); }

  std::shared_ptr<testing::TScriptedFactory> Factory = std::make_shared<testing::TScriptedFactory>();
  TMainForm Form{{[this] { return Factory; },
                  [this](const std::string&, const std::string&, const std::string&) { return Factory; }}};
};

TEST_F(KestrunGuiTest, StartsWithTheDefaultsAndTheCaptionFollowsTheTrackBars) {
  EXPECT_EQ(Form.windowTitle(), "Velmor STOMP Client for RabbitMQ 9.4 performance test application");
  EXPECT_EQ(Form.BtnSend->text(), "Send and receive 1000 messages (payload 10 bytes)");
  EXPECT_EQ(Form.EditHost->text(), "stomp://127.0.0.1");
  EXPECT_TRUE(Form.lblBrokerVersion->text().startsWith("Compiler version: "));
  Form.TbCount->setValue(5000);
  Form.TbLength->setValue(110);
  EXPECT_EQ(Form.BtnSend->text(), "Send and receive 5000 messages (payload 110 bytes)");
  Form.TbCount->setValue(10000);
  Form.TbLength->setValue(2000);
  Form.TbThreads->setValue(8);
  EXPECT_EQ(Form.BtnSend->text(),
            "Create 8 sender and receiver threads for 10000 messages each (payload 2000 bytes)");
}

TEST_F(KestrunGuiTest, ClosingIsRefusedWhileATestRunsAndTheResultShowsTheRate) {
  Factory->HoldReceivers(true);
  QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
  EXPECT_FALSE(Form.BtnSend->isEnabled());
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "Running...");
  EXPECT_EQ(Form.lblBrokerVersion->text(), "RabbitMQ/3.10.8");
  TMessageBoxes Boxes;
  EXPECT_FALSE(Form.close());
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"The test is running. Please try again later."});
  EXPECT_EQ(Boxes.Icons, std::vector{QMessageBox::Information});
  EXPECT_TRUE(Form.isVisible());

  Factory->HoldReceivers(false);
  ASSERT_TRUE(WaitUntil([&] { return Form.BtnSend->isEnabled(); }));
  EXPECT_TRUE(Form.LblMsgsPerSec->text().endsWith(" msgs/s"));
  EXPECT_TRUE(WaitUntil([&] {
    return Form.MemoResults->toPlainText().contains("Receive 1000 messages from queue ExampleQueue.0");
  }));
  EXPECT_TRUE(Form.close());

  Form.ShowResult(1234, false);
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "1234 msgs/s");
}

TEST_F(KestrunGuiTest, AFailedProbeShowsItsErrorInACriticalBoxAndStartsNothing) {
  Factory->FailConnections = 1;
  TMessageBoxes Boxes;
  QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Connection refused"});
  EXPECT_EQ(Boxes.Icons, std::vector{QMessageBox::Critical});
  EXPECT_TRUE(Boxes.PlainText);
  EXPECT_TRUE(Form.BtnSend->isEnabled());
}

// A clean run started with the mouse, then one started with Enter in the log, whose receiver gets
// nothing: the log takes no typing, the button gets the focus back and the failed run is marked.
TEST_F(KestrunGuiTest, EnterStartsTheNextRunAfterAClickAndAFailedRunIsMarked) {
  Factory->Scripts[QueueName(0)] = std::deque<testing::TReceiveStep>(1000, testing::TextOf(10));
  QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return Form.BtnSend->isEnabled(); }));
  EXPECT_EQ(Form.focusWidget(), Form.BtnSend);
  EXPECT_EQ(Form.lblBrokerVersion->text(), "RabbitMQ/3.10.8");

  // A worker's last log line may still be on its way to the window: the entry is found as a line of its
  // own wherever it lands.
  Form.AddLog("Socket Error # 104\r\nConnection reset by peer\n");
  ASSERT_TRUE(WaitUntil([&] {
    return (Form.MemoResults->toPlainText() + "\n")
        .contains("\nSocket Error # 104 Connection reset by peer\n");
  }));

  Factory->HoldReceivers(true);
  QTest::keyClicks(Form.MemoResults, "typed");
  EXPECT_FALSE(Form.MemoResults->toPlainText().contains("typed"));
  QTest::keyClick(Form.MemoResults, Qt::Key_Return);
  EXPECT_TRUE(WaitUntil([&] { return !Form.BtnSend->isEnabled(); }));
  Factory->HoldReceivers(false);
  ASSERT_TRUE(WaitUntil([&] { return Form.BtnSend->isEnabled(); }));
  EXPECT_EQ(Form.focusWidget(), Form.BtnSend);
  EXPECT_EQ(Form.LblMsgsPerSec->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(Form.lblBrokerVersion->text(), "RabbitMQ/3.10.8 - the log has errors");
}

}  // namespace
}  // namespace kestrun
