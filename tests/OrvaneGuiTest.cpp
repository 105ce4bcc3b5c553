#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>

#include <string>
#include <vector>

#include "OrvaneFormDriver.h"
#include "QtApplicationEnvironment.h"

namespace orvane {
namespace {

[[maybe_unused]] ::testing::Environment* const Application =
    ::testing::AddGlobalTestEnvironment(new velmor::testing::QtApplicationEnvironment("Orvane"));

class OrvaneGuiTest : public testing::Test, protected velmor::testing::OrvaneFormDriver {};

TEST_F(OrvaneGuiTest, StartsWithDefaultFieldsPlaceholdersAndPlainURL) {
  EXPECT_EQ(Form.windowTitle().toStdString(), "Orvane - Velmor STOMP Client for RabbitMQ 9.4");
  const std::vector<std::pair<const char*, const char*>> edits = {{"EditHost", "localhost"},
                                                                  {"EditPort", "61613"},
                                                                  {"EditUser", "vorda"},
                                                                  {"EditPassword", "vorda"},
                                                                  {"EditVHost", ""}};
  for (const auto& [name, text] : edits) {
    QLineEdit* edit = Child<QLineEdit>(name);
    EXPECT_EQ(edit->text().toStdString(), text) << name;
    EXPECT_EQ(edit->echoMode(), QLineEdit::Normal) << name;
  }
  EXPECT_EQ(Child<QLineEdit>("EditVHost")->placeholderText(), "VHost");
  EXPECT_EQ(Child<QLineEdit>("EditUser")->placeholderText(), "Username");
  EXPECT_EQ(URL(), "stomp://localhost");
  EXPECT_TRUE(Child<QPlainTextEdit>("MemoURI")->isReadOnly());
  EXPECT_TRUE(Child<QPushButton>("BtnConnect")->isDefault());
}

TEST_F(OrvaneGuiTest, TabVisitsTheFieldsInOrderThenTheCopyButton) {
  Child<QLineEdit>("EditHost")->setFocus();
  for (const char* next : {"EditPort", "EditUser", "EditPassword", "EditVHost", "Button1"}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), next);
  }
}

TEST_F(OrvaneGuiTest, URLFollowsTypingAndCopyPutsExactlyIt) {
  Type("EditPort", "1234");
  EXPECT_EQ(URL(), "stomp://localhost:1234");
  Type("EditVHost", "my vh");
  EXPECT_EQ(URL(), "stomp://localhost:1234?\"connect.host=my vh\"");
  Type("EditHost", "::1");
  Type("EditUser", "someone");
  EXPECT_EQ(URL(), "stomp://[::1]:1234?\"connect.host=my vh\"");

  QApplication::clipboard()->setText("before");
  Click("Button1");
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), URL());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(OrvaneGuiTest, RefusedHostTextShowsOneErrorAndDisablesConnectAndCopy) {
  Type("EditHost", "stomp://h:abc");
  EXPECT_EQ(URL(), "'abc' is not a valid integer value");
  EXPECT_FALSE(Child<QPushButton>("BtnConnect")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>("Button1")->isEnabled());
  QTest::keyClick(Child<QLineEdit>("EditHost"), Qt::Key_Return);
  EXPECT_TRUE(Boxes.empty());

  QTest::keyClicks(Child<QLineEdit>("EditPort"), "0");
  EXPECT_EQ(URL(), "'abc' is not a valid integer value");

  Type("EditHost", "stomp://h:12");
  EXPECT_EQ(URL(), "stomp://h:616130");
  EXPECT_TRUE(Child<QPushButton>("BtnConnect")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("Button1")->isEnabled());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(OrvaneGuiTest, ConnectErrorShowsItsOwnBox) {
  Type("EditHost", "stomp+ssl://localhost");
  Click("BtnConnect");
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_TRUE(Boxes[0].IsError);
  EXPECT_EQ(Boxes[0].Text, "Unsupported Protocol \"stomp+ssl\" !");

  QTest::keyClick(Child<QLineEdit>("EditHost"), Qt::Key_Return);
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[1].Text, Boxes[0].Text);
}

}  // namespace
}  // namespace orvane
