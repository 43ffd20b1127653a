// The "http:" and "ribbit:" stream providers: one request on first use, the
// body served from memory.
#include <gtest/gtest.h>

#include <string>

#include "encoded/stream.h"
#include "kestrine.h"
#include "tests/online/loopback_server.h"
#include "tests/online/transfer_helpers.h"

namespace kestrine {
namespace {

class OnlineStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new test::LoopbackServer("scripted_server.py", {}); }
  static void TearDownTestSuite() { delete server_; }
  void SetUp() override { server_->ClearRequests(); }

  static test::LoopbackServer* server_;
};

test::LoopbackServer* OnlineStreamTest::server_ = nullptr;

TEST_F(OnlineStreamTest, SizeAndReadsComeFromOneRequest) {
  StreamPtr stream(OpenStream(server_->Url("http", "/ok/hello-world"), 0));
  ASSERT_NE(stream, nullptr) << GetCascError();
  EXPECT_TRUE(server_->Requests().empty());  // nothing is sent by the open
  uint64_t size = 0;
  ASSERT_TRUE(GetStreamSize(stream.get(), &size));
  EXPECT_EQ(size, 11u);
  char word[5];
  ASSERT_TRUE(ReadStream(stream.get(), 6, word, 5));
  EXPECT_EQ(std::string(word, 5), "world");
  ASSERT_TRUE(ReadStream(stream.get(), 0, word, 5));
  EXPECT_EQ(std::string(word, 5), "hello");
  EXPECT_EQ(server_->Requests().size(), 1u);
}

TEST_F(OnlineStreamTest, ReadPastTheEndCopiesWhatThereIsAndFailsWith38) {
  StreamPtr stream(OpenStream("http://" + server_->HostPort() + "/ok/abcdef", 0));
  ASSERT_NE(stream, nullptr);
  char bytes[8] = {};
  EXPECT_FALSE(ReadStream(stream.get(), 4, bytes, 8));
  EXPECT_EQ(GetCascError(), kErrorHandleEof);
  EXPECT_EQ(std::string(bytes, 2), "ef");
  uint64_t position = 0;
  ASSERT_TRUE(GetStreamPosition(stream.get(), &position));
  EXPECT_EQ(position, 6u);
}

TEST_F(OnlineStreamTest, StreamIsReadOnly) {
  StreamPtr stream(OpenStream(server_->Url("http", "/ok/abc"), 0));
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(WriteStream(stream.get(), 0, "x", 1));
  EXPECT_FALSE(ResizeStream(stream.get(), 1));
}

TEST_F(OnlineStreamTest, RequestFailureIsTheReadsAndTheSizesError) {
  StreamPtr stream(OpenStream(server_->Url("http", "/status/404"), 0));
  ASSERT_NE(stream, nullptr);
  uint64_t size = 0;
  EXPECT_FALSE(GetStreamSize(stream.get(), &size));
  EXPECT_EQ(GetCascError(), kErrorFileNotFound);
  char byte;
  EXPECT_FALSE(ReadStream(stream.get(), 0, &byte, 1));
  EXPECT_EQ(GetCascError(), kErrorFileNotFound);
  EXPECT_EQ(server_->Requests().size(), 1u);  // the failure is not retried
}

TEST_F(OnlineStreamTest, NameWithoutHostFailsWith87) {
  EXPECT_EQ(OpenStream("http:///path", 0), nullptr);
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  EXPECT_EQ(OpenStream("ribbit://host:port/path", 0), nullptr);
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
}

TEST_F(OnlineStreamTest, RibbitStreamFailsLikeItsRequest) {
  StreamPtr stream(OpenStream(server_->Url("ribbit", "/reset"), 0));
  ASSERT_NE(stream, nullptr);
  uint64_t size = 0;
  EXPECT_FALSE(GetStreamSize(stream.get(), &size));
  EXPECT_EQ(GetCascError(), kErrorBadFormat);
}

}  // namespace
}  // namespace kestrine
