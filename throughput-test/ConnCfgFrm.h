#pragma once

// The connection dialog of Kestrun: broker URL, user name and password, and a connection test.

#include <QDialog>
#include <QString>
#include <string>
#include <string_view>

#include "KestrunLogic.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrun {

class TConnCfgForm final : public QDialog {
 public:
  TConnCfgForm(TFactoryMaker Maker, QWidget* Owner);

  // A new factory made from what the dialog's fields hold.
  velmor::IConnectionFactoryPtr CreateFactory() const;

  QLineEdit* EditURL;
  QLineEdit* EditUser;
  QLineEdit* EditPass;
  QLabel* LblConnectedWith;
  QLabel* LblBrokerInfo;
  QPushButton* btnOk;
  QPushButton* btnCancel;
  QPushButton* btnTestConnection;

 private:
  void btnTestConnectionClick();
  void ShowBrokerInfo();
  void ShowError(const std::string& Text);

  const TFactoryMaker FMaker;
  // The server text of the last successful connection test.
  std::string FBrokerInfo;
};

// A text as Kestrun's boxes and labels show it: without the line breaks at its end.
QString ShownText(std::string_view Text);

// Runs the dialog modally over Owner with URL in its URL field. On OK returns a factory made from the
// fields and sets URL to the URL field's text; on Cancel returns nullptr and leaves URL alone.
velmor::IConnectionFactoryPtr ShowConnectionDialog(const TFactoryMaker& Maker, QWidget* Owner,
                                                   std::string& URL);

}  // namespace kestrun
