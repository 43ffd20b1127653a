#include "online/mime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrine.h"
#include "online/mime_decode.h"
#include "online/mime_header.h"
#include "testkit/build_files.h"
#include "testkit/mime.h"

namespace kestrine {
namespace {

using testkit::MimeDocumentPlan;
using testkit::MimeLeaf;
using testkit::MimePartPlan;
using testkit::MimeTransfer;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Text(const std::vector<uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

uint32_t Parse(const MimeDocumentPlan& plan, TMimeElement& root) {
  return ParseMime(root, Bytes(testkit::WriteMime(plan)));
}

uint32_t Parse(const MimeDocumentPlan& plan) {
  TMimeElement root;
  return Parse(plan, root);
}

// Every byte value, so that each escape and base64 group is exercised.
std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

// The parsed tree holds what the plan's parts hold.
void ExpectTree(const TMimeElement& element, const MimePartPlan& plan) {
  EXPECT_EQ(element.boundary, plan.boundary);
  if (plan.boundary.empty()) {
    ASSERT_TRUE(element.data.has_value());
    EXPECT_EQ(Text(*element.data), plan.body);
    EXPECT_TRUE(element.children.empty());
    return;
  }
  EXPECT_FALSE(element.data.has_value());
  ASSERT_EQ(element.children.size(), plan.parts.size());
  for (size_t i = 0; i < plan.parts.size(); ++i) ExpectTree(element.children[i], plan.parts[i]);
}

MimeDocumentPlan Multipart(std::vector<MimePartPlan> parts, std::string boundary = "b0undary") {
  MimeDocumentPlan plan;
  plan.root.boundary = std::move(boundary);
  plan.root.parts = std::move(parts);
  return plan;
}

TEST(MimeDecodeTest, Base64ReadsEveryGroupLengthAcrossLines) {
  const std::string data = AllBytes();
  for (size_t size : {0, 1, 2, 3, 4, 5, 256}) {
    for (size_t lineLength : {0, 4, 7, 76}) {
      std::vector<uint8_t> out;
      ASSERT_EQ(DecodeBase64(testkit::EncodeBase64(data.substr(0, size), lineLength), out), 0u);
      EXPECT_EQ(Text(out), data.substr(0, size)) << size << " " << lineLength;
    }
  }
  std::vector<uint8_t> out;
  // Controls and spaces are skipped; the first '=' ends the data.
  ASSERT_EQ(DecodeBase64("Q\x01U\tJ D=RUY*", out), 0u);
  EXPECT_EQ(Text(out), "ABC");
  for (std::string bad : {std::string("QU\0JD", 5), std::string("QU\x80JD"), std::string("QU-JD"),
                          std::string("QU*JD"), std::string("QU\x7fJD")}) {
    EXPECT_EQ(DecodeBase64(bad, out), kErrorBadFormat) << bad;
  }
}

TEST(MimeDecodeTest, QuotedPrintableEscapesAndSoftBreaks) {
  std::vector<uint8_t> out;
  ASSERT_EQ(DecodeQuotedPrintable("a=3Db=\r\nc", out), 0u);
  EXPECT_EQ(Text(out), "a=bc");
  out.clear();
  ASSERT_EQ(DecodeQuotedPrintable("=e9=E9 x\r\ny", out), 0u);
  EXPECT_EQ(Text(out), "\xe9\xe9 x\r\ny");
  for (size_t lineLength : {0, 3, 76}) {
    out.clear();
    ASSERT_EQ(DecodeQuotedPrintable(testkit::EncodeQuotedPrintable(AllBytes(), lineLength), out),
              0u);
    EXPECT_EQ(Text(out), AllBytes());
  }
  for (std::string bad : {"=G0", "=0g", "a=", "a=0", "=\n", "=\rx", "= \r\n"}) {
    EXPECT_EQ(DecodeQuotedPrintable(bad, out), kErrorBadFormat) << bad;
  }
}

TEST(MimeHeaderTest, ReadsFieldsWithoutRegardToCaseAndAcrossFoldedLines) {
  const std::string text =
      "content-TYPE: multipart/mixed;\r\n\tboundary=\"x y\"; a=b\r\n"
      "CONTENT-TRANSFER-ENCODING: Quoted-Printable\r\n\r\nbody";
  MimeHeader header = ReadMimeHeader(text);
  EXPECT_FALSE(header.marksMime);
  EXPECT_EQ(header.boundary, "x y");
  EXPECT_EQ(header.encoding, MimeEncoding::kQuotedPrintable);
  EXPECT_EQ(header.bodyOffset, text.find("body"));

  // The markers must match exactly; other encodings are none.
  EXPECT_FALSE(ReadMimeHeader("mime-version: 1.0\r\n\r\n").marksMime);
  EXPECT_FALSE(ReadMimeHeader("MIME-Version: 1.0 \r\n\r\n").marksMime);
  EXPECT_TRUE(ReadMimeHeader("HTTP/1.1 200 OK\r\n\r\n").marksMime);
  EXPECT_EQ(ReadMimeHeader("Content-Transfer-Encoding: 7bit\r\n\r\n").encoding,
            MimeEncoding::kNone);
  // A header that never ends leaves no body.
  const std::string open = "MIME-Version: 1.0\r\nX: y";
  EXPECT_EQ(ReadMimeHeader(open).bodyOffset, open.size());
}

TEST(MimeHeaderTest, BoundariesOfUpTo127Characters) {
  auto header = [](size_t length) {
    return ReadMimeHeader("Content-Type: m; boundary=\"" + std::string(length, 'b') + "\"\r\n\r\n");
  };
  EXPECT_EQ(header(kMaxMimeBoundary).boundary.size(), kMaxMimeBoundary);
  EXPECT_FALSE(header(kMaxMimeBoundary).badBoundary);
  EXPECT_TRUE(header(kMaxMimeBoundary + 1).badBoundary);
  EXPECT_TRUE(ReadMimeHeader("Content-Type: m; boundary=\"open\r\n\r\n").badBoundary);
  // Without the quote there is no boundary at all.
  EXPECT_EQ(ReadMimeHeader("Content-Type: m; boundary=b\r\n\r\n").boundary, "");
}

TEST(MimeTest, LeafDocumentsInEveryEncoding) {
  for (auto transfer :
       {MimeTransfer::kNone, MimeTransfer::kBase64, MimeTransfer::kQuotedPrintable}) {
    MimeDocumentPlan plan;
    plan.root =
        MimeLeaf(transfer == MimeTransfer::kNone ? "Region|x\r\nus|1" : AllBytes(), transfer);
    TMimeElement root;
    ASSERT_EQ(Parse(plan, root), 0u);
    ExpectTree(root, plan.root);
  }
  MimeDocumentPlan http;
  http.versionLine = "HTTP/1.1 200 OK";
  http.root = MimeLeaf("x");
  EXPECT_EQ(Parse(http), 0u);
}

TEST(MimeTest, NestedMultipartTreesMatchTheirPlan) {
  MimePartPlan inner;
  inner.boundary = std::string(kMaxMimeBoundary, '=');
  inner.foldContentType = true;
  inner.parts = {MimeLeaf("first\r\n--not a marker", MimeTransfer::kQuotedPrintable),
                 MimeLeaf(AllBytes(), MimeTransfer::kBase64)};
  inner.epilogue = "ignored\r\n";
  MimePartPlan named = MimeLeaf("x\r\n--not the boundary\r\n");
  named.headerLines = {"Content-Type: text/plain", "X-Long: a\r\n  b"};
  MimeDocumentPlan plan = Multipart({named, inner, MimeLeaf("last")});
  TMimeElement root;
  ASSERT_EQ(Parse(plan, root), 0u);
  ExpectTree(root, plan.root);
}

TEST(MimeTest, DocumentsNestedBeyondTheDepthLimitAreRefused) {
  auto nested = [](size_t depth) {
    MimePartPlan part = MimeLeaf("deep");
    for (size_t i = 0; i < depth; ++i) {
      MimePartPlan outer;
      outer.boundary = "level" + std::to_string(i) + "x";
      outer.parts = {std::move(part)};
      part = std::move(outer);
    }
    MimeDocumentPlan plan;
    plan.root = std::move(part);
    return plan;
  };
  EXPECT_EQ(Parse(nested(kMaxMimeDepth)), 0u);
  EXPECT_EQ(Parse(nested(kMaxMimeDepth + 1)), kErrorBadFormat);
}

TEST(MimeTest, MalformedDocumentsAreRefusedAndLeaveNoTree) {
  auto bad = [](auto edit) {
    MimeDocumentPlan plan = Multipart({MimeLeaf("a"), MimeLeaf("b")});
    edit(plan);
    return plan;
  };
  const std::vector<std::pair<std::string, MimeDocumentPlan>> cases = {
      {"no end marker", bad([](auto& p) { p.root.endMarker = false; })},
      {"boundary of 128", bad([](auto& p) { p.root.boundary = std::string(128, 'b'); })},
      {"empty part", bad([](auto& p) { p.root.parts[1].body = ""; })},
      {"bad base64", bad([](auto& p) {
         p.root.parts[1].transfer = MimeTransfer::kBase64;
         p.root.parts[1].encodedBody = "QUJD!";
       })},
      {"bad escape", bad([](auto& p) {
         p.root.parts[0].transfer = MimeTransfer::kQuotedPrintable;
         p.root.parts[0].encodedBody = "a=4";
       })},
      {"leaf without final CR LF",
       [] {
         MimeDocumentPlan plan;
         plan.root = MimeLeaf("data");
         plan.finalLineBreak = false;
         return plan;
       }()},
  };
  for (const auto& [name, plan] : cases) {
    TMimeElement root;
    root.boundary = "stale";
    EXPECT_EQ(Parse(plan, root), kErrorBadFormat) << name;
    EXPECT_EQ(root.boundary, "") << name;
    EXPECT_TRUE(root.children.empty()) << name;
  }

  // Without a marker line, and with LF line breaks, which end no header
  // line, a document is not MIME.
  MimeDocumentPlan noVersion = Multipart({MimeLeaf("a")});
  noVersion.versionLine = "";
  EXPECT_EQ(Parse(noVersion), kErrorNotSupported);
  MimeDocumentPlan lf = Multipart({MimeLeaf("a")});
  lf.lineBreak = "\n";
  EXPECT_EQ(Parse(lf), kErrorNotSupported);

  // The parts must start right behind the header, and a boundary line must
  // end right behind the boundary.
  const std::string text = testkit::WriteMime(Multipart({MimeLeaf("a")}));
  const size_t marker = text.find("--b0undary\r\n");
  TMimeElement root;
  EXPECT_EQ(ParseMime(root, Bytes(std::string(text).insert(marker, "preamble\r\n"))),
            kErrorBadFormat);
  EXPECT_EQ(ParseMime(root, Bytes(std::string(text).insert(marker + 10, " "))), kErrorBadFormat);
}

TEST(MimeTest, RibbitAnswersYieldTheirTable) {
  testkit::TableText versions{
      {"Region!STRING:0", "BuildConfig!HEX:16", "VersionsName!String:0"},
      {{"us", std::string(32, 'a'), "1.18.10.1234"}, {"eu", std::string(32, 'b'), "1.18.10.1234"}}};
  testkit::TableText cdns{{"Name!STRING:0", "Path!STRING:0", "Hosts!STRING:0"},
                          {{"us", "tpr/sc1live", "cdn.example level3.example"}},
                          /*crlf=*/true};
  for (const auto& [list, table] : {std::pair{"versions", versions}, std::pair{"cdns", cdns}}) {
    const MimeDocumentPlan plan =
        testkit::RibbitAnswer(list, testkit::FormatTable(table), AllBytes());
    std::vector<uint8_t> data;
    ASSERT_EQ(ParseRibbitAnswer(Bytes(testkit::WriteMime(plan)), data), 0u) << list;
    EXPECT_EQ(Text(data), plan.root.parts[0].body);
    TMimeElement root;
    ASSERT_EQ(Parse(plan, root), 0u);
    ExpectTree(root, plan.root);
  }
}

TEST(MimeTest, RibbitAnswerDataIsTheRootsOrTheFirstPartsData) {
  MimeDocumentPlan leaf;
  leaf.root = MimeLeaf("=00", MimeTransfer::kQuotedPrintable);
  std::vector<uint8_t> data;
  ASSERT_EQ(ParseRibbitAnswer(Bytes(testkit::WriteMime(leaf)), data), 0u);
  EXPECT_EQ(Text(data), leaf.root.body);

  // One part: its decoded body.
  const MimeDocumentPlan one = Multipart({MimeLeaf(AllBytes(), MimeTransfer::kBase64)});
  ASSERT_EQ(ParseRibbitAnswer(Bytes(testkit::WriteMime(one)), data), 0u);
  EXPECT_EQ(Text(data), AllBytes());

  EXPECT_EQ(ParseRibbitAnswer(Bytes(testkit::WriteMime(Multipart({}))), data),
            kErrorCanNotComplete);
  MimePartPlan inner;
  inner.boundary = "inner";
  inner.parts = {MimeLeaf("x")};
  EXPECT_EQ(ParseRibbitAnswer(Bytes(testkit::WriteMime(Multipart({inner, MimeLeaf("y")}))), data),
            kErrorHandleEof);
  EXPECT_EQ(ParseRibbitAnswer(Bytes(std::string("not mime\r\n")), data), kErrorNotSupported);
}

}  // namespace
}  // namespace kestrine
