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
#include <deque>
#include <functional>

#include "ConnCfgFrm.h"
#include "KestrunTestSupport.h"
#include "MainFrm.h"
#include "QtApplicationEnvironment.h"

namespace kestrun {
namespace {

[[maybe_unused]] ::testing::Environment* const Application =
    ::testing::AddGlobalTestEnvironment(new velmor::testing::QtApplicationEnvironment("KestrunGuiTest"));

// Processes events until Done holds or five seconds passed.
bool WaitUntil(const std::function<bool()>& Done) {
  const QDeadlineTimer Deadline(5000);
  while (!Done() && !Deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return Done();
}

// Answers the modal windows that open, one action each, in order; by default notes a message box's text
// and closes it.
class TModalAnswers final {
 public:
  explicit TModalAnswers(int Count)
      : FActions(static_cast<size_t>(Count), [this](QWidget* Modal) {
          auto* Box = qobject_cast<QMessageBox*>(Modal);
          Messages.push_back(Box != nullptr ? Box->text().toStdString() : "<not a message box>");
          static_cast<QDialog*>(Modal)->done(QMessageBox::Ok);
        }) {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      QWidget* Modal = QApplication::activeModalWidget();
      if (Modal != nullptr && !FActions.empty()) {
        auto Action = std::move(FActions.front());
        FActions.pop_front();
        Action(Modal);
      }
    });
    FTimer.start(10);
  }

  std::deque<std::function<void(QWidget*)>> FActions;
  std::vector<std::string> Messages;

 private:
  QTimer FTimer;
};

class KestrunGuiTest : public ::testing::Test {
 protected:
  KestrunGuiTest() { Form.show(); }

  TFactoryMaker Maker() {
    return {[this] { return Factory; },
            [this](const std::string& URL, const std::string& User, const std::string& Password) {
              Configured = URL + " " + User + " " + Password;
              return Factory;
            }};
  }

  std::shared_ptr<testing::TScriptedFactory> Factory = std::make_shared<testing::TScriptedFactory>();
  std::string Configured;
  TMainForm Form{Maker()};
};

struct TCaptionCase {
  int Count, Length, Threads;
  const char* Caption;
};

class KestrunCaptionGuiTest : public KestrunGuiTest, public ::testing::WithParamInterface<TCaptionCase> {};

TEST_P(KestrunCaptionGuiTest, StartsWithTheDefaultsAndTheCaptionFollowsTheTrackBars) {
  EXPECT_EQ(Form.windowTitle(), "Velmor STOMP Client for RabbitMQ 9.4 performance test application");
  EXPECT_EQ(Form.BtnSend->text(), "Send and receive 1000 messages (payload 10 bytes)");
  EXPECT_EQ(Form.EditHost->text(), "stomp://127.0.0.1");
  EXPECT_TRUE(Form.lblBrokerVersion->text().startsWith("Compiler version: "));
  Form.TbCount->setValue(GetParam().Count);
  Form.TbLength->setValue(GetParam().Length);
  Form.TbThreads->setValue(GetParam().Threads);
  EXPECT_EQ(Form.BtnSend->text().toStdString(), GetParam().Caption);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, KestrunCaptionGuiTest,
    ::testing::Values(
        TCaptionCase{5000, 110, 1, "Send and receive 5000 messages (payload 110 bytes)"},
        TCaptionCase{10000, 2000, 8,
                     "Create 8 sender and receiver threads for 10000 messages each (payload 2000 bytes)"}));

TEST_F(KestrunGuiTest, ClosingIsRefusedWhileATestRunsAndTheResultShowsTheRate) {
  Factory->HoldReceivers(true);
  QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
  EXPECT_FALSE(Form.BtnSend->isEnabled());
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "Running...");
  EXPECT_EQ(Form.lblBrokerVersion->text(), "RabbitMQ/3.10.8");
  TModalAnswers Answers(1);
  EXPECT_FALSE(Form.close());
  EXPECT_EQ(Answers.Messages, std::vector<std::string>{"The test is running. Please try again later."});
  EXPECT_TRUE(Form.isVisible());

  Factory->HoldReceivers(false);
  ASSERT_TRUE(WaitUntil([&] { return Form.BtnSend->isEnabled(); }));
  EXPECT_TRUE(Form.LblMsgsPerSec->text().endsWith(" msgs/s"));
  EXPECT_TRUE(WaitUntil([&] {
    return Form.MemoResults->toPlainText().contains("Receive 1000 messages from queue ExampleQueue.0");
  }));
  EXPECT_TRUE(Form.close());

  Form.ShowResult(1234);
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "1234 msgs/s");
}

TEST_F(KestrunGuiTest, FailingProbeShowsItsMessageAndStartsNothing) {
  Factory->FailConnections = 1;
  TModalAnswers Answers(1);
  QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
  EXPECT_EQ(Answers.Messages, std::vector<std::string>{"Connection refused"});
  EXPECT_TRUE(Form.BtnSend->isEnabled());
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "");
}

// The broker dialog opens on a click on the broker field; its URL is taken, and a broker that is not
// "localhost" draws the note about production systems.
TEST_F(KestrunGuiTest, BrokerDialogSetsTheURLAndNotesNonLocalBrokers) {
  for (const auto& [URL, Notes] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"stomp://localhost:61613", {}}, {"stomp://LOCALHOST", {ProductionNoteText}}}) {
    TModalAnswers Answers(2);
    Answers.FActions.front() = [URL](QWidget* Modal) {
      auto* Dialog = dynamic_cast<TConnCfgForm*>(Modal);
      ASSERT_NE(Dialog, nullptr);
      Dialog->EditURL->setText(QString::fromStdString(URL));
      Dialog->EditUser->setText("guest");
      Dialog->btnOk->click();
    };
    QTest::mouseClick(Form.EditHost, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Form.EditHost->text().toStdString() == URL; }));
    EXPECT_EQ(Configured, URL + " guest vorda");
    EXPECT_EQ(Answers.Messages, Notes);
  }
}

TEST_F(KestrunGuiTest, TestConnectionShowsTheServerOrTheError) {
  TConnCfgForm Dialog{Maker(), &Form};
  Dialog.show();
  QTest::mouseClick(Dialog.btnTestConnection, Qt::LeftButton);
  EXPECT_TRUE(Dialog.LblConnectedWith->isVisible());
  EXPECT_EQ(Dialog.LblBrokerInfo->text(), "RabbitMQ/3.10.8");
  EXPECT_EQ(Configured, "stomp://127.0.0.1 vorda vorda");

  Factory->FailConnections = 1;
  QTest::mouseClick(Dialog.btnTestConnection, Qt::LeftButton);
  EXPECT_FALSE(Dialog.LblConnectedWith->isVisible());
  EXPECT_EQ(Dialog.LblBrokerInfo->text(), "Connection refused");
}

}  // namespace
}  // namespace kestrun
