#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>

#include <string>

#include "OrvaneFormDriver.h"
#include "QtApplicationEnvironment.h"

namespace orvane {
namespace {

[[maybe_unused]] ::testing::Environment* const Application =
    ::testing::AddGlobalTestEnvironment(new velmor::testing::QtApplicationEnvironment("Orvane"));

class OrvaneGuiTest : public testing::Test, protected velmor::testing::OrvaneFormDriver {};

TEST_F(OrvaneGuiTest, URLFollowsTypingAndCopyPutsExactlyIt) {
  EXPECT_EQ(Form.windowTitle().toStdString(), "Orvane - Velmor STOMP Client for RabbitMQ 9.4");
  EXPECT_EQ(URL(), "stomp://localhost");
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

  Type("EditHost", "stomp://h:12");
  EXPECT_EQ(URL(), "stomp://h");
  EXPECT_TRUE(Child<QPushButton>("BtnConnect")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("Button1")->isEnabled());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(OrvaneGuiTest, EscLeavesTheWindowOpenAndItStillCloses) {
  for (const char* Name : {"EditHost", "EditPort", "EditVHost"}) {
    QTest::keyClick(Child<QLineEdit>(Name), Qt::Key_Escape);
    EXPECT_TRUE(Form.isVisible()) << Name;
  }
  QTest::keyClick(Child<QPlainTextEdit>("MemoURI"), Qt::Key_Escape);
  EXPECT_TRUE(Form.isVisible());
  EXPECT_TRUE(Form.close());
}

}  // namespace
}  // namespace orvane
