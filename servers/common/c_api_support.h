// SPDX-License-Identifier: MIT
#pragma once
// Helpers for the C APIs of both component servers: no exception ever crosses
// the boundary, strings go out through caller buffers, and a handle destroyed
// from inside one of its own callbacks lives until the running operation ends.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>

#include <boost/asio/post.hpp>

#include "servers/common/server_module.h"

namespace pellora::servers {

// The result codes both C APIs share (PELLORA_* and DOWNLOADERS_*).
enum CResult : int {
  kOk = 0,
  kInvalidArgument = -1,
  kBufferTooSmall = -2,
  kFailed = -3,
  kOutOfMemory = -4,
};

// Runs `body` (returning a CResult) and turns any exception into a code.
template <class Body>
int Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return kFailed;
  }
}

// Copies `text` and a terminating NUL into `buffer` of `size` bytes and stores
// its length (without the NUL) in `*length` when `length` is given. A null
// buffer of size 0 only asks for the length. A buffer too small receives as much
// as fits without cutting a UTF-8 character, NUL-terminated, and the result is
// kBufferTooSmall.
int CopyOut(std::string_view text, char* buffer, std::size_t size, std::size_t* length);

// Stores `value` in `*out`; kInvalidArgument when `out` is null.
template <class T, class U>
int StoreOut(T* out, U value) {
  if (!out) return kInvalidArgument;
  *out = static_cast<T>(value);
  return kOk;
}

// The loop of this library, as the C APIs expose it.
std::int64_t RunLoop();
std::int64_t RunLoopFor(std::int32_t milliseconds);
std::int64_t PollLoop();
void StopLoop();

// A C handle: the object behind it is counted as alive from creation to
// destruction, and marks when it is inside a callback to the host, during which
// destruction is postponed to the loop.
class CountedHandle {
 public:
  CountedHandle() { ObjectCount::Add(); }
  ~CountedHandle() { ObjectCount::Remove(); }
  CountedHandle(const CountedHandle&) = delete;
  CountedHandle& operator=(const CountedHandle&) = delete;

  // True once the host has destroyed the handle: no more callbacks go out.
  bool Released() const { return released_; }

  // Brackets a call into the handle's control or a callback to the host: the
  // host may destroy the handle from any callback made meanwhile (an event, a
  // message box, the About window).
  class CallbackScope {
   public:
    explicit CallbackScope(const CountedHandle& h) : h_(h) { ++h_.depth_; }
    ~CallbackScope() { --h_.depth_; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

   private:
    const CountedHandle& h_;
  };

  // Makes a callback to the host when it is set and the host still holds the
  // handle, marking the handle busy meanwhile.
  template <class Callback, class Invoke>
  void Notify(Callback callback, Invoke invoke) const {
    if (!callback || released_) return;
    const CallbackScope busy(*this);
    invoke();
  }

  // Ends the handle owned by `owner`: at once, or, when called from inside one
  // of its callbacks, once the loop is back in control (the control may still
  // be running the operation that raised the callback). `Finish` runs first,
  // once, in both cases.
  template <class Handle, class Finish>
  static void Destroy(std::unique_ptr<Handle> owner, Finish finish) {
    owner->released_ = true;
    finish(*owner);
    if (owner->depth_ == 0) return;  // destroyed here
    std::shared_ptr<Handle> pending(std::move(owner));
    boost::asio::post(LibraryLoop().context(), [pending] {});
  }

 private:
  mutable int depth_ = 0;
  bool released_ = false;
};

// Runs `body` on a valid handle (one that holds its control), turning
// exceptions into codes. A handle that a callback made meanwhile destroys lives
// until the call has returned.
template <class Handle, class Body>
int WithHandle(Handle* handle, Body body) {
  if (!handle || !handle->control) return kInvalidArgument;
  const CountedHandle::CallbackScope busy(*handle);
  return Guarded([&] { return body(*handle); });
}

}  // namespace pellora::servers
