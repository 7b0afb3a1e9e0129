// Form1's start-up, slot assignment, log and relay on fake controls.
#include "host/form1.h"

#include <gtest/gtest.h>

#include <memory>

#include "client/client_session.h"
#include "client/packet_text.h"
#include "fake_clock.h"
#include "host_fakes.h"
#include "recording_socket.h"

namespace quorvane::testing {
namespace {

using client::ClientSession;
using client::Packet;
using Call = RecordingSocket::Call;

const std::string kServer1 = "Connected client to Server1\r\n";
const std::string kServer2 = "Connected client to Server2\r\n";
const std::string kRefused = "Cannot connect more than 2 clients\r\n";

// The cipher linked into the test rather than loaded at run time.
const kelvane::Api& LinkedCipher() {
  static const kelvane::Api api{&::encode,  &::decode,  &::clishuf,   &::serdesh,
                                &::sershuf, &::clidesh, &::seedcrypt, &::clienc,
                                &::serenc,  &::serdec,  &::clidec,    &::serseal};
  return api;
}

class Form1Test : public ::testing::Test {
 protected:
  Form1Test()
      : form_(Form1::Controls{text_, listener_, {socket1_, socket2_}, clock_}, LinkedCipher(),
              generator_, {.port = 4321}) {}

  // The client of a slot sends its hello; false when no reply came.
  bool Handshake(RecordingSocket& socket, std::unique_ptr<ClientSession>& client,
                 std::uint32_t seed) {
    client = std::make_unique<ClientSession>(seed);
    socket.Deliver(client->Hello());
    client->Receive(socket.TakeSent());
    return client->phase() == ClientSession::Phase::kOpen;
  }

  FakeTextBox text_;
  FakeListener listener_;
  RecordingSocket socket1_{text_};
  RecordingSocket socket2_{text_};
  FakeClock clock_;
  Generator generator_{42, [] { return std::uint64_t{7}; }};
  Form1 form_;
};

TEST_F(Form1Test, LoadBindsTheGivenPortAndListens) {
  form_.Form_Load();
  EXPECT_EQ(listener_.boundPort, 4321);
  EXPECT_TRUE(listener_.listening);
}

TEST_F(Form1Test, LoadFailsWhenThePortCannotBeBound) {
  listener_.failBind = true;
  EXPECT_THROW(form_.Form_Load(), std::runtime_error);
  EXPECT_FALSE(listener_.listening);
}

TEST_F(Form1Test, RequestsFillSlotOneThenTwoThenAreRefused) {
  form_.Winsock1_ConnectionRequest(11);
  EXPECT_EQ(text_.Text(), kServer1);
  form_.Winsock1_ConnectionRequest(12);
  EXPECT_EQ(text_.Text(), kServer2 + kServer1);
  form_.Winsock1_ConnectionRequest(13);
  EXPECT_EQ(text_.Text(), kRefused + kServer2 + kServer1);

  // Each slot is closed, then takes its request; the log line comes first.
  EXPECT_EQ(socket1_.calls, (std::vector<Call>{{"Close", 1}, {"Accept 11", 1}}));
  EXPECT_EQ(socket2_.calls, (std::vector<Call>{{"Close", 2}, {"Accept 12", 2}}));
  EXPECT_EQ(form_.Slot(0).Phase(), kPhaseAwaitingHello);
  EXPECT_EQ(form_.Slot(1).Phase(), kPhaseAwaitingHello);
}

TEST_F(Form1Test, EveryStateButConnectedCountsAsFree) {
  for (std::int16_t state : {0, 1, 2, 4, 6, 8, 9, -1}) {
    socket1_.calls.clear();
    socket1_.state = state;
    socket2_.state = SocketControl::kConnected;
    form_.Winsock1_ConnectionRequest(state + 100);
    EXPECT_EQ(socket1_.calls.size(), 2u) << "state " << state;
    EXPECT_EQ(socket1_.calls.back().what, "Accept " + std::to_string(state + 100));

    socket1_.state = SocketControl::kConnected;
    socket2_.calls.clear();
    socket2_.state = state;
    form_.Winsock1_ConnectionRequest(state + 200);
    EXPECT_EQ(socket2_.calls.size(), 2u) << "state " << state;
  }
}

TEST_F(Form1Test, FreedSlotOneIsTakenAgainWhileSlotTwoStays) {
  form_.Winsock1_ConnectionRequest(1);
  form_.Winsock1_ConnectionRequest(2);
  socket1_.state = 0;  // its client went away
  socket2_.calls.clear();
  form_.Winsock1_ConnectionRequest(3);
  EXPECT_EQ(text_.Text(), kServer1 + kServer2 + kServer1);
  EXPECT_EQ(socket1_.calls.back().what, "Accept 3");
  EXPECT_TRUE(socket2_.calls.empty());
}

TEST_F(Form1Test, RefusedRequestLeavesBothSlotsAlone) {
  socket1_.state = SocketControl::kConnected;
  socket2_.state = SocketControl::kConnected;
  form_.Winsock1_ConnectionRequest(5);
  form_.Winsock1_ConnectionRequest(6);
  EXPECT_EQ(text_.Text(), kRefused + kRefused);
  EXPECT_TRUE(socket1_.calls.empty());
  EXPECT_TRUE(socket2_.calls.empty());
}

class RelayTest : public Form1Test {
 protected:
  void SetUp() override {
    form_.Winsock1_ConnectionRequest(1);
    form_.Winsock1_ConnectionRequest(2);
    ASSERT_TRUE(Handshake(socket1_, client1_, 0x1111));
    ASSERT_TRUE(Handshake(socket2_, client2_, 0x2222));
  }

  std::unique_ptr<ClientSession> client1_;
  std::unique_ptr<ClientSession> client2_;
};

TEST_F(RelayTest, EachHandlerSendsToTheOtherSlotOnly) {
  const Bytes line{0x00, 0x01, 'A', 0x0A, 'h', 'i'};
  form_.ServerSocket1_AllSend(303, line);
  EXPECT_EQ(client2_->Receive(socket2_.TakeSent()), (std::vector<Packet>{{303, line}}));
  EXPECT_TRUE(socket1_.TakeSent().empty());

  const Bytes move{0x09, 0x08};
  form_.ServerSocket2_AllSend(203, move);
  EXPECT_EQ(client1_->Receive(socket1_.TakeSent()), (std::vector<Packet>{{203, move}}));
  EXPECT_TRUE(socket2_.TakeSent().empty());
}

TEST_F(RelayTest, SessionEventsReachTheOtherPlayer) {
  // 202 from player 1: player 2 gets 203 with player 1's name block (never
  // written: 46 zero bytes) and the payload; player 1 gets nothing.
  socket1_.Deliver(client1_->Seal(202, Bytes{0x05, 0x06}));
  Bytes expected(46, 0x00);
  expected.insert(expected.end(), {0x05, 0x06});
  EXPECT_EQ(client2_->Receive(socket2_.TakeSent()), (std::vector<Packet>{{203, expected}}));
  EXPECT_TRUE(socket1_.TakeSent().empty());

  socket2_.Deliver(client2_->Seal(202, Bytes{0x07}));
  Bytes back(46, 0x00);
  back.push_back(0x07);
  EXPECT_EQ(client1_->Receive(socket1_.TakeSent()), (std::vector<Packet>{{203, back}}));
  EXPECT_TRUE(socket2_.TakeSent().empty());
}

TEST_F(RelayTest, RelayToASlotBeforeItsHandshakeOrAfterItsClientLeftIsDropped) {
  socket2_.state = 0;
  form_.ServerSocket1_AllSend(203, Bytes{0x01});
  EXPECT_TRUE(socket2_.TakeSent().empty());

  form_.Winsock1_ConnectionRequest(3);  // a new client in slot 2, no hello yet
  form_.ServerSocket1_AllSend(203, Bytes{0x01});
  EXPECT_TRUE(socket2_.TakeSent().empty());
}

}  // namespace
}  // namespace quorvane::testing
