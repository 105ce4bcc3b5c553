#pragma once

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <string>
#include <vector>

#include "ConnectFrm.h"

namespace velmor::testing {

// Orvane's window, shown offscreen and driven with keys and clicks; message boxes are recorded instead
// of shown, so nothing waits for a user.
class OrvaneFormDriver {
 public:
  struct ShownBox {
    std::string Text;
    bool IsError;
  };

  OrvaneFormDriver() {
    Form.SetMessageBox([this](QWidget*, const QString& Text, bool IsError) {
      Boxes.push_back(ShownBox{Text.toStdString(), IsError});
    });
    Form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Form));
  }

  template <typename T>
  T* Child(const char* Name) {
    T* child = Form.findChild<T*>(Name);
    EXPECT_NE(child, nullptr) << Name;
    return child;
  }

  // Replaces the field's text by typing, key by key.
  void Type(const char* Name, const QString& Text) {
    QLineEdit* edit = Child<QLineEdit>(Name);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, Text);
  }

  void Click(const char* Name) { QTest::mouseClick(Child<QPushButton>(Name), Qt::LeftButton); }

  std::string URL() { return Child<QPlainTextEdit>("MemoURI")->toPlainText().toStdString(); }

  orvane::TConfigForm Form;
  std::vector<ShownBox> Boxes;
};

}  // namespace velmor::testing
