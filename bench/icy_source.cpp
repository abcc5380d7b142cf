// SPDX-License-Identifier: MIT
// A fast local ICY server for the end-to-end benchmark. For each of CONNECTIONS
// connections it reads the request, sends "ICY 200 OK" with icy-metaint 16000
// and PERIODS periods of (16,000 audio bytes, a length byte, a title block) as
// fast as the client takes them, then closes. It prints the audio byte count of
// one stream and the port on its first line, so that a script can check what a
// client recorded. The audio bytes are taken, round and round, from AUDIO_FILE
// (e.g. an MP3 file, so that clients that look for frames find them) or made
// up; the title changes every 64 periods (about 1 MB).
//
//   icy_source PORT PERIODS CONNECTIONS [AUDIO_FILE]
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr std::size_t kMetaint = 16000;

constexpr int kPeriodsPerTitle = 64;

// Two titles of 64 periods each, sent again and again.
std::string MakeCycle(const std::string& audio) {
  std::string cycle;
  std::size_t at = 0;
  for (int i = 0; i < 2 * kPeriodsPerTitle; ++i) {
    for (std::size_t j = 0; j < kMetaint; ++j, ++at)
      cycle += audio.empty() ? static_cast<char>((i * 31 + j * 7) & 0xFF) : audio[at % audio.size()];
    std::string text = "StreamTitle='Benchmark song " + std::to_string(i / kPeriodsPerTitle) +
                       "';StreamUrl='';";
    const std::size_t units = (text.size() + 15) / 16;
    text.resize(units * 16, '\0');
    cycle += static_cast<char>(units);
    cycle += text;
  }
  return cycle;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void Serve(int client, std::size_t periods, const std::string& cycle) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  const std::string header = "ICY 200 OK\r\nicy-name:Pellora benchmark\r\ncontent-type:audio/mpeg\r\n"
                             "icy-br:128\r\nicy-metaint:" + std::to_string(kMetaint) + "\r\n\r\n";
  if (!SendAll(client, header.data(), header.size())) return;
  const std::size_t cycle_periods = 2 * kPeriodsPerTitle;
  const std::size_t period_bytes = cycle.size() / cycle_periods;
  for (std::size_t sent = 0; sent < periods;) {
    const std::size_t batch = std::min<std::size_t>(cycle_periods, periods - sent);
    if (!SendAll(client, cycle.data(), batch * period_bytes)) return;
    sent += batch;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: icy_source PORT PERIODS CONNECTIONS [AUDIO_FILE]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::size_t periods = std::strtoull(argv[2], nullptr, 10);
  const int connections = std::atoi(argv[3]);
  std::string audio;
  if (argc == 5) {
    std::ifstream in(argv[4], std::ios::binary);
    audio.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string cycle = MakeCycle(audio);

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 4) != 0) {
    std::perror("icy_source");
    return 1;
  }
  std::printf("audio_bytes=%zu port=%d\n", periods * kMetaint, port);
  std::fflush(stdout);
  for (int i = 0; i < connections; ++i) {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Serve(client, periods, cycle);
    ::shutdown(client, SHUT_WR);
    ::close(client);
  }
  ::close(listener);
  return 0;
}
