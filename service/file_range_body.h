// SPDX-License-Identifier: MIT
#pragma once
// A Beast body that sends a byte range of an open file (the whole file being one
// such range), read as it is written: a player that seeks asks for the part it
// needs (Range requests), and no reply holds more than one small buffer.
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/file.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace pellora::service {

struct FileRangeBody {
  struct value_type {
    boost::beast::file file;
    std::uint64_t first = 0;  // offset of the range's first byte
    std::uint64_t size = 0;   // bytes in the range
  };

  static std::uint64_t size(const value_type& body) { return body.size; }

  class writer {
   public:
    using const_buffers_type = boost::asio::const_buffer;

    template <bool isRequest, class Fields>
    writer(const boost::beast::http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

    void init(boost::beast::error_code& ec) {
      body_.file.seek(body_.first, ec);
      remain_ = body_.size;
    }

    boost::optional<std::pair<const_buffers_type, bool>> get(boost::beast::error_code& ec) {
      const auto amount = static_cast<std::size_t>(std::min<std::uint64_t>(remain_, sizeof buffer_));
      if (amount == 0) {
        ec = {};
        return boost::none;
      }
      const std::size_t got = body_.file.read(buffer_, amount, ec);
      if (ec) return boost::none;
      if (got == 0) {  // the file became shorter than it was
        ec = boost::beast::http::error::short_read;
        return boost::none;
      }
      remain_ -= got;
      return {{const_buffers_type(buffer_, got), remain_ > 0}};
    }

   private:
    value_type& body_;
    std::uint64_t remain_ = 0;
    char buffer_[16384];
  };
};

// The one range of a "Range: bytes=…" field for a file of `length` bytes:
// "A-B", "A-" or "-N" (the last N bytes), B cut to the file's end. Nothing when
// the field asks for something else (other units, several ranges, bad syntax):
// then the whole file is the answer. A range wholly past the end is
// unsatisfiable: `satisfiable` is false.
struct ByteRange {
  std::uint64_t first = 0, last = 0;
  bool satisfiable = true;
};
std::optional<ByteRange> ParseByteRange(std::string_view field, std::uint64_t length);

}  // namespace pellora::service
