// The main window: caption "Quorvane" and the read-only log box Text1 filling
// its client area.
#pragma once

#include <QMainWindow>
#include <QPlainTextEdit>

namespace quorvane {

class ServerWindow final : public QMainWindow {
 public:
  ServerWindow();

  QPlainTextEdit& Text1() { return *text1_; }

 private:
  QPlainTextEdit* text1_;
};

}  // namespace quorvane
