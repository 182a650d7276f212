#pragma once
#include <sys/un.h>

#include <cstddef>
#include <string>

namespace kor {

// The longest path a Unix-domain socket address holds (its terminating zero takes one byte).
constexpr size_t kMaxSocketPathLength = sizeof(sockaddr_un::sun_path) - 1;

// Zero-fills address, sets the family and copies path with its terminating zero; false, with
// no path copied, when the path does not fit. Pass the full sizeof address to bind or connect.
bool makeSocketAddress(const std::string& path, sockaddr_un& address);

}  // namespace kor
