// The loopback servers the online tests run: tests/online/cdn_server.py and
// tests/online/ribbit_server.py, driven by a bare socket client so that what
// goes over the wire is seen as sent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "online/mime.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/cdn_tree.h"
#include "tests/online/loopback_server.h"

namespace kestrine {
namespace {

using test::LoopbackServer;
using testkit::TempFolder;

struct Response {
  int status = 0;
  std::map<std::string, std::string> headers;
  std::string body;
};

// One TCP connection to the server; reads wait at most five seconds.
class RawConnection {
 public:
  explicit RawConnection(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    timeval timeout{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }

  void Send(const std::string& text) {
    ASSERT_EQ(send(fd_, text.data(), text.size(), 0), ssize_t(text.size()));
  }

  void Get(const std::string& path, const std::string& range = "") {
    std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n";
    if (!range.empty()) request += "Range: " + range + "\r\n";
    Send(request + "\r\n");
  }

  // One response: status line, headers, then Content-Length bytes of body
  // or fewer when the server closes first.
  Response Read() {
    Response response;
    while (buffer_.find("\r\n\r\n") == std::string::npos && Receive()) {
    }
    const size_t headerEnd = buffer_.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return response;
    std::string header = buffer_.substr(0, headerEnd + 2);
    buffer_.erase(0, headerEnd + 4);
    response.status = std::stoi(header.substr(9, 3));
    for (size_t line = header.find("\r\n") + 2; line < header.size();) {
      const size_t end = header.find("\r\n", line);
      const size_t colon = header.find(": ", line);
      response.headers[header.substr(line, colon - line)] =
          header.substr(colon + 2, end - colon - 2);
      line = end + 2;
    }
    const size_t length = std::stoul(response.headers["Content-Length"]);
    while (buffer_.size() < length && Receive()) {
    }
    response.body = buffer_.substr(0, length);
    buffer_.erase(0, response.body.size());
    return response;
  }

  // Everything up to the server's close.
  std::string ReadToClose() {
    while (Receive()) {
    }
    return std::exchange(buffer_, {});
  }

  // True when the server closed the connection (rather than sending more).
  bool Closed() { return !Receive() && buffer_.empty(); }

 private:
  bool Receive() {
    char chunk[4096];
    const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
  }

  int fd_;
  bool connected_ = false;
  std::string buffer_;
};

std::string FileText(size_t size) {
  std::vector<uint8_t> bytes = testkit::DataLikeBytes(size, 7);
  return {bytes.begin(), bytes.end()};
}

// The field of a request log line ("<port> GET <path> <range>").
std::string Field(const std::string& line, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) start = line.find(' ', start) + 1;
  return line.substr(start, line.find(' ', start) - start);
}

TEST(ContentServersTest, CdnServerAnswersWholeFilesRangesAndMissesOnOneConnection) {
  TempFolder temp;
  const std::filesystem::path root = temp.path() / "served";
  const std::string content = FileText(1000);
  testkit::WriteTextFile(root / "tpr" / "a.bin", content);
  testkit::WriteTextFile(temp.path() / "outside.bin", "secret");
  LoopbackServer server("cdn_server.py", {"--root", root.string()});
  RawConnection connection(server.port());
  ASSERT_TRUE(connection.connected());

  connection.Get("/tpr/a.bin");
  Response whole = connection.Read();
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.headers["Content-Length"], "1000");
  EXPECT_EQ(whole.body, content);

  connection.Get("/tpr/a.bin", "bytes=100-199");
  Response piece = connection.Read();
  EXPECT_EQ(piece.status, 206);
  EXPECT_EQ(piece.headers["Content-Range"], "bytes 100-199/1000");
  EXPECT_EQ(piece.body, content.substr(100, 100));

  connection.Get("/tpr/a.bin", "bytes=990-");
  EXPECT_EQ(connection.Read().body, content.substr(990));
  connection.Get("/tpr/a.bin", "bytes=1000-");
  Response beyond = connection.Read();
  EXPECT_EQ(beyond.status, 416);
  EXPECT_EQ(beyond.headers["Content-Range"], "bytes */1000");

  connection.Get("/tpr/missing.bin");
  EXPECT_EQ(connection.Read().status, 404);
  connection.Get("/../outside.bin");
  EXPECT_EQ(connection.Read().status, 404);

  // Six requests, all on the one connection, each logged with its range.
  const std::vector<std::string> log = server.Requests();
  ASSERT_EQ(log.size(), 6u);
  for (const std::string& line : log) EXPECT_EQ(Field(line, 0), Field(log[0], 0));
  EXPECT_EQ(log[0].substr(log[0].find(' ')), " GET /tpr/a.bin -");
  EXPECT_EQ(log[1].substr(log[1].find(' ')), " GET /tpr/a.bin bytes=100-199");
}

TEST(ContentServersTest, CdnServerCutsADownloadShortAndCloses) {
  TempFolder root;
  const std::string content = FileText(1000);
  testkit::WriteTextFile(root.path() / "a.index", content);
  testkit::WriteTextFile(root.path() / "a.data", content);
  LoopbackServer server("cdn_server.py",
                        {"--root", root.path().string(), "--cut", ".index", "--delay-ms", "1"});
  RawConnection connection(server.port());
  connection.Get("/a.data");
  EXPECT_EQ(connection.Read().body, content);  // other files are whole

  connection.Get("/a.index");
  Response cut = connection.Read();
  EXPECT_EQ(cut.status, 200);
  EXPECT_EQ(cut.headers["Content-Length"], "1000");
  EXPECT_EQ(cut.body, content.substr(0, 500));
  EXPECT_TRUE(connection.Closed());
}

TEST(ContentServersTest, RibbitServerAnswersTheFileOfTheRequestLineThenCloses) {
  TempFolder temp;
  testkit::InstallationPlan plan;
  plan.cdn.hosts = "127.0.0.1:80";
  const testkit::CdnTree tree = testkit::WriteCdnTree(temp.path(), plan);
  LoopbackServer server("ribbit_server.py", {"--root", tree.ribbitRoot.string()});

  RawConnection connection(server.port());
  connection.Send(tree.cdnsRibbitLine + "\r\n");
  const std::string answer = connection.ReadToClose();
  std::vector<uint8_t> table;
  ASSERT_EQ(
      ParseRibbitAnswer({reinterpret_cast<const uint8_t*>(answer.data()), answer.size()}, table),
      0u);
  EXPECT_EQ(std::string(table.begin(), table.end()), tree.cdnsTable);

  RawConnection missing(server.port());
  missing.Send("kestest/bgdl\r\n");
  EXPECT_EQ(missing.ReadToClose(), "");
  RawConnection outside(server.port());
  outside.Send("../kestest/versions\r\n");
  EXPECT_EQ(outside.ReadToClose(), "");

  const std::vector<std::string> log = server.Requests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].substr(log[0].find(' ') + 1), "kestest/cdns");
  EXPECT_EQ(log[1].substr(log[1].find(' ') + 1), "kestest/bgdl");
}

}  // namespace
}  // namespace kestrine
