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

namespace kestrun {
namespace {

// The application lives from the first test to the last and ends before the process does.
class TApplicationEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override { FApplication = std::make_unique<QApplication>(FArgc, FArgv); }
  void TearDown() override { FApplication.reset(); }

 private:
  int FArgc = 1;
  char FName[15] = "KestrunGuiTest";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApplication;
};

// gtest owns the environments it is given.
::testing::Environment* const ApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

// Processes events until Done holds or five seconds passed.
bool WaitUntil(const std::function<bool()>& Done) {
  const QDeadlineTimer Deadline(5000);
  while (!Done() && !Deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return Done();
}

// Answers the modal windows that open, one action each, in order, and keeps the texts of message boxes.
class TModalAnswers final {
 public:
  TModalAnswers() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      QWidget* Modal = QApplication::activeModalWidget();
      if (Modal == nullptr || FActions.empty()) {
        return;
      }
      auto Action = std::move(FActions.front());
      FActions.pop_front();
      Action(Modal);
    });
    FTimer.start(10);
  }

  void Then(std::function<void(QWidget*)> Action) { FActions.push_back(std::move(Action)); }

  // Closes a message box after noting its text.
  void ThenNoteMessage() {
    Then([this](QWidget* Modal) {
      auto* Box = qobject_cast<QMessageBox*>(Modal);
      Messages.push_back(Box != nullptr ? Box->text().toStdString() : "<not a message box>");
      static_cast<QDialog*>(Modal)->done(QMessageBox::Ok);
    });
  }

  std::vector<std::string> Messages;

 private:
  std::deque<std::function<void(QWidget*)>> FActions;
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

  // Starts a run from the button and waits until the probe has connected.
  void StartRun() {
    QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
    ASSERT_FALSE(Form.BtnSend->isEnabled());
  }

  std::shared_ptr<testing::TScriptedBroker> Broker = std::make_shared<testing::TScriptedBroker>();
  velmor::IConnectionFactoryPtr Factory = std::make_shared<testing::TScriptedFactory>(Broker);
  std::string Configured;
  TMainForm Form{Maker()};
};

TEST_F(KestrunGuiTest, StartsWithTheDefaults) {
  EXPECT_EQ(Form.windowTitle(), "Scripted Client 1.0 performance test application");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), Form.windowTitle());
  EXPECT_EQ(Form.TbCount->value(), 1000);
  EXPECT_EQ(Form.TbLength->value(), 10);
  EXPECT_EQ(Form.TbThreads->value(), 1);
  EXPECT_EQ(Form.BtnSend->text(), "Send and receive 1000 messages (payload 10 bytes)");
  EXPECT_TRUE(Form.BtnSend->isEnabled());
  EXPECT_TRUE(Form.EditHost->isReadOnly());
  EXPECT_EQ(Form.EditHost->text(), "stomp://127.0.0.1");
  EXPECT_TRUE(Form.lblBrokerVersion->text().startsWith("Compiler version: "));
  EXPECT_EQ(Form.findChild<QLabel*>("Label6")->text(), "Broker address (click to configure)");
  EXPECT_EQ(Form.findChild<QLabel*>("Label1")->buddy(), Form.TbCount);
  EXPECT_EQ(Form.findChild<QLabel*>("Label4")->buddy(), Form.TbThreads);
  EXPECT_EQ(Form.size(), QSize(465, 608));
}

struct TCaptionCase {
  int Count, Length, Threads;
  const char* Caption;
};

class KestrunCaptionGuiTest : public KestrunGuiTest, public ::testing::WithParamInterface<TCaptionCase> {};

TEST_P(KestrunCaptionGuiTest, ButtonCaptionFollowsTheTrackBars) {
  Form.TbCount->setValue(GetParam().Count);
  Form.TbLength->setValue(GetParam().Length);
  Form.TbThreads->setValue(GetParam().Threads);
  EXPECT_EQ(Form.BtnSend->text().toStdString(), GetParam().Caption);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, KestrunCaptionGuiTest,
    ::testing::Values(
        TCaptionCase{1000, 10, 2,
                     "Create 2 sender and receiver threads for 1000 messages each (payload 10 bytes)"},
        TCaptionCase{5000, 110, 1, "Send and receive 5000 messages (payload 110 bytes)"},
        TCaptionCase{10000, 2000, 8,
                     "Create 8 sender and receiver threads for 10000 messages each (payload 2000 bytes)"}),
    [](const auto& Info) {
      return std::to_string(Info.param.Threads) + "Pairs" + std::to_string(Info.param.Count) + "Messages";
    });

TEST_F(KestrunGuiTest, ShowResultShowsTheRateAndEnablesTheButton) {
  Form.BtnSend->setEnabled(false);
  Form.ShowResult(1234);
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "1234 msgs/s");
  EXPECT_TRUE(Form.BtnSend->isEnabled());
}

TEST_F(KestrunGuiTest, ClosingIsRefusedWhileATestRuns) {
  Broker->HoldReceivers(true);
  StartRun();
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "Running...");
  EXPECT_EQ(Form.lblBrokerVersion->text(), "RabbitMQ/3.10.8");
  TModalAnswers Answers;
  Answers.ThenNoteMessage();
  EXPECT_FALSE(Form.close());
  EXPECT_EQ(Answers.Messages, std::vector<std::string>{"The test is running. Please try again later."});
  EXPECT_TRUE(Form.isVisible());

  Broker->HoldReceivers(false);
  ASSERT_TRUE(WaitUntil([&] { return Form.BtnSend->isEnabled(); }));
  EXPECT_TRUE(Form.LblMsgsPerSec->text().endsWith(" msgs/s"));
  EXPECT_TRUE(WaitUntil([&] {
    return Form.MemoResults->toPlainText().contains("1000 messages received from queue ExampleQueue.0");
  }));
  EXPECT_TRUE(Form.close());
}

TEST_F(KestrunGuiTest, EnterPressesTheStartButton) {
  Broker->HoldReceivers(true);
  Form.TbCount->setFocus();
  QTest::keyClick(Form.TbCount, Qt::Key_Return);
  EXPECT_TRUE(WaitUntil([&] { return !Form.BtnSend->isEnabled(); }));
  Broker->HoldReceivers(false);
  EXPECT_TRUE(WaitUntil([&] { return Form.BtnSend->isEnabled(); }));
}

TEST_F(KestrunGuiTest, FailingProbeShowsItsMessageAndStartsNothing) {
  Broker->FailConnections = 1;
  TModalAnswers Answers;
  Answers.ThenNoteMessage();
  QTest::mouseClick(Form.BtnSend, Qt::LeftButton);
  EXPECT_EQ(Answers.Messages, std::vector<std::string>{"Connection refused"});
  EXPECT_TRUE(Form.BtnSend->isEnabled());
  EXPECT_EQ(Form.LblMsgsPerSec->text(), "");
  EXPECT_TRUE(Form.lblBrokerVersion->text().startsWith("Compiler version: "));
}

struct TDialogCase {
  const char* Name;
  const char* URL;  // nullptr: Cancel
  bool Note;
};

class KestrunDialogGuiTest : public KestrunGuiTest, public ::testing::WithParamInterface<TDialogCase> {};

TEST_P(KestrunDialogGuiTest, ClickOnTheBrokerFieldOpensTheDialog) {
  TModalAnswers Answers;
  bool Opened = false;
  Answers.Then([&Opened](QWidget* Modal) {
    Opened = true;
    auto* Dialog = dynamic_cast<TConnCfgForm*>(Modal);
    ASSERT_NE(Dialog, nullptr);
    if (GetParam().URL == nullptr) {
      Dialog->btnCancel->click();
      return;
    }
    Dialog->EditURL->setText(GetParam().URL);
    Dialog->EditUser->setText("guest");
    Dialog->btnOk->click();
  });
  Answers.ThenNoteMessage();
  QTest::mouseClick(Form.EditHost, Qt::LeftButton);
  // The dialog opens after the click; the events that run it return once it and any note are closed.
  ASSERT_TRUE(WaitUntil([&] { return Opened; }));
  if (GetParam().URL == nullptr) {
    EXPECT_EQ(Form.EditHost->text(), "stomp://127.0.0.1");
    EXPECT_EQ(Configured, "");
    return;
  }
  EXPECT_EQ(Form.EditHost->text(), GetParam().URL);
  EXPECT_EQ(Configured, std::string(GetParam().URL) + " guest vorda");
  const auto Notes =
      GetParam().Note ? std::vector<std::string>{ProductionNoteText} : std::vector<std::string>{};
  EXPECT_EQ(Answers.Messages, Notes);
}

INSTANTIATE_TEST_SUITE_P(Answers, KestrunDialogGuiTest,
                         ::testing::Values(TDialogCase{"DefaultURL", "stomp://127.0.0.1", true},
                                           TDialogCase{"Localhost", "stomp://localhost:61613", false},
                                           TDialogCase{"UpperCaseLocalhost", "stomp://LOCALHOST", true},
                                           TDialogCase{"Cancel", nullptr, false}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

class KestrunConnCfgGuiTest : public KestrunGuiTest {
 protected:
  TConnCfgForm Dialog{Maker(), &Form};
};

TEST_F(KestrunConnCfgGuiTest, StartsWithTheDefaults) {
  EXPECT_EQ(Dialog.windowTitle(), "Connection configuration");
  EXPECT_EQ(Dialog.size(), QSize(475, 198));
  const std::vector<std::pair<QLineEdit*, std::pair<const char*, const char*>>> Fields = {
      {Dialog.EditURL, {"stomp://127.0.0.1", "Server"}},
      {Dialog.EditUser, {"vorda", "User name"}},
      {Dialog.EditPass, {"vorda", "Password"}}};
  for (const auto& [Field, Expected] : Fields) {
    EXPECT_EQ(Field->text(), Expected.first);
    EXPECT_EQ(Field->placeholderText(), Expected.second);
  }
  EXPECT_EQ(Dialog.EditPass->echoMode(), QLineEdit::Normal);
  EXPECT_TRUE(Dialog.LblConnectedWith->isHidden());
  EXPECT_TRUE(Dialog.LblBrokerInfo->isHidden());
  EXPECT_TRUE(Dialog.LblConnectedWith->font().bold());
  EXPECT_TRUE(Dialog.btnOk->isDefault());
  EXPECT_EQ(Dialog.btnOk->text(), "Ok");
  EXPECT_EQ(Dialog.btnCancel->text(), "Cancel");
  EXPECT_EQ(Dialog.btnTestConnection->text(), "Test connection");
  const std::vector<QWidget*> TabOrder = {Dialog.EditURL, Dialog.EditUser,  Dialog.EditPass,
                                          Dialog.btnOk,   Dialog.btnCancel, Dialog.btnTestConnection};
  // The next widget that Tab reaches: the focus chain without the widgets that take no tab focus.
  const auto NextByTab = [](QWidget* Widget) {
    do {
      Widget = Widget->nextInFocusChain();
    } while ((Widget->focusPolicy() & Qt::TabFocus) == 0);
    return Widget;
  };
  for (size_t Index = 0; Index + 1 < TabOrder.size(); ++Index) {
    EXPECT_EQ(NextByTab(TabOrder[Index]), TabOrder[Index + 1]) << Index;
  }
}

TEST_F(KestrunConnCfgGuiTest, TestConnectionShowsTheServerOrTheError) {
  Dialog.show();
  QTest::mouseClick(Dialog.btnTestConnection, Qt::LeftButton);
  EXPECT_TRUE(Dialog.LblConnectedWith->isVisible());
  EXPECT_EQ(Dialog.LblBrokerInfo->text(), "RabbitMQ/3.10.8");
  EXPECT_EQ(Configured, "stomp://127.0.0.1 vorda vorda");

  Broker->FailConnections = 1;
  QTest::mouseClick(Dialog.btnTestConnection, Qt::LeftButton);
  EXPECT_FALSE(Dialog.LblConnectedWith->isVisible());
  EXPECT_TRUE(Dialog.LblBrokerInfo->isVisible());
  EXPECT_EQ(Dialog.LblBrokerInfo->text(), "Connection refused");
}

TEST_F(KestrunGuiTest, TestConnectionWithoutURLShowsTheLibrarysError) {
  TConnCfgForm Library(LibraryFactoryMaker(), &Form);
  Library.show();
  Library.EditURL->clear();
  QTest::mouseClick(Library.btnTestConnection, Qt::LeftButton);
  EXPECT_FALSE(Library.LblConnectedWith->isVisible());
  EXPECT_EQ(Library.LblBrokerInfo->text(), "BrokerURL not set.");
}

TEST_F(KestrunGuiTest, LibraryNamesItselfInTheTitle) {
  EXPECT_EQ(LibraryTitle(LibraryFactoryMaker().Default()), "Velmor STOMP Client for RabbitMQ 9.4");
}

}  // namespace
}  // namespace kestrun
