// The response progress over bytes arriving in pieces, and the header facts
// of HTTP responses.
#include "online/response_progress.h"

#include <gtest/gtest.h>

#include <string>

#include "kestrine.h"
#include "online/transfer.h"

namespace kestrine {
namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Feeds `response` in pieces of `step` bytes, as receives would.
ResponseProgress Receive(const std::string& response, size_t step) {
  ResponseProgress progress;
  for (size_t end = step; end < response.size() + step; end += step) {
    progress.Update(Bytes(response).first(std::min(end, response.size())));
  }
  return progress;
}

std::string ContentOf(const std::string& response, uint32_t expected = 0) {
  ResponseProgress progress = Receive(response, 3);
  std::span<const uint8_t> content;
  EXPECT_EQ(FinishedContent(progress, Bytes(response), content), expected) << response;
  return {content.begin(), content.end()};
}

TEST(OnlineResponseProgress, HeaderEndSplitAcrossReceivesIsFound) {
  const std::string response = "HTTP/1.1 404 Not Found\r\nContent-Length: 5\r\n\r\nhello";
  for (size_t step = 1; step <= 6; ++step) {
    ResponseProgress progress = Receive(response, step);
    ASSERT_EQ(progress.headerEnd(), response.find("\r\n\r\n")) << step;
    EXPECT_EQ(progress.protocol(), ResponseProgress::Protocol::kHttp);
    EXPECT_EQ(progress.status(), 404u);
    EXPECT_EQ(progress.contentLength(), 5u);
    EXPECT_TRUE(progress.complete());
  }
}

TEST(OnlineResponseProgress, CompleteOnlyOnceTheLengthIsIn) {
  const std::string response = "MIME-Version: 1.0\r\ncontent-length: 4\r\n\r\nbody";
  ResponseProgress progress;
  progress.Update(Bytes(response).first(response.size() - 1));
  EXPECT_FALSE(progress.complete());
  progress.Update(Bytes(response));
  EXPECT_TRUE(progress.complete());
  EXPECT_EQ(progress.protocol(), ResponseProgress::Protocol::kOther);
}

TEST(OnlineResponseProgress, ContentRules) {
  EXPECT_EQ(ContentOf("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"), "abc");
  EXPECT_EQ(ContentOf("X: y\r\n\r\nbody\r\n"), "body");
  ContentOf("X: y\r\n\r\nbody", kErrorBadFormat);
  ContentOf("X: y\r\n\r\n\r\n", kErrorBadFormat);
  ContentOf("X: y\r\nContent-Length: 0\r\n\r\n", kErrorBadFormat);
  ContentOf("X: y\r\nContent-Length: 10\r\n\r\nshort", kErrorBadFormat);
  ContentOf("X: y\r\nbody without a header end\r\n", kErrorBadFormat);
}

TEST(OnlineResponseProgress, PromisedSizeAboveTheLimitIsTooLarge) {
  ResponseProgress progress;
  progress.Update(Bytes("X\r\nContent-Length: 1073741824\r\n\r\n"));
  EXPECT_TRUE(progress.tooLarge());
  progress = ResponseProgress();
  progress.Update(Bytes("X\r\nContent-Length: 99999999999999999999999\r\n\r\n"));
  EXPECT_TRUE(progress.tooLarge());
  progress = ResponseProgress();
  progress.Update(Bytes("X\r\nContent-Length: 1073741700\r\n\r\n"));
  EXPECT_FALSE(progress.tooLarge());
}

TEST(OnlineHttpHeaderFacts, LastResponseOfTheBlockCounts) {
  const HttpHeaderFacts facts = ReadHttpHeader(
      "HTTP/1.1 302 Found\r\nContent-Length: 0\r\nTransfer-Encoding: chunked\r\n\r\n"
      "HTTP/1.1 206 Partial Content\r\ncontent-range: bytes 100-199/1000\r\n"
      "CONTENT-LENGTH:  100\r\n\r\n");
  EXPECT_EQ(facts.status, 206u);
  EXPECT_EQ(facts.contentLength, 100u);
  EXPECT_EQ(facts.rangeStart, 100u);
  EXPECT_FALSE(facts.chunked);
  EXPECT_TRUE(ReadHttpHeader("HTTP/1.1 200 OK\nTransfer-Encoding: gzip, Chunked\n").chunked);
  EXPECT_EQ(ReadHttpHeader("Content-Length: 5\r\n").status, 0u);
}

}  // namespace
}  // namespace kestrine
