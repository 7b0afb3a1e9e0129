#include "form1.h"

#include <utility>

namespace quorvane {

Form1::Form1(Controls controls, const kelvane::Api& cipher, Generator& generator,
             std::filesystem::path dataDir, std::uint16_t port)
    : Text1(controls.Text1),
      Winsock1(controls.Winsock1),
      generator_(generator),
      port_(port),
      ServerSocket1(controls.Socket1, cipher, generator, dataDir),
      ServerSocket2(controls.Socket2, cipher, generator, std::move(dataDir)) {
  ServerSocket1.SetAllSendHandler(
      [this](std::int16_t id, ByteView data) { ServerSocket1_AllSend(id, data); });
  ServerSocket2.SetAllSendHandler(
      [this](std::int16_t id, ByteView data) { ServerSocket2_AllSend(id, data); });
}

void Form1::Form_Load() {
  Winsock1.Bind(port_);
  Winsock1.Listen();
  TimerTicks = 0;
}

void Form1::Winsock1_ConnectionRequest(std::int32_t requestID) {
  Text1.SetSelStart(0);
  Text1.SetSelLength(0);
  if (ServerSocket1.Stat() != SocketControl::kConnected) {
    Log("Connected client to Server1");
    ServerSocket1.Closer();
    ServerSocket1.Accept(requestID);
  } else if (ServerSocket2.Stat() != SocketControl::kConnected) {
    Log("Connected client to Server2");
    ServerSocket2.Closer();
    ServerSocket2.Accept(requestID);
  } else {
    Log("Cannot connect more than 2 clients");
  }
}

void Form1::ServerSocket1_AllSend(std::int16_t id, ByteView data) { ServerSocket2.SendData(id, data); }

void Form1::ServerSocket2_AllSend(std::int16_t id, ByteView data) { ServerSocket1.SendData(id, data); }

void Form1::Log(std::string_view message) {
  std::string line(message);
  line += "\r\n";
  Text1.SetSelStart(0);
  Text1.SetSelLength(0);
  Text1.SetSelText(line);
}

}  // namespace quorvane
