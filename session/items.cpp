// Placeholder until the login sequence lands; replaced, not extended.
#include "server_socket.h"
namespace quorvane {
void ServerSocket::SendItems() {}
}  // namespace quorvane
