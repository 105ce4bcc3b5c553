#include "ConnectFrm.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <exception>
#include <utility>

#include "ZQText.h"

namespace orvane {

namespace {

constexpr int ClientWidth = 491;
constexpr int ClientHeight = 254;

// The colour of an inactive window caption, behind the URL.
const QColor InactiveCaptionColor(191, 205, 219);

std::string ToStd(const QString& Text) {
  return Text.toStdString();
}

QString FromStd(const std::string& Text) {
  return QString::fromStdString(Text);
}

}  // namespace

void ShowMessageBox(QWidget* Parent, const QString& Text, bool IsError) {
  // Broker texts are shown as they are, never as markup.
  QMessageBox box(IsError ? QMessageBox::Critical : QMessageBox::Information, QApplication::applicationName(),
                  Text, QMessageBox::Ok, Parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

TConfigForm::TConfigForm(QWidget* Parent) : QDialog(Parent), FMessageBox(ShowMessageBox) {
  setObjectName("ConfigForm");
  auto* grid = new QGridLayout(this);

  const auto addLabel = [this, grid](const char* Name, const QString& Caption, int Row) {
    auto* label = new QLabel(Caption, this);
    label->setObjectName(Name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(label, Row, 0);
    return label;
  };
  const auto addEdit = [this, grid](const char* Name, const QString& Placeholder, int Row) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(Name);
    edit->setPlaceholderText(Placeholder);
    grid->addWidget(edit, Row, 1);
    connect(edit, &QLineEdit::textChanged, this, &TConfigForm::ActionList1Update);
    return edit;
  };

  addLabel("Label1", "Broker", 0);
  EditHost = addEdit("EditHost", "Broker", 0);

  Action2 = new QAction("Connect", this);
  Action2->setObjectName("Action2");
  connect(Action2, &QAction::triggered, this, &TConfigForm::Action2Execute);
  BtnConnect = new QPushButton(Action2->text(), this);
  BtnConnect->setObjectName("BtnConnect");
  BtnConnect->setDefault(true);
  BtnConnect->setFocusPolicy(Qt::ClickFocus);
  connect(BtnConnect, &QPushButton::clicked, Action2, &QAction::trigger);
  grid->addWidget(BtnConnect, 0, 2);

  addLabel("Label3", "Port", 1);
  EditPort = addEdit("EditPort", "Port", 1);
  addLabel("Label4", "Username", 2);
  EditUser = addEdit("EditUser", "Username", 2);
  addLabel("Label5", "Password", 3);
  EditPassword = addEdit("EditPassword", "Password", 3);
  addLabel("Label6", "VHost", 4);
  EditVHost = addEdit("EditVHost", "VHost", 4);

  addLabel("Label2", "URL", 5)->setAlignment(Qt::AlignRight | Qt::AlignTop);
  MemoURI = new QPlainTextEdit(this);
  MemoURI->setObjectName("MemoURI");
  MemoURI->setReadOnly(true);
  MemoURI->setFocusPolicy(Qt::ClickFocus);
  MemoURI->setTabChangesFocus(true);
  QPalette memoPalette = MemoURI->palette();
  memoPalette.setColor(QPalette::Base, InactiveCaptionColor);
  MemoURI->setPalette(memoPalette);
  grid->addWidget(MemoURI, 5, 1, 1, 2);
  grid->setRowStretch(5, 1);

  Button1 = new QPushButton("Copy connection URI to clipboard", this);
  Button1->setObjectName("Button1");
  Button1->setAutoDefault(false);
  connect(Button1, &QPushButton::clicked, this, &TConfigForm::Button1Click);
  grid->addWidget(Button1, 6, 1, 1, 2, Qt::AlignRight);
  grid->setColumnStretch(1, 1);

  setTabOrder(EditHost, EditPort);
  setTabOrder(EditPort, EditUser);
  setTabOrder(EditUser, EditPassword);
  setTabOrder(EditPassword, EditVHost);
  setTabOrder(EditVHost, MemoURI);
  setTabOrder(MemoURI, BtnConnect);
  setTabOrder(BtnConnect, Button1);

  setFixedSize(ClientWidth, ClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  FormCreate();
}

void TConfigForm::SetMessageBox(TMessageBox Show) {
  FMessageBox = std::move(Show);
}

TConnectFields TConfigForm::Fields() const {
  return TConnectFields{ToStd(EditHost->text()), ToStd(EditPort->text()), ToStd(EditUser->text()),
                        ToStd(EditPassword->text()), ToStd(EditVHost->text())};
}

void TConfigForm::FormCreate() {
  const QString title = QApplication::applicationName();
  try {
    setWindowTitle(FromStd(LibraryCaption(ToStd(title))));
  } catch (const std::exception& e) {
    setWindowTitle(title);
    ShowMessage(e.what(), true);
  }
  const TConnectFields fields = DefaultFields();
  EditHost->setText(FromStd(fields.Host));
  EditPort->setText(FromStd(fields.Port));
  EditUser->setText(FromStd(fields.User));
  EditPassword->setText(FromStd(fields.Password));
  EditVHost->setText(FromStd(fields.VirtualHost));
  ActionList1Update();
}

void TConfigForm::ActionList1Update() {
  // Called for every change of a field: the URL, or the one error of a host text the builder refuses.
  if (MemoURI == nullptr)
    return;
  const TURLText url = ComposeURL(Fields());
  const QString text = FromStd(url.Text);
  if (MemoURI->toPlainText() != text)
    MemoURI->setPlainText(text);
  Action2->setEnabled(url.Valid);
  BtnConnect->setEnabled(url.Valid);
  Button1->setEnabled(url.Valid);
}

void TConfigForm::Button1Click() {
  QGuiApplication::clipboard()->setText(MemoURI->toPlainText());
}

void TConfigForm::Action2Execute() {
  const std::vector<std::string> errors =
      ConnectOnce(Fields(), [this](const std::string& Text) { ShowMessage(Text, false); });
  for (const std::string& error : errors)
    ShowMessage(error, true);
}

void TConfigForm::keyPressEvent(QKeyEvent* Event) {
  // The window is the program's main window: Esc does not close it, only its title bar does.
  if (Event->matches(QKeySequence::Cancel)) {
    Event->accept();
    return;
  }
  QDialog::keyPressEvent(Event);
}

void TConfigForm::ShowMessage(const std::string& Text, bool IsError) {
  // A broker's text may end with a line break; the box shows no empty line for it.
  if (FMessageBox)
    FMessageBox(this, FromStd(std::string(velmor::TrimTrailingLineBreaks(Text))), IsError);
}

}  // namespace orvane
