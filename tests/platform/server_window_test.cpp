// The window on the offscreen platform, fed by the real server path:
// connections through the Qt listener reach Form1, whose log lines land in
// the window's log box.
#include "platform/window/server_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextBlock>
#include <chrono>
#include <vector>

#include "client/tcp_connection.h"
#include "platform/server/server.h"
#include "platform/window/plain_text_log_box.h"
#include "spin.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::SpinUntil;

QString TopVisibleLine(QPlainTextEdit& edit) {
  return edit.cursorForPosition(QPoint(0, 0)).block().text();
}

void InsertLine(TextBox& box, std::string_view line) {
  box.SetSelStart(0);
  box.SetSelLength(0);
  box.SetSelText(std::string(line) + "\r\n");
}

TEST(ServerWindowTest, ConnectionLogShowsNewestOnTopAndGrabsToAPicture) {
  ServerWindow window;
  PlainTextLogBox log(window.Text1());
  const kelvane::Library library = kelvane::Library::open(KELVANE_LIBRARY);
  ServerOptions options;
  options.listen = {"127.0.0.1"};
  options.port = 0;
  Server server(options, library.api(), log);
  server.Start();
  window.show();

  const auto port = static_cast<std::uint16_t>(server.Endpoint().section(':', -1).toUInt());
  std::vector<client::TcpConnection> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(client::TcpConnection::Connect("127.0.0.1", port, 5s));
    const int lines = i + 1;
    ASSERT_TRUE(SpinUntil([&] { return window.Text1().blockCount() > lines; })) << i;
  }

  EXPECT_EQ(window.windowTitle(), "Quorvane");
  EXPECT_TRUE(window.Text1().isReadOnly());
  EXPECT_EQ(window.Text1().toPlainText(),
            "Cannot connect more than 2 clients\n"
            "Connected client to Server2\n"
            "Connected client to Server1\n");
  EXPECT_EQ(TopVisibleLine(window.Text1()), "Cannot connect more than 2 clients");

  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString file = folder.filePath("window.png");
  const QPixmap shot = window.grab();
  ASSERT_FALSE(shot.isNull());
  ASSERT_TRUE(shot.save(file, "PNG"));
  const QImage picture(file);
  EXPECT_EQ(picture.size(), shot.size());
  // Text was drawn: the picture is not one flat colour.
  const QRect box = window.Text1().geometry();
  const QColor background = picture.pixelColor(box.center().x(), box.bottom() - 4);
  bool drawn = false;
  for (int y = box.top(); y < box.top() + 40 && !drawn; ++y) {
    for (int x = box.left() + 4; x < box.left() + 200 && !drawn; ++x) {
      drawn = picture.pixelColor(x, y) != background;
    }
  }
  EXPECT_TRUE(drawn);
}

TEST(PlainTextLogBoxTest, ManyLinesKeepTheNewestInView) {
  ServerWindow window;
  PlainTextLogBox log(window.Text1());
  window.show();
  for (int i = 0; i < 300; ++i) InsertLine(log, "line " + std::to_string(i));
  QCoreApplication::processEvents();
  EXPECT_EQ(window.Text1().document()->firstBlock().text(), "line 299");
  EXPECT_EQ(TopVisibleLine(window.Text1()), "line 299");
  EXPECT_EQ(window.Text1().blockCount(), 301);  // nothing trimmed; the last block is empty
}

TEST(PlainTextLogBoxTest, KeepsTheNewestTenThousandLinesOnly) {
  ServerWindow window;
  PlainTextLogBox log(window.Text1());
  window.show();
  for (int i = 0; i < 10050; ++i) InsertLine(log, "line " + std::to_string(i));
  QCoreApplication::processEvents();
  const QTextDocument& document = *window.Text1().document();
  EXPECT_EQ(document.blockCount(), 10001);  // the last block is empty
  EXPECT_EQ(document.firstBlock().text(), "line 10049");
  EXPECT_EQ(document.findBlockByNumber(9999).text(), "line 50");
  EXPECT_EQ(document.lastBlock().text(), "");
  EXPECT_EQ(TopVisibleLine(window.Text1()), "line 10049");
  EXPECT_FALSE(document.isUndoAvailable());
}

TEST(PlainTextLogBoxTest, ALineOfSeveralPartsCountsEachPart) {
  QPlainTextEdit edit;
  PlainTextLogBox box(edit, 3);
  for (const char* line : {"one", "two\r\nthree", "four\r\nfive"}) InsertLine(box, line);
  EXPECT_EQ(edit.toPlainText(), "four\nfive\ntwo\n");
}

TEST(PlainTextLogBoxTest, SelectionIsReplacedAndClampedToTheText) {
  struct Step {
    int start;
    int length;
    std::string text;
  };
  struct Case {
    std::vector<Step> steps;
    QString expected;
  };
  const std::vector<Case> cases{
      {{{0, 0, "abc"}, {1, 1, "XY"}}, "aXYc"}, {{{0, 0, "abc"}, {3, 0, "d"}}, "abcd"},
      {{{0, 0, "abc"}, {0, 99, "z"}}, "z"},    {{{0, 0, "abc"}, {99, 0, "z"}}, "abcz"},
      {{{0, 0, "abc"}, {-5, 1, "z"}}, "zbc"},
  };
  for (const Case& c : cases) {
    QPlainTextEdit edit;
    PlainTextLogBox box(edit);
    for (const Step& step : c.steps) {
      box.SetSelStart(step.start);
      box.SetSelLength(step.length);
      box.SetSelText(step.text);
    }
    EXPECT_EQ(edit.toPlainText(), c.expected) << c.expected.toStdString();
  }
}

TEST(PlainTextLogBoxTest, TextAfterAnInsertFollowsIt) {
  QPlainTextEdit edit;
  PlainTextLogBox box(edit);
  box.SetSelStart(0);
  box.SetSelLength(0);
  box.SetSelText("one");
  box.SetSelText("two");
  EXPECT_EQ(edit.toPlainText(), "onetwo");
}

}  // namespace
}  // namespace quorvane
