// Host names of connection peers by reverse lookup, remembered for a short while: a client that
// connects once per request would otherwise cost a lookup each time.
#pragma once

#include <netinet/in.h>

#include <string>

namespace zephyrine::server {

// The host name of the peer's address, empty when the lookup finds none. A loopback peer is
// "localhost" without a lookup. No lock is held while a lookup runs, so a peer whose lookup is
// slow delays only the connection that asked.
std::string PeerHostName(const sockaddr_in& peer);

}  // namespace zephyrine::server
