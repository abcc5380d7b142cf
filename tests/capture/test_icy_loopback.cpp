// SPDX-License-Identifier: MIT
// A Torvane on a real socket against a loopback ICY server.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "capture/torvane.h"
#include "hosting/event_loop.h"
#include "tests/capture/event_log.h"
#include "tests/capture/loop_wait.h"
#include "tests/support/child_process.h"
#include "tests/support/icy_server.h"

namespace pellora::capture {
namespace {

using testing_support::IcyReply;
using testing_support::IcyServer;
using testing_support::RunUntil;
using Events = std::vector<std::string>;
using namespace std::chrono_literals;

class IcyLoopback : public ::testing::Test {
 protected:
  IcyLoopback() : site(loop), control(site.Create<Torvane>()) { control->SetEvents(&log); }
  ~IcyLoopback() override { control->Disconnect(); }

  bool WaitForEvents(std::size_t count) {
    return RunUntil(loop, [&] { return log.events.size() >= count; });
  }

  hosting::EventLoop loop;
  hosting::Site site;
  std::shared_ptr<Torvane> control;
  EventLog log;
};

TEST_F(IcyLoopback, RequestArrivesByteForByte) {
  for (const std::string path : {"/live", "/stream.mp3?type=http&nocache=42"}) {
    IcyServer server({{"ICY 200 OK\r\n\r\n"}});
    const std::string url = server.Url(path);
    control->Connect(url, true);
    ASSERT_TRUE(RunUntil(loop, [&] { return !server.Requests().empty(); }));
    EXPECT_EQ(server.Requests().front(),
              "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\nReferer: " + url +
                  "\r\nUser-Agent: PLR\r\nIcy-MetaData:1\r\n\r\n");
    control->Disconnect();
  }
}

TEST_F(IcyLoopback, RefusedConnectionOnAClosedPort) {
  // Nobody listens there now.
  control->Connect("http://127.0.0.1:" + std::to_string(testing_support::UnusedLoopbackPort()) + "/");
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged", "Error:1:111:Connection refused"}));
  EXPECT_FALSE(control->IsConnected());
}

std::size_t ThreadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

TEST_F(IcyLoopback, NumericHostsStartNoThread) {
  IcyServer server({{"ICY 200 OK\r\n\r\n"}});
  const std::size_t before = ThreadCount();
  control->Connect(server.Url());
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(log.events[1], "GotHeader:ICY 200 OK\r\n\r\n");
  EXPECT_EQ(ThreadCount(), before);
}

TEST_F(IcyLoopback, UnknownHostIsReportedAsNotFound) {
  control->Connect("http://no-such-host.invalid:8000/");
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(log.events[2], "Error:1:11001:Host not found");
}

TEST_F(IcyLoopback, EveryHeaderFieldIsStored) {
  const std::string header =
      "ICY 200 OK\r\nicy-notice1:<BR>This stream requires Winamp<BR>\r\n"
      "icy-notice2:SHOUTcast Distributed Network Audio Server/Linux v1.9.8<BR>\r\n"
      "icy-name:Radio \xC9t\xE9\r\nicy-genre:Jazz\r\nicy-url:http://radio.example\r\n"
      "content-type:audio/mpeg\r\nicy-pub:1\r\nicy-metaint:8\r\nicy-br:128\r\n\r\n";
  IcyServer server({{header + "12345678" + std::string("\x01StreamTitle='A';", 17) + "abc"}});
  control->Connect(server.Url());
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(log.events, (Events{"StateChanged", "GotHeader:" + header, "MetaChanged:StreamTitle='A';"}));
  EXPECT_EQ(control->StreamName(), "Radio \xC9t\xE9");
  EXPECT_EQ(control->StreamGenre(), "Jazz");
  EXPECT_EQ(control->StreamURL(), "http://radio.example");
  EXPECT_EQ(control->StreamBitRate(), 128);
  EXPECT_TRUE(control->StreamPublic());
  EXPECT_EQ(control->MusicName(), "A");
  EXPECT_EQ(control->GetNotices(),
            "<BR>This stream requires Winamp<BR>\r\nSHOUTcast Distributed Network Audio Server/Linux "
            "v1.9.8<BR>");
  ASSERT_TRUE(RunUntil(loop, [&] { return control->ReceivedBytes() == 
                                          static_cast<int>(header.size() + 28); }));
  EXPECT_EQ(control->ReceivedMetaInfo(), 17);
}

struct StatusCase {
  const char* name;
  const char* response;
  bool accept_http_ok;
  std::vector<std::string> events;  // after the StateChanged of Connect
  bool close_after = false;          // the server closes once it has sent the response
  bool reset_after = false;          // ... or resets the connection
};

class ResponseStatus : public IcyLoopback, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ResponseStatus, GivesItsEvents) {
  const StatusCase& c = GetParam();
  control->AcceptHttpOk(c.accept_http_ok);
  IcyServer server({{c.response}, 0ms, c.close_after, c.reset_after});
  control->Connect(server.Url());
  ASSERT_TRUE(WaitForEvents(1 + c.events.size()));
  loop.run_for(20ms);  // nothing more may follow
  Events expected{"StateChanged"};
  expected.insert(expected.end(), c.events.begin(), c.events.end());
  EXPECT_EQ(log.events, expected);
}

const std::string kGood = "GotHeader:";
INSTANTIATE_TEST_SUITE_P(
    Loopback, ResponseStatus,
    ::testing::Values(
        StatusCase{"Icy400", "ICY 400 Server Full\r\n\r\n", false,
                   {"StateChanged", "Error:3:33:Stream Limit Reached..."}},
        StatusCase{"Icy401", "ICY 401 Service Unavailable\r\n\r\n", false,
                   {"StateChanged", "Error:3:34:Stream Unavaible..."}},
        StatusCase{"Icy403", "ICY 403 Forbidden\r\n\r\n", false,
                   {"StateChanged", "Error:3:35:Stream Forbidden..."}},
        StatusCase{"Icy404", "ICY 404 Not Found\r\n\r\n", false,
                   {"StateChanged", "Error:3:36:Stream not Found..."}},
        StatusCase{"Icy500", "ICY 500 Internal\r\nicy-name:x\r\n\r\n", false,
                   {"GotHeader:ICY 500 Internal\r\nicy-name:x\r\n\r\n"}},
        StatusCase{"Http301WithoutLocation", "HTTP/1.1 301 Moved\r\nicy-br:64\r\n\r\n", false,
                   {"GotHeader:HTTP/1.1 301 Moved\r\nicy-br:64\r\n\r\n"}},
        StatusCase{"Http302WithLocation",
                   "HTTP/1.1 302 Found\r\nLocation: http://elsewhere:8000/live\r\n\r\n", false,
                   {"StateChanged", "Error:3:32:http://elsewhere:8000/live"}},
        StatusCase{"Http200Refused", "HTTP/1.0 200 OK\r\nicy-name:x\r\n\r\n", false,
                   {"Error:3:31:Stream Bad Server Request", "StateChanged"}},
        StatusCase{"Http200Accepted", "HTTP/1.0 200 OK\r\nicy-name:x\r\n\r\n", true,
                   {"GotHeader:HTTP/1.0 200 OK\r\nicy-name:x\r\n\r\n"}},
        StatusCase{"Http11200Accepted", "HTTP/1.1 200 OK\r\n\r\n", true,
                   {"GotHeader:HTTP/1.1 200 OK\r\n\r\n"}},
        StatusCase{"Http404StaysRefused", "HTTP/1.1 404 Not Found\r\n\r\n", true,
                   {"Error:3:31:Stream Bad Server Request", "StateChanged"}},
        StatusCase{"NotHttpAtAll", "SSH-2.0-OpenSSH_9.2\r\n", false,
                   {"Error:3:31:Stream Bad Server Request", "StateChanged"}},
        StatusCase{"LocationInAnyCase", "HTTP/1.1 302 Found\r\nlocation: http://x/\r\n\r\n", false,
                   {"StateChanged", "Error:3:32:http://x/"}},
        // The end of the stream: the connection ends as Disconnect ends it.
        StatusCase{"ClosedAfterTheBody", "ICY 200 OK\r\n\r\nabc", false,
                   {"GotHeader:ICY 200 OK\r\n\r\n", "StateChanged"}, true},
        StatusCase{"ResetAfterTheBody", "ICY 200 OK\r\n\r\nabc", false,
                   {"GotHeader:ICY 200 OK\r\n\r\n", "StateChanged", "Error:1:104:Connection reset by peer"},
                   false, true},
        StatusCase{"ContentLengthZero", "ICY 200 OK\r\nContent-Length: 0\r\n\r\n", false,
                   {"GotHeader:ICY 200 OK\r\nContent-Length: 0\r\n\r\n", "StateChanged"}},
        StatusCase{"ClosedInsideTheHeader", "ICY 200 OK\r\nicy-name:x\r\n", false,
                   {"StateChanged",
                    "Error:1:10101:The server closed the connection before the response header was complete"},
                   true},
        StatusCase{"ClosedInsideALengthBody", "ICY 200 OK\r\nContent-Length: 9\r\n\r\nabc", false,
                   {"GotHeader:ICY 200 OK\r\nContent-Length: 9\r\n\r\n", "StateChanged",
                    "Error:1:10101:The server closed the connection before the end of the body"},
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IcyLoopback, HeaderSplitOverWrites) {
  IcyServer server({{"IC", "Y 200 OK\r\nicy-name:Sp", "lit\r\nicy-metaint:4\r\n\r", "\nabcd\x00", "efgh"},
                    30ms});
  control->Connect(server.Url());
  ASSERT_TRUE(RunUntil(loop, [&] { return control->ReceivedBytes() == 49; }));
  EXPECT_EQ(log.events,
            (Events{"StateChanged", "GotHeader:ICY 200 OK\r\nicy-name:Split\r\nicy-metaint:4\r\n\r\n"}));
  EXPECT_EQ(control->StreamName(), "Split");
  EXPECT_EQ(TorvaneProbe::AudioCount(*control), 4);
}

TEST_F(IcyLoopback, EndlessHeaderIsABadServer) {
  std::string endless = "ICY 200 OK\r\n";
  while (endless.size() < 200'000) endless += "icy-notice:" + std::string(60, 'x') + "\r\n";
  IcyServer server({{endless}});
  control->Connect(server.Url());
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(log.events,
            (Events{"StateChanged", "Error:3:31:Stream Bad Server Request", "StateChanged"}));
  EXPECT_LE(control->ReceivedBytes(), 0);
}

}  // namespace
}  // namespace pellora::capture
