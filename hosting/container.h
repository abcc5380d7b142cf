// SPDX-License-Identifier: MIT
#pragma once
// What a control expects of the container that hosts it.
//
// The container creates a control, tells it of its life cycle (Initialize,
// InitProperties, Resize, Terminate), keeps its extent in twips, and offers
// services: the event loop, dialogs (message box, modal windows, opening a URL)
// and child controls such as the socket. A host without a GUI uses `Site` as it
// is; tests and other hosts override the virtual services (a scripted socket, a
// scripted message box).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hosting/dialogs.h"

namespace pellora::hosting {

class EventLoop;
class Site;
class Socket;

// Twips per pixel at 96 dpi, horizontally and vertically.
inline constexpr std::int32_t kTwipsPerPixel = 15;

// The notifications a control receives from its container. Every control is
// created through `Site::Create`, which calls Initialize and InitProperties.
class Control {
 public:
  virtual ~Control() = default;
  virtual void Initialize() {}
  virtual void InitProperties() {}
  virtual void Resize() {}
  virtual void Terminate() {}
};

struct Extent {
  std::int32_t width = 0;   // twips
  std::int32_t height = 0;  // twips
  friend bool operator==(const Extent&, const Extent&) = default;
};

// One control's place in its container. A control keeps a reference to its site
// for the whole of its life; the site outlives the control.
class Site {
 public:
  explicit Site(EventLoop& loop, Dialogs* dialogs = nullptr);
  virtual ~Site() = default;
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  EventLoop& Loop() const { return loop_; }
  Dialogs& GetDialogs() const;

  // Creates the socket child control (`WS`) of a control on this site: a TCP
  // socket on the site's loop. Hosts and tests override it to give the control
  // another socket, e.g. a scripted one.
  virtual std::unique_ptr<Socket> CreateSocket();

  // Creates a control of type T on this site: constructs it, then calls Initialize
  // and InitProperties, as a container does for a new instance. T is constructed
  // with (Site&, args...).
  template <class T, class... Args>
  std::shared_ptr<T> Create(Args&&... args) {
    auto control = std::make_shared<T>(*this, std::forward<Args>(args)...);
    Attach(control);
    control->Initialize();
    control->InitProperties();
    return control;
  }

  // Extent, in twips. Changing a dimension applies it at once and raises Resize on
  // the attached control; setting an unchanged value raises nothing, so a control
  // may set its own extent from inside Resize.
  Extent GetExtent() const { return extent_; }
  void SetHeight(std::int32_t twips);
  void SetWidth(std::int32_t twips);
  // Changes both dimensions as a container resizing the control does: one Resize
  // when anything changed.
  void SetExtent(Extent e);

  static constexpr std::int32_t PixelsToTwipsX(std::int32_t px) { return px * kTwipsPerPixel; }
  static constexpr std::int32_t PixelsToTwipsY(std::int32_t px) { return px * kTwipsPerPixel; }

  // Calls Terminate on the attached control once; called by the host before it
  // drops the control (and by the destructor of hosts that forget to).
  void TerminateControl();

 private:
  void Attach(std::shared_ptr<Control> control);
  void RaiseResize();

  EventLoop& loop_;
  Dialogs* dialogs_;
  Extent extent_;
  std::weak_ptr<Control> control_;
  bool terminated_ = false;
};

}  // namespace pellora::hosting
