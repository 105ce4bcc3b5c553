#include "MainFrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVBoxLayout>
#include <exception>

#include "ConnCfgFrm.h"
#include "ZQText.h"

namespace kestrun {

namespace {

const QColor CleanRunColour(0, 255, 0);
const QColor FailedRunColour(255, 0, 0);

// Hands one run's output to the window: log lines and the result are queued to the GUI thread. The window
// ends every run before it goes away, so the pointer outlives all calls.
class TWindowSink final : public ITestSink {
 public:
  TWindowSink(TMainForm* Form, uint64_t Run) : FForm(Form), FRun(Run) {}

  void AddLog(const std::string& Text, bool IsError) override { FForm->AddLog(Text, FRun, IsError); }
  void ShowResult(uint32_t Rate, bool Failed) override {
    TMainForm* Form = FForm;
    QMetaObject::invokeMethod(
        Form, [Form, Rate, Failed] { Form->ShowResult(Rate, Failed); }, Qt::QueuedConnection);
  }

 private:
  TMainForm* const FForm;
  const uint64_t FRun;
};

QFrame* Panel(const char* Name, QWidget* Parent) {
  auto* Result = new QFrame(Parent);
  Result->setObjectName(QString::fromUtf8(Name));
  return Result;
}

QLabel* Label(const char* Name, const char* Caption, QWidget* Parent) {
  auto* Result = new QLabel(QString::fromUtf8(Caption), Parent);
  Result->setObjectName(QString::fromUtf8(Name));
  return Result;
}

struct TTrackBarData {
  const char* Name;
  int Minimum, Maximum, Position, LineSize, PageSize, Frequency;
};

QSlider* TrackBar(const TTrackBarData& Data, QWidget* Parent) {
  auto* Result = new QSlider(Qt::Horizontal, Parent);
  Result->setObjectName(QString::fromUtf8(Data.Name));
  Result->setRange(Data.Minimum, Data.Maximum);
  Result->setValue(Data.Position);
  Result->setSingleStep(Data.LineSize);
  Result->setPageStep(Data.PageSize);
  Result->setTickInterval(Data.Frequency);
  Result->setTickPosition(QSlider::TicksBelow);
  return Result;
}

void SetPixelFont(QWidget* Widget, int Height) {
  QFont Font = Widget->font();
  Font.setPixelSize(Height);
  Widget->setFont(Font);
}

void SetTextColour(QWidget* Widget, const QColor& Colour) {
  QPalette Palette = Widget->palette();
  Palette.setColor(QPalette::WindowText, Colour);
  Widget->setPalette(Palette);
}

}  // namespace

void TWrappingButton::paintEvent(QPaintEvent*) {
  QStylePainter Painter(this);
  QStyleOptionButton Option;
  initStyleOption(&Option);
  const QString Caption = Option.text;
  Option.text.clear();
  Painter.drawControl(QStyle::CE_PushButton, Option);
  const QRect Area = style()->subElementRect(QStyle::SE_PushButtonContents, &Option, this);
  Painter.drawItemText(Area, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(),
                       isEnabled(), Caption, QPalette::ButtonText);
}

TMainForm::TMainForm(TFactoryMaker Maker, QWidget* Parent) : QWidget(Parent), FMaker(std::move(Maker)) {
  setObjectName("MainForm");
  resize(465, 608);
  SetPixelFont(this, 12);

  auto* Panel3 = Panel("Panel3", this);
  Panel3->setFixedHeight(65);
  EditHost = new QLineEdit(Panel3);
  EditHost->setObjectName("EditHost");
  EditHost->setReadOnly(true);
  EditHost->installEventFilter(this);
  auto* Panel3Layout = new QVBoxLayout(Panel3);
  Panel3Layout->setContentsMargins(6, 6, 6, 6);
  Panel3Layout->addWidget(Label("Label6", "Broker address (click to configure)", Panel3));
  Panel3Layout->addWidget(EditHost);

  auto* Panel1 = Panel("Panel1", this);
  TbCount = TrackBar({"TbCount", 1000, 10000, 1000, 1000, 1000, 1000}, Panel1);
  TbLength = TrackBar({"TbLength", 10, 2000, 10, 100, 100, 100}, Panel1);
  TbThreads = TrackBar({"TbThreads", 1, 8, 1, 100, 1, 1}, Panel1);
  auto* Label1 = Label("Label1", "&Number of messages to send:", Panel1);
  Label1->setBuddy(TbCount);
  auto* Label4 = Label("Label4", "Number of threads:", Panel1);
  Label4->setBuddy(TbThreads);

  auto* Panel2 = Panel("Panel2", Panel1);
  Panel2->setFixedHeight(102);
  BtnSend = new TWrappingButton("&Send", Panel2);
  BtnSend->setObjectName("BtnSend");
  BtnSend->setDefault(true);
  BtnSend->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  SetPixelFont(BtnSend, 21);
  auto* Panel2Layout = new QVBoxLayout(Panel2);
  Panel2Layout->setContentsMargins(0, 0, 0, 0);
  Panel2Layout->addWidget(BtnSend);

  MemoResults = new QPlainTextEdit(Panel1);
  MemoResults->setObjectName("MemoResults");
  // The log only shows what the threads did; keys typed there (Enter above all) go to the window.
  MemoResults->setReadOnly(true);
  MemoResults->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoResults->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* Panel1Layout = new QVBoxLayout(Panel1);
  Panel1Layout->setContentsMargins(6, 6, 6, 6);
  Panel1Layout->addWidget(Label1);
  Panel1Layout->addWidget(TbCount);
  Panel1Layout->addWidget(Label("Label2", "Payload length:", Panel1));
  Panel1Layout->addWidget(TbLength);
  Panel1Layout->addWidget(Label4);
  Panel1Layout->addWidget(TbThreads);
  Panel1Layout->addWidget(Panel2);
  Panel1Layout->addWidget(MemoResults, 1);

  auto* Panel4 = Panel("Panel4", this);
  Panel4->setFixedHeight(99);
  Panel4->setAutoFillBackground(true);
  QPalette Black = Panel4->palette();
  Black.setColor(QPalette::Window, Qt::black);
  Panel4->setPalette(Black);
  LblMsgsPerSec = Label("LblMsgsPerSec", "", Panel4);
  LblMsgsPerSec->setAlignment(Qt::AlignCenter);
  LblMsgsPerSec->setWordWrap(true);
  SetPixelFont(LblMsgsPerSec, 48);
  SetTextColour(LblMsgsPerSec, CleanRunColour);
  lblBrokerVersion = Label("lblBrokerVersion", "", Panel4);
  lblBrokerVersion->setTextFormat(Qt::PlainText);  // the broker's server text
  lblBrokerVersion->setAlignment(Qt::AlignCenter);
  SetPixelFont(lblBrokerVersion, 16);
  SetTextColour(lblBrokerVersion, QColor(255, 255, 0));
  auto* Panel4Layout = new QVBoxLayout(Panel4);
  Panel4Layout->setContentsMargins(0, 0, 0, 0);
  Panel4Layout->setSpacing(0);
  Panel4Layout->addWidget(LblMsgsPerSec, 1);
  Panel4Layout->addWidget(lblBrokerVersion);

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  Layout->addWidget(Panel3);
  Layout->addWidget(Panel1, 1);
  Layout->addWidget(Panel4);

  for (QSlider* TrackBar : {TbCount, TbLength, TbThreads}) {
    connect(TrackBar, &QSlider::valueChanged, this, [this] { TbCountChange(); });
  }
  connect(BtnSend, &QPushButton::clicked, this, [this] { BtnSendClick(); });

  try {
    FFactory = FMaker.Default();
  } catch (const std::exception& Error) {
    ShowError(Error.what());
  }
}

TMainForm::~TMainForm() {
  FRun.reset();
}

void TMainForm::AddLog(const std::string& Text) {
  QMetaObject::invokeMethod(
      this,
      [this, Line = QString::fromStdString(velmor::SingleLine(Text))] { MemoResults->appendPlainText(Line); },
      Qt::QueuedConnection);
}

void TMainForm::AddLog(const std::string& Text, uint64_t Run, bool IsError) {
  // A late line of an earlier run (a sender that ended after the result) stays out of the new log. An
  // error line marks the run as soon as it arrives, also when it comes after the result.
  QMetaObject::invokeMethod(
      this,
      [this, Run, IsError, Line = QString::fromStdString(velmor::SingleLine(Text))] {
        if (Run == FRunNumber) {
          MemoResults->appendPlainText(Line);
          if (IsError) {
            MarkRunFailed();
          }
        }
      },
      Qt::QueuedConnection);
}

void TMainForm::ShowResult(uint32_t Rate, bool Failed) {
  LblMsgsPerSec->setText(QString::fromStdString(ResultText(Rate)));
  if (Failed) {
    MarkRunFailed();
  }
  BtnSend->setEnabled(true);
  // Unless the user has put the focus elsewhere meanwhile, Enter starts the next test from the button.
  if (FFocusBackToButton && focusWidget() == FFocusTakenBy) {
    BtnSend->setFocus(Qt::OtherFocusReason);
  }
  FFocusBackToButton = false;
}

void TMainForm::MarkRunFailed() {
  SetTextColour(LblMsgsPerSec, FailedRunColour);
  lblBrokerVersion->setText(QString::fromStdString(FailedRunLabel(FServer)));
}

void TMainForm::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  // Only when the program shows the window, not when the window system restores it.
  if (!Event->spontaneous()) {
    FormShow();
  }
}

void TMainForm::FormShow() {
  try {
    // The application keeps its display name unset: the window system then shows every title as it is.
    setWindowTitle(QString::fromStdString(LibraryTitle(FMaker.Default()) + TitleSuffix));
  } catch (const std::exception& Error) {
    ShowError(Error.what());
  }
  EditHost->setText(DefaultBrokerURL);
  lblBrokerVersion->setText("Compiler version: " + QLocale().toString(CompilerVersion(), 'f', 2));
  TbCountChange();
}

void TMainForm::TbCountChange() {
  BtnSend->setText(
      QString::fromStdString(SendButtonCaption(TbThreads->value(), TbCount->value(), TbLength->value())));
}

void TMainForm::closeEvent(QCloseEvent* Event) {
  if (!BtnSend->isEnabled()) {
    Event->ignore();
    ShowNote(TestRunningText);
    return;
  }
  FRun.reset();
  Event->accept();
}

void TMainForm::keyPressEvent(QKeyEvent* Event) {
  // The start button is the window's default button: Enter presses it unless the focused control uses
  // the key itself.
  if ((Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) && BtnSend->isEnabled()) {
    BtnSend->animateClick();
    return;
  }
  QWidget::keyPressEvent(Event);
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* Event) {
  // The broker field is read-only; a click on it opens the connection dialog once the click has been
  // handled, so the field sees the whole click and the dialog does not run inside the mouse event.
  if (Watched == EditHost && Event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
    QMetaObject::invokeMethod(
        this, [this] { EditHostClick(); }, Qt::QueuedConnection);
  }
  return QWidget::eventFilter(Watched, Event);
}

void TMainForm::EditHostClick() {
  try {
    std::string URL = EditHost->text().toStdString();
    velmor::IConnectionFactoryPtr Factory = ShowConnectionDialog(FMaker, this, URL);
    if (!Factory) {
      return;
    }
    FFactory = Factory;
    EditHost->setText(QString::fromStdString(URL));
    if (NeedsProductionNote(URL)) {
      ShowNote(ProductionNoteText);
    }
  } catch (const std::exception& Error) {
    ShowError(Error.what());
  }
}

void TMainForm::BtnSendClick() {
  try {
    const std::string Server = ProbeBroker(FFactory);
    FServer = velmor::TrimTrailingLineBreaks(Server);
  } catch (const std::exception& Error) {
    ShowError(Error.what());
    return;
  }
  lblBrokerVersion->setText(QString::fromStdString(FServer));
  // The previous run's result has arrived; its senders may still be closing. Wait for them.
  FRun.reset();
  // Disabling the button moves its focus on; the result gives it back.
  FFocusBackToButton = focusWidget() == BtnSend;
  BtnSend->setEnabled(false);
  FFocusTakenBy = focusWidget();
  SetTextColour(LblMsgsPerSec, CleanRunColour);
  LblMsgsPerSec->setText(RunningText);
  MemoResults->clear();
  try {
    ++FRunNumber;
    FRun = std::make_unique<TTestRun>(FFactory,
                                      TTestSettings{TbCount->value(), TbLength->value(), TbThreads->value()},
                                      std::make_shared<TWindowSink>(this, FRunNumber));
  } catch (const std::exception& Error) {
    ShowError(Error.what());
    ShowResult(0, true);
  }
}

// Message boxes carry the window's own title, and show broker texts as they are, never as markup.
void TMainForm::ShowBox(QMessageBox::Icon Icon, const QString& Text) {
  QMessageBox box(Icon, windowTitle(), Text, QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void TMainForm::ShowError(const std::string& Text) {
  ShowBox(QMessageBox::Critical, ShownText(Text));
}

void TMainForm::ShowNote(const std::string& Text) {
  ShowBox(QMessageBox::Information, QString::fromStdString(Text));
}

}  // namespace kestrun
