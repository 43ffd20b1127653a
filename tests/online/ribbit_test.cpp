// "ribbit:" requests against the scripted server: answers written by the
// testkit's MIME writer, good and malformed, and failed connections.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kestrine.h"
#include "online/transfer.h"
#include "testkit/build_files.h"
#include "testkit/mime.h"
#include "tests/online/loopback_server.h"
#include "tests/online/transfer_helpers.h"

namespace kestrine {
namespace {

using testkit::MimeDocumentPlan;
using testkit::MimeLeaf;
using testkit::MimePartPlan;
using testkit::MimeTransfer;

constexpr char kTable[] =
    "Region!STRING:0|BuildConfig!HEX:16\nus|0123456789abcdef0123456789abcdef\n";

constexpr char kSizedBody[] = "a body with its length";

MimeDocumentPlan LeafDocument(MimePartPlan leaf) {
  MimeDocumentPlan plan;
  plan.root = std::move(leaf);
  return plan;
}

MimeDocumentPlan Multipart(std::vector<MimePartPlan> parts, bool endMarker = true) {
  MimeDocumentPlan plan;
  plan.root.boundary = "b0undary";
  plan.root.parts = std::move(parts);
  plan.root.endMarker = endMarker;
  return plan;
}

class OnlineRibbitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    answers_ = new testkit::TempFolder();
    const auto write = [](const std::string& name, const MimeDocumentPlan& plan) {
      testkit::WriteTextFile(*answers_ / name, testkit::WriteMime(plan));
    };
    write("versions", testkit::RibbitAnswer("versions", kTable, "signature bytes"));
    write("single", LeafDocument(MimeLeaf("one part\r\nof text")));
    write("base64",
          LeafDocument(MimeLeaf(std::string("\0\1\2\3binary", 10), MimeTransfer::kBase64)));
    write("quoted", Multipart({MimeLeaf("a=b\r\nc\xe9", MimeTransfer::kQuotedPrintable)}));
    MimeDocumentPlan notMime = LeafDocument(MimeLeaf("x"));
    notMime.versionLine.clear();
    notMime.root.headerLines = {"Content-Type: text/plain"};
    write("not-mime", notMime);
    write("no-end-marker", Multipart({MimeLeaf("a")}, false));
    write("no-data", Multipart({}));
    MimePartPlan inner;
    inner.boundary = "inner";
    inner.parts = {MimeLeaf("x")};
    write("first-part-multipart", Multipart({inner}));
    testkit::WriteTextFile(*answers_ / "empty", "");
    MimeDocumentPlan sized = LeafDocument(MimeLeaf(kSizedBody));
    sized.root.headerLines = {"Content-Length: " + std::to_string(sizeof kSizedBody - 1 + 2)};
    write("sized", sized);
    server_ =
        new test::LoopbackServer("scripted_server.py", {"--answers", answers_->path().string()});
  }
  static void TearDownTestSuite() {
    delete server_;
    delete answers_;
  }

  static std::string Url(const std::string& line) { return server_->Url("ribbit", "/" + line); }

  static testkit::TempFolder* answers_;
  static test::LoopbackServer* server_;
};

testkit::TempFolder* OnlineRibbitTest::answers_ = nullptr;
test::LoopbackServer* OnlineRibbitTest::server_ = nullptr;

TEST_F(OnlineRibbitTest, AnswerDataIsTheFirstPartsBody) {
  const test::Fetched versions = test::Fetch(Url("answer/versions"));
  ASSERT_EQ(versions.error, 0u);
  EXPECT_EQ(versions.body, kTable);
  // The request line is the path without its "/".
  EXPECT_EQ(server_->Requests().back().substr(server_->Requests().back().find(' ') + 1),
            "RIBBIT answer/versions active=1");
}

TEST_F(OnlineRibbitTest, SinglePartsAreDecoded) {
  EXPECT_EQ(test::Fetch(Url("answer/single")).body, "one part\r\nof text");
  EXPECT_EQ(test::Fetch(Url("answer/base64")).body, std::string("\0\1\2\3binary", 10));
  EXPECT_EQ(test::Fetch(Url("answer/quoted")).body, "a=b\r\nc\xe9");
}

TEST_F(OnlineRibbitTest, AnswerWithItsLengthEndsWithoutWaitingForTheClose) {
  test::ScopedTimeouts timeouts({5000, 3000});
  test::Fetched sized;
  const int64_t ms = test::MillisecondsOf([&] { sized = test::Fetch(Url("hold/sized")); });
  EXPECT_EQ(sized.error, 0u);
  EXPECT_EQ(sized.body, kSizedBody);
  EXPECT_LT(ms, 2000);
}

TEST_F(OnlineRibbitTest, MalformedAnswersFailWithTheParsersNumbers) {
  EXPECT_EQ(test::Fetch(Url("answer/not-mime")).error, kErrorNotSupported);
  EXPECT_EQ(test::Fetch(Url("answer/no-end-marker")).error, kErrorBadFormat);
  EXPECT_EQ(test::Fetch(Url("answer/no-data")).error, kErrorCanNotComplete);
  EXPECT_EQ(test::Fetch(Url("answer/first-part-multipart")).error, kErrorHandleEof);
  EXPECT_EQ(test::Fetch(Url("answer/empty")).error, kErrorBadFormat);
  EXPECT_EQ(test::Fetch(Url("reset")).error, kErrorBadFormat);
}

TEST_F(OnlineRibbitTest, FailedConnectionsFail) {
  EXPECT_EQ(test::Fetch("ribbit://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/x").error,
            kErrorNetworkUnreachable);
  EXPECT_EQ(test::Fetch("ribbit://no-such-host.invalid/x").error, kErrorHostNotFound);
  EXPECT_EQ(test::Fetch("ribbit://:1119/x").error, kErrorInvalidParameter);
  EXPECT_EQ(test::Fetch("ribbit://host:99999/x").error, kErrorInvalidParameter);
  test::ScopedTimeouts timeouts({5000, 1000});
  uint32_t error = 0;
  const int64_t ms = test::MillisecondsOf([&] { error = test::Fetch(Url("silent")).error; });
  EXPECT_EQ(error, kErrorNetworkUnreachable);
  EXPECT_GE(ms, 900);
  EXPECT_LT(ms, 5000);
}

}  // namespace
}  // namespace kestrine
