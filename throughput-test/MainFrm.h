#pragma once

// The main window of Kestrun: the test's settings, the start button, the log and the rate.

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "KestrunLogic.h"
#include "VelmorThread.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSlider;

namespace kestrun {

// A push button whose caption wraps onto as many lines as the button's width needs.
class TWrappingButton final : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

class TMainForm final : public QWidget {
 public:
  explicit TMainForm(TFactoryMaker Maker, QWidget* Parent = nullptr);
  ~TMainForm() override;

  // Appends Text as the log's last line, line breaks inside it shown as blanks. Safe on any thread: the
  // append is queued to the GUI thread and never waited for.
  void AddLog(const std::string& Text);
  // The same for a line of test run number Run: dropped when another run has begun meanwhile. A line
  // that tells of a failure (IsError) marks the run's result as failed.
  void AddLog(const std::string& Text, uint64_t Run, bool IsError);
  // Shows the rate, marked when the run failed, and makes the start button usable again; the focus that
  // the button gave up when the run began comes back to it. GUI thread only.
  void ShowResult(uint32_t Rate, bool Failed);

  QLineEdit* EditHost;
  QSlider* TbCount;
  QSlider* TbLength;
  QSlider* TbThreads;
  TWrappingButton* BtnSend;
  QPlainTextEdit* MemoResults;
  QLabel* LblMsgsPerSec;
  QLabel* lblBrokerVersion;

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void FormShow();
  void TbCountChange();
  void EditHostClick();
  void BtnSendClick();
  void MarkRunFailed();
  void ShowBox(QMessageBox::Icon Icon, const QString& Text);
  void ShowError(const std::string& Text);
  void ShowNote(const std::string& Text);

  const TFactoryMaker FMaker;
  // The factory of the next test.
  velmor::IConnectionFactoryPtr FFactory;
  // The current or last test; replacing it waits for all of its threads.
  std::unique_ptr<TTestRun> FRun;
  // Counts the runs started; read and written on the GUI thread only.
  uint64_t FRunNumber = 0;
  // The broker's server text from the last probe.
  std::string FServer;
  // True while the start button waits to get the focus back at the end of the run, from the widget that
  // took it when the button was disabled (none when the focus went nowhere).
  bool FFocusBackToButton = false;
  QPointer<QWidget> FFocusTakenBy;
};

}  // namespace kestrun
