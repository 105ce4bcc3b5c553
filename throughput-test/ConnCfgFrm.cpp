#include "ConnCfgFrm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

#include "ZQText.h"

namespace kestrun {

namespace {

QLabel* BuddyLabel(const char* Caption, QWidget* Buddy, QWidget* Parent) {
  auto* Label = new QLabel(QString::fromUtf8(Caption), Parent);
  Label->setBuddy(Buddy);
  return Label;
}

QLineEdit* Edit(const char* Name, const char* Placeholder, const char* Text, QWidget* Parent) {
  auto* Result = new QLineEdit(QString::fromUtf8(Text), Parent);
  Result->setObjectName(QString::fromUtf8(Name));
  Result->setPlaceholderText(QString::fromUtf8(Placeholder));
  return Result;
}

QPushButton* Button(const char* Name, const char* Caption, QWidget* Parent) {
  auto* Result = new QPushButton(QString::fromUtf8(Caption), Parent);
  Result->setObjectName(QString::fromUtf8(Name));
  Result->setAutoDefault(false);
  return Result;
}

}  // namespace

TConnCfgForm::TConnCfgForm(TFactoryMaker Maker, QWidget* Owner) : QDialog(Owner), FMaker(std::move(Maker)) {
  setObjectName("ConnCfgForm");
  setWindowTitle("Connection configuration");
  resize(475, 198);

  EditURL = Edit("EditURL", "Server", DefaultBrokerURL, this);
  EditUser = Edit("EditUser", "User name", DefaultCredential, this);
  // The password is shown as typed, so that a test setup can be read back.
  EditPass = Edit("EditPass", "Password", DefaultCredential, this);

  LblConnectedWith = new QLabel("Connected with", this);
  LblConnectedWith->setObjectName("LblConnectedWith");
  QFont Bold = LblConnectedWith->font();
  Bold.setBold(true);
  LblConnectedWith->setFont(Bold);
  LblConnectedWith->hide();
  LblBrokerInfo = new QLabel(this);
  LblBrokerInfo->setTextFormat(Qt::PlainText);  // the broker's server text or an error
  LblBrokerInfo->setObjectName("LblBrokerInfo");
  LblBrokerInfo->setWordWrap(true);
  LblBrokerInfo->hide();

  btnOk = Button("btnOk", "Ok", this);
  btnOk->setDefault(true);
  btnCancel = Button("btnCancel", "Cancel", this);
  btnTestConnection = Button("btnTestConnection", "Test connection", this);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnTestConnection, &QPushButton::clicked, this, [this] { btnTestConnectionClick(); });

  auto* Fields = new QGridLayout;
  Fields->addWidget(BuddyLabel("&Broker URL", EditURL, this), 0, 0);
  Fields->addWidget(EditURL, 0, 1);
  Fields->addWidget(BuddyLabel("&User", EditUser, this), 1, 0);
  Fields->addWidget(EditUser, 1, 1);
  Fields->addWidget(BuddyLabel("&Password", EditPass, this), 2, 0);
  Fields->addWidget(EditPass, 2, 1);
  Fields->addWidget(LblConnectedWith, 3, 1);
  Fields->addWidget(LblBrokerInfo, 4, 1);

  auto* Buttons = new QHBoxLayout;
  Buttons->addWidget(btnTestConnection);
  Buttons->addStretch();
  Buttons->addWidget(btnOk);
  Buttons->addWidget(btnCancel);

  auto* Layout = new QVBoxLayout(this);
  Layout->addLayout(Fields);
  Layout->addStretch();
  Layout->addLayout(Buttons);

  setTabOrder(EditURL, EditUser);
  setTabOrder(EditUser, EditPass);
  setTabOrder(EditPass, btnOk);
  setTabOrder(btnOk, btnCancel);
  setTabOrder(btnCancel, btnTestConnection);
  EditURL->setFocus();
}

velmor::IConnectionFactoryPtr TConnCfgForm::CreateFactory() const {
  return FMaker.Configured(EditURL->text().toStdString(), EditUser->text().toStdString(),
                           EditPass->text().toStdString());
}

void TConnCfgForm::btnTestConnectionClick() {
  LblConnectedWith->hide();
  LblBrokerInfo->hide();
  try {
    FBrokerInfo = ProbeBroker(CreateFactory());
    ShowBrokerInfo();
  } catch (const std::exception& Error) {
    ShowError(Error.what());
  }
}

void TConnCfgForm::ShowBrokerInfo() {
  LblConnectedWith->show();
  LblBrokerInfo->setText(ShownText(FBrokerInfo));
  LblBrokerInfo->show();
}

void TConnCfgForm::ShowError(const std::string& Text) {
  LblBrokerInfo->setText(ShownText(Text));
  LblBrokerInfo->show();
}

QString ShownText(std::string_view Text) {
  Text = velmor::TrimTrailingLineBreaks(Text);
  return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
}

velmor::IConnectionFactoryPtr ShowConnectionDialog(const TFactoryMaker& Maker, QWidget* Owner,
                                                   std::string& URL) {
  TConnCfgForm Dialog(Maker, Owner);
  Dialog.EditURL->setText(QString::fromStdString(URL));
  if (Dialog.exec() != QDialog::Accepted) {
    return nullptr;
  }
  velmor::IConnectionFactoryPtr Factory = Dialog.CreateFactory();
  URL = Dialog.EditURL->text().toStdString();
  return Factory;
}

}  // namespace kestrun
