#include "server_window.h"

#include <QVBoxLayout>

namespace quorvane {
namespace {

// The client area and the log box's place in it, at 15 twips a pixel: the box
// starts 8 pixels in and leaves 6 on the right and 5 below.
constexpr int kClientWidth = 599;
constexpr int kClientHeight = 454;
constexpr int kLogLeft = 8;
constexpr int kLogTop = 8;
constexpr int kLogRight = 6;
constexpr int kLogBottom = 5;

}  // namespace

ServerWindow::ServerWindow() : text1_(new QPlainTextEdit) {
  setWindowTitle("Quorvane");
  text1_->setObjectName("Text1");
  text1_->setReadOnly(true);
  text1_->setLineWrapMode(QPlainTextEdit::NoWrap);

  auto* area = new QWidget;
  auto* layout = new QVBoxLayout(area);
  layout->setContentsMargins(kLogLeft, kLogTop, kLogRight, kLogBottom);
  layout->addWidget(text1_);
  setCentralWidget(area);
  resize(kClientWidth, kClientHeight);
}

}  // namespace quorvane
