// The events a session raises for its host besides AllSend: handshake done,
// logged in, closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "data_folder.h"
#include "report_log.h"
#include "session_harness.h"

namespace quorvane {
namespace {

using testing::DataFolder;
using testing::ReportLog;
using testing::SessionHarness;

constexpr std::int16_t kLogin = 200;
constexpr std::int16_t kChatLine = 303;

// A login payload: 00, the name, 00 bytes to 46.
Bytes LoginBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

class SessionEventsTest : public ::testing::Test {
 protected:
  SessionEventsTest() {
    h.session.SetHandshakeDoneHandler([this] {
      // Raised once the reply is on its way.
      events.push_back(h.socket.NothingSent() ? "handshake, no reply" : "handshake, reply out");
    });
    h.session.SetLoggedInHandler([this](std::string_view fileName, bool found) {
      events.push_back("logged in " + std::string(fileName) + (found ? " found" : " not found"));
    });
    h.session.SetClosedHandler([this](CloseReason reason) { closed.push_back(reason); });
  }

  DataFolder data;
  SessionHarness h{data.root()};
  std::vector<std::string> events;
  std::vector<CloseReason> closed;
};

TEST_F(SessionEventsTest, HandshakeDoneComesWithTheReplyAndOnlyForAGoodHello) {
  h.session.Closer();
  h.session.Accept(1);
  h.socket.Deliver(Bytes(10, 0x55));
  EXPECT_TRUE(events.empty());

  h.session.Accept(2);
  h.socket.Deliver(h.client.Hello());
  EXPECT_EQ(events, std::vector<std::string>{"handshake, reply out"});
}

TEST_F(SessionEventsTest, LoggedInNamesTheFileTheBlockSelectedAndWhetherItWasFound) {
  data.WriteCharacter("Ann", Bytes(93, 0x00));
  ASSERT_TRUE(h.Connect());
  events.clear();
  for (const char* name : {"ann", "Nobody", "../Ann"}) h.Send(kLogin, LoginBlock(name));
  EXPECT_EQ(events, (std::vector<std::string>{"logged in ann found", "logged in Nobody not found",
                                              "logged in ../Ann not found"}));
}

TEST_F(SessionEventsTest, LoggedInComesAfterTheWelcomeLine) {
  ASSERT_TRUE(h.Connect());
  std::size_t packetsBefore = 0;
  h.session.SetLoggedInHandler(
      [&](std::string_view, bool) { packetsBefore = h.Received().size(); });
  h.Send(kLogin, LoginBlock("Nobody"));
  ASSERT_GT(packetsBefore, 0u);
  EXPECT_TRUE(h.Received().empty());
}

TEST_F(SessionEventsTest, ClosedPassesTheSocketsReasonOncePerConnection) {
  const CloseReason reasons[] = {CloseReason::kPeerClosed, CloseReason::kReset,
                                 CloseReason::kTimedOut, CloseReason::kSendBound};
  for (const CloseReason reason : reasons) {
    closed.clear();
    ASSERT_TRUE(h.Connect());
    h.socket.Drop(reason);
    h.session.Closer();  // already ended: nothing more to hear
    EXPECT_EQ(closed, std::vector<CloseReason>{reason});
  }
}

TEST_F(SessionEventsTest, CloserOnALiveConnectionIsHeardAsClosedByUs) {
  ASSERT_TRUE(h.Connect());
  h.session.Closer();
  EXPECT_EQ(closed, std::vector<CloseReason>{CloseReason::kClosedByUs});
}

TEST_F(SessionEventsTest, UnreadableDataFilesAreReportedAndTheLoginGoesOn) {
  ReportLog log;
  h.session.SetDiagnostics(log.Sink());
  const std::vector<std::string>& reports = log.lines;
  // Regular files whose first read fails (EIO) for every user, root included.
  std::filesystem::create_symlink("/proc/self/mem", data.root() / "characters" / "Locked");
  std::filesystem::create_symlink("/proc/self/mem", data.root() / "items" / "Locked");
  ASSERT_TRUE(h.Connect());
  h.Send(kLogin, LoginBlock("Locked"));

  ASSERT_EQ(reports.size(), 2u);
  const std::string folder = data.root().string();
  EXPECT_EQ(
      reports[0].rfind("W cannot read character file \"" + folder + "/characters/Locked\": ", 0),
      0u)
      << reports[0];
  EXPECT_EQ(reports[1].rfind("W cannot read item file \"" + folder + "/items/Locked\": ", 0), 0u)
      << reports[1];
  EXPECT_EQ(h.Received().back().opcode, kChatLine);
}

}  // namespace
}  // namespace quorvane
