#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "ConnectLogic.h"

class QAction;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace orvane {

// Orvane's one window: broker fields, the live URL, copy and connect. The widgets carry the object names
// EditHost, EditPort, EditUser, EditPassword, EditVHost, MemoURI, BtnConnect and Button1.
class TConfigForm final : public QDialog {
  Q_OBJECT

 public:
  // Shows Text in a message box and returns when the user dismissed it; IsError picks the box's kind.
  using TMessageBox = std::function<void(QWidget* Parent, const QString& Text, bool IsError)>;

  explicit TConfigForm(QWidget* Parent = nullptr);

  // Replaces the message boxes, e.g. by a recorder in tests.
  void SetMessageBox(TMessageBox Show);

  TConnectFields Fields() const;

 protected:
  void keyPressEvent(QKeyEvent* Event) override;

 private slots:
  void ActionList1Update();
  void Button1Click();
  void Action2Execute();

 private:
  void FormCreate();
  void ShowMessage(const std::string& Text, bool IsError);

  TMessageBox FMessageBox;
  QLineEdit* EditHost = nullptr;
  QPushButton* BtnConnect = nullptr;
  QLineEdit* EditPort = nullptr;
  QLineEdit* EditUser = nullptr;
  QLineEdit* EditPassword = nullptr;
  QLineEdit* EditVHost = nullptr;
  QPlainTextEdit* MemoURI = nullptr;
  QPushButton* Button1 = nullptr;
  QAction* Action2 = nullptr;
};

// The message box the window shows unless told otherwise: modal, with an Ok button.
void ShowMessageBox(QWidget* Parent, const QString& Text, bool IsError);

}  // namespace orvane
