// The address 127.0.0.1:port, for both systems' socket seams. The including
// file has included its system's socket headers first (winsock2.h before
// windows.h on Windows).
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

namespace qm::os {

inline sockaddr_in loopback_address(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace qm::os
