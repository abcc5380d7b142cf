// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as a server's answer cut into arbitrary chunks, to the
// response header parser, the body-framing decoder and the ICY demultiplexer, in
// the order the stream control uses them. The first byte chooses the cutting.
// Every view handed out must lie inside the chunk it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "capture/body_framing.h"
#include "capture/header_values.h"
#include "capture/response_parser.h"
#include "capture/stream_parser.h"

namespace {

using namespace pellora::capture;

void Within(std::span<const char> piece, std::span<const char> chunk) {
  if (piece.data() < chunk.data() || piece.data() + piece.size() > chunk.data() + chunk.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t cut = 1 + data[0] % 64;
  const std::span<const char> all(reinterpret_cast<const char*>(data) + 1, size - 1);
  ResponseParser response;
  BodyFraming framing;
  StreamParser demux;
  bool in_body = false;
  for (std::size_t at = 0; at < all.size(); at += cut) {
    std::span<const char> chunk = all.subspan(at, std::min(cut, all.size() - at));
    if (!in_body) {
      std::size_t used = 0;
      const auto result = response.Parse(chunk, used);
      if (result == ResponseParser::Result::Bad) return 0;
      if (result == ResponseParser::Result::NeedMore) continue;
      in_body = true;
      const auto coding = response.Field("Transfer-Encoding");
      if (coding && EqualsNoCase(*coding, "chunked"))
        framing.StartChunked();
      else if (const auto length = response.Field("Content-Length"))
        framing.StartLength(static_cast<std::uint64_t>(HeaderNumber(*length, 0, INT64_MAX).value_or(0)));
      else
        framing.StartUntilClose();
      const auto metaint = response.Field("icy-metaint");
      demux.Start(metaint ? HeaderNumber(*metaint, 0, 1 << 20).value_or(0) : 0);
      chunk = chunk.subspan(used);
    }
    const auto status = framing.Feed(chunk, [&](std::span<const char> body) {
      Within(body, chunk);
      demux.Feed(
          body, [&](std::span<const char> audio) { Within(audio, body); },
          [](std::string_view block) { return block.size() <= 255 * 16; });
      return true;
    });
    if (status != BodyFraming::Status::Going) return 0;
  }
  return 0;
}
