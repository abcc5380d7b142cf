// SPDX-License-Identifier: MIT
// The control's surface, life cycle and connection, against a scripted socket.
#include <gtest/gtest.h>

#include "capture/stream_url.h"
#include "capture/torvane.h"
#include "hosting/event_loop.h"
#include "tests/capture/event_log.h"
#include "tests/capture/loop_wait.h"
#include "tests/support/scripted_socket.h"

namespace pellora::capture {
namespace {

using testing_support::ScriptedSite;
using Events = std::vector<std::string>;

const std::string kAlreadyConnected =
    "Error:4:41:D\xE9j\xE0 connect\xE9 \xE0 une autre source. D\xE9"
    "connectez d'abord avant de tenter une nouvelle connexion.";

class TorvaneConnection : public ::testing::Test {
 protected:
  TorvaneConnection() : site(loop), control(site.Create<Torvane>()) { control->SetEvents(&log); }
  void ReceiveHeader(const std::string& fields) {
    site.socket->Accept();
    site.socket->Deliver("ICY 200 OK\r\n" + fields + "\r\n");
  }

  hosting::EventLoop loop;
  ScriptedSite site;
  std::shared_ptr<Torvane> control;
  EventLog log;
};

TEST_F(TorvaneConnection, NewControlIsEmpty) {
  EXPECT_FALSE(control->IsConnected());
  EXPECT_FALSE(control->IsWriting());
  EXPECT_EQ(control->ReceivedBytes(), 0);
  EXPECT_EQ(control->StreamBitRate(), 0);
  EXPECT_FALSE(control->WriteID3TagToFile());
  EXPECT_FALSE(control->AcceptHttpOk());
  for (const std::string& text : {control->StreamURL(), control->MusicName(), control->MusicURL(),
                                  control->StreamGenre(), control->StreamName(), control->ID3Comments()})
    EXPECT_EQ(text, "");
  EXPECT_EQ(control->About(), std::nullopt);
  EXPECT_TRUE(log.events.empty());
}

TEST_F(TorvaneConnection, TagTextsReadBack) {
  control->ID3Comments("c");
  control->ID3EncodedBy("e");
  control->ID3Copyright("\xA9 r");
  control->ID3Languages("fra");
  control->WriteID3TagToFile(true);
  EXPECT_EQ(control->ID3Comments(), "c");
  EXPECT_EQ(control->ID3EncodedBy(), "e");
  EXPECT_EQ(control->ID3Copyright(), "\xA9 r");
  EXPECT_EQ(control->ID3Languages(), "fra");
  EXPECT_TRUE(control->WriteID3TagToFile());
}

TEST_F(TorvaneConnection, ResizeKeepsTheFixedExtent) {
  site.SetExtent({5000, 100});
  EXPECT_EQ(site.GetExtent(), (hosting::Extent{720, 825}));
  site.SetWidth(30);
  EXPECT_EQ(site.GetExtent(), (hosting::Extent{720, 825}));
}

TEST_F(TorvaneConnection, ConnectSplitsAndRequestsOnConnect) {
  EXPECT_FALSE(control->Connect("http://radio.example:8000/live?x=1&y=2"));
  EXPECT_TRUE(control->IsConnected());
  EXPECT_EQ(log.events, Events{"StateChanged"});
  EXPECT_EQ(site.socket->host, "radio.example");
  EXPECT_EQ(site.socket->port, 8000);
  EXPECT_EQ(site.socket->sent, "");
  site.socket->Accept();
  EXPECT_EQ(site.socket->sent,
            "GET /live?x=1&y=2 HTTP/1.1\r\nHost: radio.example\r\nAccept: */*\r\n"
            "Referer: http://radio.example:8000/live?x=1&y=2\r\nUser-Agent: PLR\r\n"
            "Icy-MetaData:1\r\n\r\n");
  EXPECT_EQ(control->StreamURL(), "");  // the icy-url value, not the URL connected to
}

TEST_F(TorvaneConnection, EmptyUrlDoesNothingEvenWhileConnected) {
  control->Connect("");
  EXPECT_FALSE(control->IsConnected());
  control->Connect("h:1");
  log.events.clear();
  control->Connect("", true);
  EXPECT_TRUE(control->IsConnected());
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(site.socket->connects, 1);
}

TEST_F(TorvaneConnection, AlreadyConnectedLeavesTheConnectionAlone) {
  control->Connect("h:8000/a");
  ReceiveHeader("icy-name:One\r\n");
  log.events.clear();
  control->Connect("other:9000/b");
  EXPECT_EQ(log.events, Events{kAlreadyConnected});
  EXPECT_TRUE(control->IsConnected());
  EXPECT_EQ(control->StreamName(), "One");
  EXPECT_EQ(site.socket->connects, 1);
  EXPECT_EQ(site.socket->host, "h");
}

TEST_F(TorvaneConnection, DisconnectFirstStartsAfresh) {
  control->Connect("h:8000/a");
  ReceiveHeader("icy-name:One\r\n");
  ASSERT_GT(control->ReceivedBytes(), 0);
  log.events.clear();
  control->Connect("other:9000/b", true);
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged"}));
  EXPECT_EQ(control->ReceivedBytes(), 0);
  EXPECT_EQ(control->StreamName(), "");
  EXPECT_EQ(site.socket->host, "other");
  EXPECT_EQ(site.socket->closes, 1);
}

TEST_F(TorvaneConnection, IdleDisconnectRaisesNothing) {
  control->Disconnect();
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(site.socket->closes, 0);
}

TEST_F(TorvaneConnection, DisconnectClearsTheStream) {
  control->Connect("h:8000");
  ReceiveHeader("icy-name:N\r\nicy-genre:G\r\nicy-url:U\r\nicy-br:128\r\nicy-pub:1\r\nicy-metaint:4\r\n");
  site.socket->Deliver(std::string("abcd\x02StreamTitle='T';StreamUrl='u';\0\0", 38));
  ASSERT_EQ(control->MusicName(), "T");
  control->Disconnect();
  EXPECT_FALSE(control->IsConnected());
  EXPECT_EQ(control->StreamName() + control->StreamGenre() + control->StreamURL(), "");
  EXPECT_EQ(control->MusicName() + control->MusicURL(), "");
  EXPECT_EQ(control->StreamBitRate(), 0);
  EXPECT_FALSE(control->StreamPublic());
  EXPECT_EQ(control->ReceivedBytes(), 0);
  EXPECT_EQ(control->ReceivedMetaInfo(), 0);
  EXPECT_EQ(control->GetHeader("icy-name"), std::nullopt);
  EXPECT_EQ(control->GetMeta("StreamTitle"), std::nullopt);
}

TEST_F(TorvaneConnection, SocketErrorDisconnectsThenReports) {
  control->Connect("h:8000");
  log.events.clear();
  site.socket->Fail(111, "Connection refused");
  EXPECT_EQ(log.events, (Events{"StateChanged", "Error:1:111:Connection refused"}));
  EXPECT_FALSE(control->IsConnected());
}

TEST_F(TorvaneConnection, DisconnectFromInsideErrorHandler) {
  control->Connect("h:8000");
  log.react = [&](const std::string& e) {
    if (e.starts_with("Error")) control->Disconnect();
  };
  site.socket->Fail(104, "Connection reset by peer");
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged", "Error:1:104:Connection reset by peer"}));
  EXPECT_FALSE(control->IsConnected());
}

// Handlers that connect anew from inside the events of an ending connection: the
// new connection stands, and nothing of the old one's ending undoes it.
TEST_F(TorvaneConnection, ConnectFromInsideTheDisconnectionOfDisconnectFirst) {
  control->Connect("a:1");
  log.events.clear();
  log.react = [&](const std::string& e) {
    if (e == "StateChanged" && !control->IsConnected()) control->Connect("b:2");
  };
  control->Connect("c:3", true);
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged"}));
  EXPECT_TRUE(control->IsConnected());
  EXPECT_EQ(site.socket->host, "b");
  EXPECT_TRUE(site.socket->open);
}

TEST_F(TorvaneConnection, ReconnectFromTheErrorOfABadServerStands) {
  std::string endless = "ICY 200 OK\r\n";
  while (endless.size() <= kMaxHeaderBytes) endless += "x-filler:" + std::string(60, 'x') + "\r\n";
  for (const std::string& response : {std::string("HTTP/1.0 200 OK\r\n\r\n"), endless}) {
    control->Connect("a:1", true);
    site.socket->Accept();
    log.events.clear();
    log.react = [&](const std::string& e) {
      if (e.starts_with("Error:3:31")) control->Connect("b:2", true);
    };
    site.socket->DeliverInChunks(response, 32767);
    log.react = nullptr;
    EXPECT_EQ(log.events, (Events{"Error:3:31:Stream Bad Server Request", "StateChanged", "StateChanged"}));
    EXPECT_TRUE(control->IsConnected());
    EXPECT_EQ(site.socket->host, "b");
    EXPECT_TRUE(site.socket->open);
  }
}

TEST_F(TorvaneConnection, HttpsConnectsOverTlsWithTheControlsSettings) {
  control->CaFile("/etc/ca.pem");
  control->Insecure(true);
  control->Connect("https://radio.example/live");
  EXPECT_EQ(site.socket->port, 443);
  ASSERT_TRUE(site.socket->tls.has_value());
  EXPECT_EQ(site.socket->tls->ca_file, "/etc/ca.pem");
  EXPECT_TRUE(site.socket->tls->insecure);
  site.socket->Accept();
  EXPECT_TRUE(site.socket->sent.starts_with("GET /live HTTP/1.1\r\nHost: radio.example\r\n"));
  control->Connect("http://radio.example/live", true);
  EXPECT_FALSE(site.socket->tls.has_value());
}

TEST_F(TorvaneConnection, HeaderIncompleteAfterTheTimeLimitIsAFailure) {
  control->HeaderTimeout(std::chrono::milliseconds(20));
  control->Connect("h:8000");
  site.socket->Accept();
  site.socket->Deliver("ICY 200 OK\r\nicy-na");
  log.events.clear();
  ASSERT_TRUE(testing_support::RunUntil(loop, [&] { return log.events.size() >= 2; }));
  EXPECT_EQ(log.events, (Events{"StateChanged", "Error:1:110:No complete response header within 0.02 seconds"}));
  // A header complete in time ends the limit.
  control->Connect("h:8000");
  site.socket->Accept();
  site.socket->Deliver("ICY 200 OK\r\n\r\n");
  log.events.clear();
  loop.run_for(std::chrono::milliseconds(60));
  EXPECT_TRUE(log.events.empty());
  EXPECT_TRUE(control->IsConnected());
}

TEST_F(TorvaneConnection, HandlerMayDropTheLastReference) {
  control->Connect("h:8000");
  log.react = [&](const std::string& e) {
    if (e.starts_with("Error")) control.reset();
  };
  site.socket->Fail(110, "Connection timed out");
  EXPECT_EQ(control, nullptr);
  EXPECT_EQ(log.events.back(), "Error:1:110:Connection timed out");
}

TEST_F(TorvaneConnection, RefusedSocketConnectReachesTheCaller) {
  control.reset();
  control = site.Create<Torvane>();
  control->SetEvents(&log);
  site.socket->refuse_connect = std::make_error_code(std::errc::too_many_files_open);
  EXPECT_EQ(control->Connect("h:8000"), std::errc::too_many_files_open);
  EXPECT_FALSE(control->IsConnected());
  EXPECT_TRUE(log.events.empty());
}

TEST_F(TorvaneConnection, UnusableUrlNeverReachesTheOldHost) {
  control->Connect("good:8000/old");
  control->Disconnect();
  log.events.clear();
  const int connects = site.socket->connects;
  control->Connect("ftp://good:8000/old");
  EXPECT_EQ(site.socket->connects, connects);
  EXPECT_FALSE(control->IsConnected());
  ASSERT_EQ(log.events.size(), 3u);
  EXPECT_EQ(log.events[0], "StateChanged");
  EXPECT_EQ(log.events[1], "StateChanged");
  EXPECT_EQ(log.events[2], "Error:1:22:Invalid stream URL: the scheme \"ftp\" is not http or https");
}

TEST_F(TorvaneConnection, NoOperationRaisesBeforeStateChanged) {
  control->Connect("h:8000");
  ReceiveHeader("icy-metaint:2\r\n");
  site.socket->Deliver("ab\x01StreamTitle='x';");
  control->Disconnect();
  for (const auto& e : log.events) EXPECT_NE(e, "BeforeStateChanged");
}

struct SplitCase {
  const char* url;
  const char* host;
  int port;
  const char* path;
  const char* problem;  // nullptr when usable
  bool tls = false;
};

class UrlSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(UrlSplitting, SplitsOrRefuses) {
  const SplitCase& c = GetParam();
  const StreamUrl split = SplitStreamUrl(c.url);
  if (c.problem) {
    EXPECT_EQ(split.problem, std::string("Invalid stream URL: ") + c.problem);
    return;
  }
  EXPECT_TRUE(split.Usable()) << split.problem;
  EXPECT_EQ(split.host, c.host);
  EXPECT_EQ(split.port, c.port);
  EXPECT_EQ(split.path, c.path);
  EXPECT_EQ(split.tls, c.tls);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, UrlSplitting,
    ::testing::Values(
        SplitCase{"http://h:8000/live", "h", 8000, "/live", nullptr},
        SplitCase{"HTTP://h:8000", "h", 8000, "/", nullptr},
        SplitCase{"h:8010", "h", 8010, "/", nullptr},
        SplitCase{"http://h:8000/a?b=c/d", "h", 8000, "/a?b=c/d", nullptr},
        SplitCase{"http://radio.example/stream", "radio.example", 80, "/stream", nullptr},
        SplitCase{"http://[::1]:8000/x", "::1", 8000, "/x", nullptr},
        SplitCase{"[2001:db8::2]", "2001:db8::2", 80, "/", nullptr},
        SplitCase{"HTTPS://radio.example/x", "radio.example", 443, "/x", nullptr, true},
        SplitCase{"https://h:8443", "h", 8443, "/", nullptr, true},
        SplitCase{"ftp://h:8000/", "", 0, "", "the scheme \"ftp\" is not http or https"},
        SplitCase{"http://h:port/", "", 0, "", "the port \"port\" is not a number from 1 to 65535"},
        SplitCase{"http://h:70000/", "", 0, "", "the port \"70000\" is not a number from 1 to 65535"},
        SplitCase{"http://h:/", "", 0, "", "the port \"\" is not a number from 1 to 65535"},
        SplitCase{"http://:8000/", "", 0, "", "it names no host"},
        SplitCase{"http://u:p@h:8000/", "", 0, "", "user names are not supported"},
        SplitCase{"http://h:8000/a\r\nX: y", "", 0, "",
                  "it contains a blank or a control character"}));

// The examples of RFC 3986 section 5.4, normal and abnormal, and a station's.
TEST(UrlReference, ResolvesAsTheRfcSays) {
  const char* base = "http://a/b/c/d;p?q";
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"g:h", "g:h"},           {"g", "http://a/b/c/g"},      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"}, {"/g", "http://a/g"},         {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"}, {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"}, {";x", "http://a/b/c/;x"},   {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},    {"./", "http://a/b/c/"},      {"..", "http://a/b/"},
      {"../g", "http://a/b/g"},  {"../..", "http://a/"},       {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"}, {"/./g", "http://a/g"},    {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."}, {"..g", "http://a/b/c/..g"},  {"./../g", "http://a/b/g"},
      {"g/./h", "http://a/b/c/g/h"}, {"g/../h", "http://a/b/c/h"}, {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"}, {"g#s/../x", "http://a/b/c/g#s/../x"}};
  for (const auto& [reference, expected] : cases) EXPECT_EQ(ResolveUrlReference(base, reference), expected) << reference;
  EXPECT_EQ(ResolveUrlReference("http://h:8000", "icy?mi=1"), "http://h:8000/icy?mi=1");
  EXPECT_EQ(ResolveUrlReference("https://h:8000/a/list.m3u", "//[::1]:9/icy"), "https://[::1]:9/icy");
}

TEST(HostHeader, BracketsIpv6Literals) {
  EXPECT_EQ(HostForHeader("::1"), "[::1]");
  EXPECT_EQ(HostForHeader("radio.example"), "radio.example");
}

}  // namespace
}  // namespace pellora::capture
