// "http:" requests against the scripted server on loopback: the request's
// form, the response rules, range requests, failed connections, connection
// reuse and the batch.
#include "online/transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kestrine.h"
#include "tests/online/loopback_server.h"
#include "tests/online/transfer_helpers.h"

namespace kestrine {
namespace {

using test::Fetch;
using test::LoopbackServer;

class OnlineHttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new LoopbackServer("scripted_server.py", {}); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { server_->ClearRequests(); }

  static std::string Url(const std::string& path) { return server_->Url("http", path); }
  static std::vector<test::LoggedRequest> Logged() { return test::ParseLog(server_->Requests()); }

  static LoopbackServer* server_;
};

LoopbackServer* OnlineHttpTest::server_ = nullptr;

// Records what a sink is told.
class RecordingSink final : public BodySink {
 public:
  uint32_t Start(std::optional<uint64_t> length) override {
    ++starts;
    startLength = length;
    return 0;
  }
  uint32_t Append(std::span<const uint8_t> bytes) override {
    body.append(bytes.begin(), bytes.end());
    return appendError;
  }
  uint32_t DropTail(uint64_t count) override {
    body.resize(body.size() - std::min<size_t>(count, body.size()));
    return 0;
  }
  uint32_t Reset() override {
    body.clear();
    return 0;
  }

  int starts = 0;
  std::optional<uint64_t> startLength;
  std::string body;
  uint32_t appendError = 0;
};

std::string FileBytes(uint64_t offset, uint64_t length) {
  std::string bytes;
  for (uint64_t i = offset; i < offset + length; ++i) bytes += static_cast<char>(i % 251);
  return bytes;
}

TEST_F(OnlineHttpTest, SendsOnlyGetHostAndKeepAlive) {
  const test::Fetched echo = Fetch(Url("/echo"));
  ASSERT_EQ(echo.error, 0u);
  EXPECT_EQ(echo.body, "GET /echo HTTP/1.1\r\nHost: " + server_->HostPort() +
                           "\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST_F(OnlineHttpTest, BodyWithLengthReachesSinkWithItsLength) {
  RecordingSink sink;
  ASSERT_EQ(PerformRequest({Url("/ok/hello"), std::nullopt}, sink), 0u);
  EXPECT_EQ(sink.body, "hello");
  EXPECT_EQ(sink.starts, 1);
  EXPECT_EQ(sink.startLength, 5u);
}

TEST_F(OnlineHttpTest, StatusOtherThan200FailsWith2AndKeepsItsBodyOut) {
  for (const char* path : {"/status/404", "/status/500", "/status/204"}) {
    RecordingSink sink;
    EXPECT_EQ(PerformRequest({Url(path), std::nullopt}, sink), 2u) << path;
    EXPECT_EQ(sink.starts, 0) << path;
    EXPECT_EQ(sink.body, "") << path;
  }
}

TEST_F(OnlineHttpTest, MalformedOrIncompleteResponsesFailWith11) {
  for (const char* path : {"/empty", "/huge", "/short", "/reset-start", "/reset-mid",
                           "/close-plain/hello", "/close-crlf/", "/chunked-empty"}) {
    EXPECT_EQ(Fetch(Url(path)).error, 11u) << path;
  }
}

TEST_F(OnlineHttpTest, BodyReadToTheCloseLosesItsFinalCrLf) {
  RecordingSink sink;
  ASSERT_EQ(PerformRequest({Url("/close-crlf/hello"), std::nullopt}, sink), 0u);
  EXPECT_EQ(sink.body, "hello");
  EXPECT_EQ(sink.startLength, std::nullopt);
}

TEST_F(OnlineHttpTest, ChunkedBodiesAndRedirectsAreTakenAsTheyCome) {
  RecordingSink chunked;
  ASSERT_EQ(PerformRequest({Url("/chunked/two%20chunks"), std::nullopt}, chunked), 0u);
  EXPECT_EQ(chunked.body, "two%20chunks");
  EXPECT_EQ(chunked.starts, 1);
  const test::Fetched redirected = Fetch(Url("/redirect/redirect/ok/there"));
  EXPECT_EQ(redirected.error, 0u);
  EXPECT_EQ(redirected.body, "there");
  EXPECT_EQ(Fetch(Url("/redirect-loop")).error, 2u);
}

TEST_F(OnlineHttpTest, SinkErrorEndsTheRequest) {
  RecordingSink sink;
  sink.appendError = kErrorDiskFull;
  EXPECT_EQ(PerformRequest({Url("/ok/hello"), std::nullopt}, sink), kErrorDiskFull);
}

TEST_F(OnlineHttpTest, RangeRequestGetsThePiece) {
  RecordingSink sink;
  ASSERT_EQ(PerformRequest({Url("/file/5000"), ByteRange{1000, 300}}, sink), 0u);
  EXPECT_EQ(sink.body, FileBytes(1000, 300));
  EXPECT_EQ(sink.startLength, 300u);
  EXPECT_NE(server_->Requests().at(0).find("/file/5000"), std::string::npos);
}

TEST_F(OnlineHttpTest, RangeIgnoredByTheServerStillGivesOnlyThePiece) {
  const test::Fetched piece = Fetch(Url("/ignore-range/5000"), ByteRange{4000, 1000});
  EXPECT_EQ(piece.error, 0u);
  EXPECT_EQ(piece.body, FileBytes(4000, 1000));
  // The first bytes alone, without waiting for the rest of the file.
  EXPECT_EQ(Fetch(Url("/ignore-range/100000"), ByteRange{0, 10}).body, FileBytes(0, 10));
  EXPECT_EQ(Fetch(Url("/ignore-range/5000"), ByteRange{4990, 20}).error, 11u);
}

TEST_F(OnlineHttpTest, RangeAnsweredFromTheWrongOffsetFailsWith11) {
  EXPECT_EQ(Fetch(Url("/bad-range/5000"), ByteRange{100, 10}).error, 11u);
}

TEST_F(OnlineHttpTest, RefusedConnectionFailsWith5035) {
  const std::string url = "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/x";
  EXPECT_EQ(Fetch(url).error, kErrorNetworkUnreachable);
}

TEST_F(OnlineHttpTest, UnknownHostFailsWith11001) {
  EXPECT_EQ(Fetch("http://no-such-host.invalid/x").error, kErrorHostNotFound);
}

TEST_F(OnlineHttpTest, UrlWithoutHostFailsWith87) {
  EXPECT_EQ(Fetch("http:///x").error, kErrorInvalidParameter);
  EXPECT_EQ(Fetch("ftp://host/x").error, kErrorInvalidParameter);
  EXPECT_EQ(Fetch("http://127.0.0.1:port/x").error, kErrorInvalidParameter);
}

TEST_F(OnlineHttpTest, SilentOrStalledServerEndsWith5035WithinTheStallTime) {
  test::ScopedTimeouts timeouts({5000, 1000});
  for (const char* path : {"/silent", "/stall-mid"}) {
    uint32_t error = 0;
    const int64_t ms = test::MillisecondsOf([&] { error = Fetch(Url(path)).error; });
    EXPECT_EQ(error, kErrorNetworkUnreachable) << path;
    EXPECT_GE(ms, 900) << path;
    EXPECT_LT(ms, 5000) << path;
  }
}

TEST_F(OnlineHttpTest, ConnectionIsReusedWhileAStorageIsOpen) {
  OnlineStorageOpened();
  ASSERT_EQ(Fetch(Url("/ok/a")).error, 0u);
  ASSERT_EQ(Fetch(Url("/ok/b")).error, 0u);
  ASSERT_EQ(Fetch(Url("/file/100"), ByteRange{5, 5}).error, 0u);
  OnlineStorageClosed();
  ASSERT_EQ(Fetch(Url("/ok/c")).error, 0u);
  const auto logged = Logged();
  ASSERT_EQ(logged.size(), 4u);
  EXPECT_EQ(logged[0].clientPort, logged[1].clientPort);
  EXPECT_EQ(logged[0].clientPort, logged[2].clientPort);
  EXPECT_NE(logged[0].clientPort, logged[3].clientPort);
}

TEST_F(OnlineHttpTest, BatchSharesTheConnectionsOfOpenStorages) {
  OnlineStorageOpened();
  ASSERT_EQ(Fetch(Url("/ok/a")).error, 0u);
  {
    TransferBatch batch(1);
    MemorySink sinks[2];
    for (MemorySink& sink : sinks) {
      batch.Add({Url("/ok/b"), std::nullopt}, sink, [](uint32_t error) { EXPECT_EQ(error, 0u); });
    }
    batch.Run();
  }
  ASSERT_EQ(Fetch(Url("/ok/c")).error, 0u);
  OnlineStorageClosed();
  const auto logged = Logged();
  ASSERT_EQ(logged.size(), 4u);
  for (const auto& request : logged) EXPECT_EQ(request.clientPort, logged[0].clientPort);
}

// ---- Batches ----

struct BatchEntry {
  MemorySink sink;
  std::optional<uint32_t> error;
};

TEST_F(OnlineHttpTest, BatchRunsAtMostItsBoundAtOnceInOrder) {
  constexpr size_t kRequests = 8;
  std::vector<std::unique_ptr<BatchEntry>> entries;
  std::vector<size_t> doneOrder;
  TransferBatch batch(3);
  for (size_t i = 0; i < kRequests; ++i) {
    entries.push_back(std::make_unique<BatchEntry>());
    BatchEntry& entry = *entries.back();
    batch.Add({Url("/slow/150/" + std::to_string(i)), std::nullopt}, entry.sink,
              [&entry, &doneOrder, i](uint32_t error) {
                entry.error = error;
                doneOrder.push_back(i);
              });
  }
  batch.Run();
  for (size_t i = 0; i < kRequests; ++i) {
    EXPECT_EQ(entries[i]->error, 0u);
    EXPECT_EQ(std::string(entries[i]->sink.bytes().begin(), entries[i]->sink.bytes().end()),
              std::to_string(i));
  }
  EXPECT_EQ(doneOrder.size(), kRequests);
  const auto logged = Logged();
  ASSERT_EQ(logged.size(), kRequests);
  int most = 0;
  for (const auto& request : logged) most = std::max(most, request.active);
  EXPECT_EQ(most, 3);
  // Started in the order added: three waves of 3, 3 and 2 requests.
  std::vector<std::string> arrived;
  for (const auto& request : logged) arrived.push_back(request.path.substr(10));
  std::sort(arrived.begin(), arrived.begin() + 3);
  std::sort(arrived.begin() + 3, arrived.begin() + 6);
  std::sort(arrived.begin() + 6, arrived.end());
  EXPECT_EQ(arrived, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7"}));
}

TEST_F(OnlineHttpTest, BatchDoneMayAddAndStop) {
  TransferBatch batch(2);
  MemorySink first, added, never;
  std::vector<std::string> ended;
  batch.Add({Url("/ok/first"), std::nullopt}, first, [&](uint32_t error) {
    ended.push_back("first " + std::to_string(error));
    batch.Add({Url("/ok/added"), std::nullopt}, added, [&](uint32_t error) {
      ended.push_back("added " + std::to_string(error));
      batch.Stop();
    });
  });
  batch.Add({Url("/status/404"), std::nullopt}, never,
            [&](uint32_t error) { ended.push_back("404 " + std::to_string(error)); });
  batch.Add({Url("/silent"), std::nullopt}, never, [&](uint32_t) { ended.push_back("silent"); });
  const int64_t ms = test::MillisecondsOf([&] { batch.Run(); });
  EXPECT_LT(ms, 5000);
  EXPECT_NE(std::find(ended.begin(), ended.end(), "first 0"), ended.end());
  EXPECT_NE(std::find(ended.begin(), ended.end(), "added 0"), ended.end());
  EXPECT_NE(std::find(ended.begin(), ended.end(), "404 2"), ended.end());
  EXPECT_EQ(std::find(ended.begin(), ended.end(), "silent"), ended.end());
  EXPECT_EQ(ended.back(), "added 0");
}

TEST_F(OnlineHttpTest, BatchReportsEachRequestsOwnError) {
  TransferBatch batch(4);
  MemorySink sinks[4];
  std::vector<uint32_t> errors(4, 99);
  const std::string refused = "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/x";
  const std::string urls[4] = {Url("/ok/a"), Url("/empty"), refused, "ribbit://127.0.0.1:1/x"};
  for (size_t i = 0; i < 4; ++i) {
    batch.Add({urls[i], std::nullopt}, sinks[i],
              [&errors, i](uint32_t error) { errors[i] = error; });
  }
  batch.Run();
  EXPECT_EQ(errors,
            (std::vector<uint32_t>{0, 11, kErrorNetworkUnreachable, kErrorNetworkUnreachable}));
}

}  // namespace
}  // namespace kestrine
