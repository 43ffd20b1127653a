#include "testkit/mime.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace kestrine::testkit {

namespace {

// Breaks `text` into lines of `lineLength` characters joined by `lineBreak`.
std::string BreakLines(std::string_view text, size_t lineLength, std::string_view lineBreak) {
  if (lineLength == 0) return std::string(text);
  std::string out;
  for (size_t at = 0; at < text.size(); at += lineLength) {
    if (at > 0) out += lineBreak;
    out += text.substr(at, lineLength);
  }
  return out;
}

std::string TransferName(const MimePartPlan& part) {
  if (!part.transferName.empty()) return part.transferName;
  switch (part.transfer) {
    case MimeTransfer::kBase64:
      return "base64";
    case MimeTransfer::kQuotedPrintable:
      return "quoted-printable";
    case MimeTransfer::kNone:
      break;
  }
  return "";
}

std::string EncodedBody(const MimePartPlan& part) {
  if (part.encodedBody) return *part.encodedBody;
  switch (part.transfer) {
    case MimeTransfer::kBase64:
      return EncodeBase64(part.body, part.lineLength);
    case MimeTransfer::kQuotedPrintable:
      return EncodeQuotedPrintable(part.body, part.lineLength);
    case MimeTransfer::kNone:
      break;
  }
  return part.body;
}

std::string WriteHeader(const MimePartPlan& part, std::string_view lineBreak) {
  std::string out;
  for (const auto& line : part.headerLines) out += line + std::string(lineBreak);
  if (!part.boundary.empty()) {
    out += "Content-Type: multipart/alternative;";
    out += part.foldContentType ? std::string(lineBreak) + "\t" : " ";
    out += "boundary=\"" + part.boundary + "\"" + std::string(lineBreak);
  }
  const std::string transfer = TransferName(part);
  if (!transfer.empty()) out += "Content-Transfer-Encoding: " + transfer + std::string(lineBreak);
  return out + std::string(lineBreak);
}

// The element's header and body. A leaf's body ends without a line break:
// the one behind it belongs to the next boundary line or the document's end.
std::string WriteElement(const MimePartPlan& part, std::string_view lineBreak) {
  std::string out = WriteHeader(part, lineBreak);
  if (part.boundary.empty()) return out + EncodedBody(part);
  const std::string marker = "--" + part.boundary;
  for (const auto& child : part.parts) {
    out +=
        marker + std::string(lineBreak) + WriteElement(child, lineBreak) + std::string(lineBreak);
  }
  if (part.endMarker) out += marker + "--" + std::string(lineBreak);
  return out + part.epilogue;
}

}  // namespace

std::string EncodeBase64(std::string_view data, size_t lineLength) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t at = 0; at < data.size(); at += 3) {
    uint32_t group = 0;
    const size_t count = std::min<size_t>(3, data.size() - at);
    for (size_t i = 0; i < 3; ++i) {
      group = (group << 8) | (i < count ? static_cast<uint8_t>(data[at + i]) : 0);
    }
    for (size_t i = 0; i < 4; ++i) {
      text += i <= count ? kAlphabet[(group >> (18 - 6 * i)) & 63] : '=';
    }
  }
  return BreakLines(text, lineLength, "\r\n");
}

std::string EncodeQuotedPrintable(std::string_view data, size_t lineLength) {
  std::string out;
  size_t column = 0;
  for (char c : data) {
    const auto byte = static_cast<uint8_t>(c);
    char piece[4] = {c, 0, 0, 0};
    if (byte <= ' ' || byte >= 127 || c == '=') std::snprintf(piece, sizeof piece, "=%02X", byte);
    const std::string_view text(piece, piece[1] == 0 ? 1 : 3);
    if (lineLength > 0 && column + text.size() > lineLength) {
      out += "=\r\n";
      column = 0;
    }
    out += text;
    column += text.size();
  }
  return out;
}

std::string WriteMime(const MimeDocumentPlan& plan) {
  std::string out;
  if (!plan.versionLine.empty()) out += plan.versionLine + plan.lineBreak;
  out += WriteElement(plan.root, plan.lineBreak);
  if (plan.root.boundary.empty() && plan.finalLineBreak) out += plan.lineBreak;
  return out;
}

MimePartPlan MimeLeaf(std::string body, MimeTransfer transfer) {
  MimePartPlan part;
  part.body = std::move(body);
  part.transfer = transfer;
  return part;
}

MimeDocumentPlan RibbitAnswer(std::string_view listName, std::string table, std::string signature) {
  MimeDocumentPlan plan;
  MimePartPlan& root = plan.root;
  root.headerLines = {"From: Test Server", "To: you", "Subject: " + std::string(listName)};
  root.boundary = "a2f3c5d9e1b04d7f8c6e0a1b2c3d4e5f";
  MimePartPlan list = MimeLeaf(std::move(table));
  list.headerLines = {"Content-Type: text/plain", "Content-Disposition: " + std::string(listName)};
  MimePartPlan cms = MimeLeaf(std::move(signature), MimeTransfer::kBase64);
  cms.headerLines = {"Content-Type: application/cms",
                     "Content-Disposition: attachment; filename=\"cms.bin\""};
  root.parts = {std::move(list), std::move(cms)};
  root.epilogue = "Checksum: " + std::string(64, '0') + "\r\n";
  return plan;
}

}  // namespace kestrine::testkit
