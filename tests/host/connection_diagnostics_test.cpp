// The lines the host writes about its connections, on a fake clock: one per
// event, named by slot and peer, with bursts of refusals and drops summed up.
#include "host/connection_diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_clock.h"
#include "report_log.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

class ConnectionDiagnosticsTest : public ::testing::Test {
 protected:
  ConnectionDiagnosticsTest() {
    settings_.handshakeTimeout = 10s;
    settings_.loginTimeout = 20s;
    settings_.idleTimeout = 1500ms;
    settings_.admission.maxPerAddress = 1;
  }

  // The lines written since the last call.
  std::vector<std::string> Lines() { return std::exchange(log_.lines, {}); }

  FakeClock clock_;
  ReportLog log_;
  HostSettings settings_;
  ConnectionDiagnostics diagnostics_{clock_, log_.Sink(), settings_};
};

TEST_F(ConnectionDiagnosticsTest, ClosingLinesSayWhyAtTheLevelTheCauseDeserves) {
  struct Case {
    CloseReason reason;
    HostCause cause;
    std::string line;
  };
  const Case cases[] = {
      {CloseReason::kPeerClosed, HostCause::kNone,
       "I slot 2 [2001:db8::1]:5000: closed: the peer "
       "closed the connection"},
      {CloseReason::kReset, HostCause::kNone,
       "I slot 2 [2001:db8::1]:5000: closed: the connection was reset or failed"},
      {CloseReason::kTimedOut, HostCause::kNone,
       "W slot 2 [2001:db8::1]:5000: closed: the peer stopped answering"},
      {CloseReason::kSendBound, HostCause::kNone,
       "W slot 2 [2001:db8::1]:5000: closed: the peer does not read: more than its send bound "
       "waited to be sent"},
      {CloseReason::kClosedByUs, HostCause::kNone,
       "I slot 2 [2001:db8::1]:5000: closed: closed by the server"},
      {CloseReason::kClosedByUs, HostCause::kHandshakeTimeout,
       "W slot 2 [2001:db8::1]:5000: closed: no handshake within 10 s"},
      {CloseReason::kClosedByUs, HostCause::kLoginTimeout,
       "W slot 2 [2001:db8::1]:5000: closed: no login within 20 s"},
      {CloseReason::kClosedByUs, HostCause::kIdleTimeout,
       "W slot 2 [2001:db8::1]:5000: closed: nothing received for 1.5 s"},
      {CloseReason::kClosedByUs, HostCause::kCharacterInUse,
       "W slot 2 [2001:db8::1]:5000: closed: its login named the character another slot plays"},
      {CloseReason::kClosedByUs, HostCause::kNoCharacterFile,
       "W slot 2 [2001:db8::1]:5000: closed: its login named no character file"},
  };
  diagnostics_.ConnectionAccepted(1, "[2001:db8::1]:5000");
  EXPECT_EQ(Lines(), std::vector<std::string>{"I slot 2 [2001:db8::1]:5000: accepted"});
  for (const Case& c : cases) {
    diagnostics_.ConnectionClosed(1, c.reason, c.cause, 1s);
    EXPECT_EQ(Lines(), std::vector<std::string>{c.line});
  }
}

TEST_F(ConnectionDiagnosticsTest, LoginLinesNameTheCharacterAndAMissingFile) {
  diagnostics_.ConnectionAccepted(0, "127.0.0.1:40000");
  diagnostics_.LoggedIn(0, "Ann", true);
  diagnostics_.LoggedIn(0, "Ghost", false);
  diagnostics_.LoggedIn(0, "\\x0A\"\n\xE9", false);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "I slot 1 127.0.0.1:40000: accepted",
                         "I slot 1 127.0.0.1:40000: logged in as \"Ann\"",
                         "I slot 1 127.0.0.1:40000: logged in as \"Ghost\": no character file",
                         "I slot 1 127.0.0.1:40000: logged in as \"\\\\x0A\\\"\\x0A\\xE9\": no "
                         "character file",
                     }));
}

TEST_F(ConnectionDiagnosticsTest, RefusalsOfOneAddressAreWrittenOnceAMinuteWithACount) {
  for (int i = 0; i < 50; ++i)
    diagnostics_.ConnectionRefused("192.0.2.1:4000", RefusalReason::kSlotsFull);
  diagnostics_.ConnectionRefused("[2001:db8::9]:4000", RefusalReason::kDenied);
  diagnostics_.ConnectionRefused("192.0.2.2:4000", RefusalReason::kPerAddressLimit);
  diagnostics_.ConnectionRefused("192.0.2.3:4000", RefusalReason::kNotAllowed);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "I 192.0.2.1:4000: refused: every slot is taken",
                         "W [2001:db8::9]:4000: refused: inside a --deny range",
                         "W 192.0.2.2:4000: refused: the address holds 1 slots already "
                         "(--max-per-address)",
                         "W 192.0.2.3:4000: refused: outside every --allow range",
                     }));

  clock_.Advance(60s - 1ms);
  diagnostics_.ConnectionRefused("192.0.2.1:4001", RefusalReason::kSlotsFull);
  EXPECT_TRUE(Lines().empty());
  clock_.Advance(1ms);
  diagnostics_.ConnectionRefused("192.0.2.1:4002", RefusalReason::kSlotsFull);
  EXPECT_EQ(Lines(), std::vector<std::string>{"I 192.0.2.1:4002: refused: every slot is taken "
                                              "(50 more refused from it since the last line)"});
}

// Peers without a port are told apart by their whole address, every colon of
// it (for IPv6, by its /64 prefix, as the address rules count peers).
TEST_F(ConnectionDiagnosticsTest, RefusalsAreQuietenedPerAddressWithOrWithoutAPort) {
  diagnostics_.ConnectionRefused("2001:db8:1::1", RefusalReason::kDenied);
  diagnostics_.ConnectionRefused("2001:db8:2::1", RefusalReason::kDenied);
  diagnostics_.ConnectionRefused("[2001:db8:1::1]:4000", RefusalReason::kDenied);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"W 2001:db8:1::1: refused: inside a --deny range",
                                               "W 2001:db8:2::1: refused: inside a --deny range"}));
}

TEST_F(ConnectionDiagnosticsTest, ABanIsOneLineAndTheRefusalsItCausesNone) {
  diagnostics_.AddressBanned("198.51.100.7", BanReason::kConnectionRate, 300s);
  for (int i = 0; i < 100; ++i) {
    diagnostics_.ConnectionRefused("198.51.100.7:5000", RefusalReason::kBanned);
  }
  diagnostics_.AddressBanned("2001:db8::2", BanReason::kTimeoutPenalty, 60s);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "W 198.51.100.7: banned for 300 s: more than 20 connections within 60 s",
                         "W 2001:db8::2: refused for 60 s: a deadline closed its connection",
                     }));
}

// Past the addresses it keeps apart, refusals of new ones share one count.
TEST_F(ConnectionDiagnosticsTest, RefusalsOfManyAddressesStayAFewLines) {
  const std::size_t addresses = ConnectionDiagnostics::kMaxQuietAddresses + 100;
  for (std::size_t i = 0; i < addresses; ++i) {
    diagnostics_.ConnectionRefused("10." + std::to_string(i / 65536) + "." +
                                       std::to_string(i / 256 % 256) + "." +
                                       std::to_string(i % 256) + ":1",
                                   RefusalReason::kSlotsFull);
  }
  EXPECT_EQ(Lines().size(), ConnectionDiagnostics::kMaxQuietAddresses + 1);
}

TEST_F(ConnectionDiagnosticsTest, DropsAreSummedUpOnceASecondPerSenderAndReceiver) {
  diagnostics_.ConnectionAccepted(0, "127.0.0.1:40000");
  Lines();
  for (int i = 0; i < 300; ++i) {
    diagnostics_.RelayDropped(0, 1, 202, DropReason::kRateLimit);
  }
  for (int i = 0; i < 5; ++i) diagnostics_.RelayDropped(0, 1, 303, DropReason::kBackPressure);
  diagnostics_.RelayDropped(kNoSlot, 0, 203, DropReason::kBackPressure);
  clock_.Advance(1s - 1ms);
  EXPECT_TRUE(Lines().empty());
  clock_.Advance(1ms);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "W slot 1 127.0.0.1:40000: relay to slot 2: dropped 305 packets in 1 s "
                         "(5 with over 262144 bytes waiting for the receiver, 300 over the "
                         "sender's relay rate)",
                         "W NPCs: relay to slot 1: dropped 1 packets in 1 s (1 with over 262144 "
                         "bytes waiting for the receiver)",
                     }));
  clock_.Advance(1h);
  EXPECT_TRUE(Lines().empty());
  diagnostics_.RelayDropped(0, 1, 202, DropReason::kRateLimit);
  clock_.Advance(1s);
  EXPECT_EQ(Lines().size(), 1u);
}

}  // namespace
}  // namespace quorvane::testing
