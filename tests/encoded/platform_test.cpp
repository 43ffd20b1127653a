// The platform layer: Windows-style internal paths on a case-sensitive file
// system, positioned file I/O and the error numbers of OS failures.
#include "common/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kestrine.h"
#include "testkit/build_files.h"
#include "testkit/special_files.h"
#include "testkit/stream_files.h"
#include "tests/encoded/stream_test_util.h"
#include "tests/tool/test_util.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using platform::File;
using platform::MappedFile;
using platform::ResolvePath;
using testkit::TempFolder;
using testkit::WriteBinaryFile;

void Touch(const fs::path& path, const std::string& content = "x") {
  fs::create_directories(path.parent_path());
  WriteBinaryFile(path.string(),
                  std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
}

std::string Internal(const fs::path& root, const std::string& relative) {
  return root.string() + "\\" + relative;
}

// An installation copied from Windows: folders and files in whatever case
// the copy kept, opened through names in the case the storage code builds.
TEST(PlatformPathTest, WindowsCasedTreeResolvesWithoutRegardToCase) {
  TempFolder root;
  Touch(root.path() / "Data" / "data" / "0000000001.IDX", "upper");
  Touch(root.path() / "Data" / "config" / "ab" / "cd" / "abcdef", "config");

  EXPECT_EQ(ResolvePath(Internal(root.path(), "Data\\data\\0000000001.idx")),
            (root.path() / "Data/data/0000000001.IDX").string());
  EXPECT_EQ(ResolvePath(Internal(root.path(), "data\\DATA\\0000000001.idx")),
            (root.path() / "Data/data/0000000001.IDX").string());
  EXPECT_EQ(ResolvePath(Internal(root.path(), "DATA\\Config\\AB\\cd\\ABCDEF")),
            (root.path() / "Data/config/ab/cd/abcdef").string());

  File file;
  ASSERT_EQ(file.Open(Internal(root.path(), "data\\data\\0000000001.idx"), false), 0u);
  char text[5];
  size_t read = 0;
  EXPECT_EQ(file.ReadAt(0, text, 5, &read), 0u);
  EXPECT_EQ(std::string(text, 5), "upper");
  EXPECT_TRUE(platform::IsDirectory(Internal(root.path(), "DATA\\DATA")));
  EXPECT_TRUE(platform::Exists(Internal(root.path(), "data\\Config")));
}

TEST(PlatformPathTest, ExactMatchIsPreferredAndAmbiguityResolvesTheSameEveryTime) {
  TempFolder root;
  Touch(root.path() / "Data" / "file", "upper");
  Touch(root.path() / "data" / "file", "lower");
  EXPECT_EQ(ResolvePath(Internal(root.path(), "Data\\file")), (root.path() / "Data/file").string());
  EXPECT_EQ(ResolvePath(Internal(root.path(), "data\\file")), (root.path() / "data/file").string());
  // Neither is exact: the smaller name in byte order, whatever the listing order.
  EXPECT_EQ(ResolvePath(Internal(root.path(), "DATA\\file")), (root.path() / "Data/file").string());
}

TEST(PlatformPathTest, AbsoluteRelativeAndUnresolvablePaths) {
  TempFolder root;
  Touch(root.path() / "Sub" / "Name.TXT");
  // Separators of both kinds in an absolute path.
  std::string mixed = root.path().string() + "/sub\\name.txt";
  EXPECT_EQ(ResolvePath(mixed), (root.path() / "Sub/Name.TXT").string());

  {
    streamtest::WorkingFolder inside(root.path());
    EXPECT_EQ(ResolvePath("sub\\NAME.txt"), "Sub/Name.TXT");
    EXPECT_EQ(ResolvePath(".\\SUB\\name.txt"), "./Sub/Name.TXT");
    EXPECT_TRUE(platform::Exists("sub\\name.txt"));
  }

  // What cannot be found stays as written from the first missing component.
  EXPECT_EQ(ResolvePath(Internal(root.path(), "SUB\\Missing\\Name.TXT")),
            (root.path() / "Sub/Missing/Name.TXT").string());
  EXPECT_EQ(ResolvePath(Internal(root.path(), "sub\\")), (root.path() / "Sub/").string());
  EXPECT_EQ(ResolvePath(""), "");
}

TEST(PlatformFileTest, OpenFailuresTellMissingFileFromMissingFolder) {
  TempFolder root;
  Touch(root.path() / "file");
  fs::create_directories(root.path() / "folder");
  File file;
  EXPECT_EQ(file.Open(Internal(root.path(), "missing"), false), kErrorFileNotFound);
  EXPECT_EQ(file.Open(Internal(root.path(), "nofolder\\missing"), false), kErrorPathNotFound);
  EXPECT_EQ(file.Open(Internal(root.path(), "file\\below"), false), kErrorPathNotFound);
  EXPECT_EQ(file.Open(Internal(root.path(), "folder"), false), kErrorInvalidParameter);
  EXPECT_EQ(file.Open(Internal(root.path(), "folder"), true), kErrorInvalidParameter);
  EXPECT_EQ(file.Create(Internal(root.path(), "nofolder\\new")), kErrorPathNotFound);
  EXPECT_FALSE(file.isOpen());
}

TEST(PlatformFileTest, PositionedReadWriteSizeResizeAndTime) {
  TempFolder root;
  File file;
  ASSERT_EQ(file.Create(Internal(root.path(), "new.bin")), 0u);
  uint64_t size = 1;
  EXPECT_EQ(file.Size(&size), 0u);
  EXPECT_EQ(size, 0u);

  std::vector<uint8_t> bytes = testkit::PatternBytes(5000, 1);
  ASSERT_EQ(file.WriteAt(100, bytes.data(), bytes.size()), 0u);
  EXPECT_EQ(file.Size(&size), 0u);
  EXPECT_EQ(size, 5100u);

  std::vector<uint8_t> back(200);
  size_t read = 0;
  EXPECT_EQ(file.ReadAt(4900, back.data(), back.size(), &read), 0u);
  EXPECT_EQ(read, 200u);
  EXPECT_EQ(file.ReadAt(5000, back.data(), back.size(), &read), kErrorHandleEof);
  EXPECT_EQ(read, 100u);
  EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 100),
            std::vector<uint8_t>(bytes.end() - 100, bytes.end()));
  EXPECT_EQ(file.ReadAt(0, back.data(), 0, &read), 0u);
  EXPECT_EQ(file.ReadAt(uint64_t{1} << 63, back.data(), 1, &read), kErrorHandleEof);
  EXPECT_EQ(read, 0u);

  ASSERT_EQ(file.Resize(40), 0u);
  EXPECT_EQ(file.Size(&size), 0u);
  EXPECT_EQ(size, 40u);

  // 1 s and 123456789 ns after the Unix epoch, in 100 ns units since 1601.
  struct timespec times[2] = {{1, 123456789}, {1, 123456789}};
  ASSERT_EQ(::futimens(file.fd(), times), 0);
  uint64_t fileTime = 0;
  EXPECT_EQ(file.LastWriteTime(&fileTime), 0u);
  EXPECT_EQ(fileTime, (11644473600ull + 1) * 10000000ull + 1234567ull);
}

TEST(PlatformFileTest, ReadThatMeetsTheEndReportsWhatItRead) {
  TempFolder root;
  Touch(root.path() / "ten", "0123456789");
  File file;
  ASSERT_EQ(file.Open(Internal(root.path(), "ten"), false), 0u);
  char buffer[16] = {};
  size_t read = 99;
  EXPECT_EQ(file.ReadAt(6, buffer, sizeof(buffer), &read), kErrorHandleEof);
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  // A read-only descriptor refuses writes.
  EXPECT_NE(file.WriteAt(0, buffer, 1), 0u);
}

TEST(PlatformFileTest, WriteBeyondWhatTheFileMayTakeIsDiskFull) {
  TempFolder root;
  std::string path = Internal(root.path(), "limited");
  std::string result = test::RunWithFileSizeLimit(16, [&] {
    File file;
    if (file.Create(path) != 0) return std::string("create failed");
    std::vector<uint8_t> bytes(64, 1);
    return std::to_string(file.WriteAt(0, bytes.data(), bytes.size()));
  });
  EXPECT_EQ(result, std::to_string(kErrorDiskFull));
}

// Releases, after a few seconds, whoever is blocked opening a FIFO for
// reading, by opening it for writing itself: a regression then fails the
// test instead of hanging it.
class FifoWatchdog {
 public:
  explicit FifoWatchdog(std::string fifo) : fifo_(std::move(fifo)), thread_([this] { Watch(); }) {}
  ~FifoWatchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
    if (writer_ >= 0) ::close(writer_);
  }
  bool fired() const { return fired_; }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; })) return;
    fired_ = true;
    writer_ = ::open(fifo_.c_str(), O_RDWR | O_NONBLOCK);
  }

  std::string fifo_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::atomic<bool> fired_ = false;
  int writer_ = -1;
  std::thread thread_;
};

// Storage files are regular files. A FIFO, a socket or a device in their
// place cannot be opened (2), and opening one never blocks.
TEST(PlatformFileTest, NodesThatAreNotRegularFilesCannotBeOpened) {
  TempFolder root;
  ASSERT_TRUE(testkit::MakeFifo(root / "fifo"));
  ASSERT_TRUE(testkit::MakeSocket(root / "socket"));
  std::vector<std::string> paths = {Internal(root.path(), "fifo"), Internal(root.path(), "socket")};
  for (const char* device : {"/dev/null", "/dev/zero"}) {
    if (fs::exists(device)) paths.push_back(device);
  }
  FifoWatchdog watchdog(root / "fifo");
  for (const std::string& path : paths) {
    File file;
    EXPECT_EQ(file.Open(path, false), kErrorFileNotFound) << path;
    EXPECT_EQ(file.Open(path, true), kErrorFileNotFound) << path;
    EXPECT_FALSE(file.isOpen());
    MappedFile view;
    EXPECT_EQ(view.Open(path), kErrorFileNotFound) << path;
  }
  EXPECT_FALSE(watchdog.fired()) << "an open blocked on the FIFO";
  File created;
  EXPECT_EQ(created.Create(Internal(root.path(), "fifo")), kErrorFileNotFound);
  EXPECT_EQ(testkit::NodeKind(root / "fifo"), "fifo");
  EXPECT_EQ(testkit::NodeKind(root / "socket"), "socket");
}

// The descriptor of a regular file is blocking again once it is known to be one.
TEST(PlatformFileTest, RegularFilesOpenInBlockingMode) {
  TempFolder root;
  Touch(root.path() / "file");
  File file;
  ASSERT_EQ(file.Open(Internal(root.path(), "file"), false), 0u);
  EXPECT_EQ(::fcntl(file.fd(), F_GETFL) & O_NONBLOCK, 0);
  ASSERT_EQ(file.Create(Internal(root.path(), "new")), 0u);
  EXPECT_EQ(::fcntl(file.fd(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(PlatformFileTest, ErrnoValuesMapToTheStorageNumbers) {
  const std::map<int, uint32_t> expected = {
      {ENOENT, kErrorFileNotFound},
      {ENOTDIR, kErrorPathNotFound},
      {ENOMEM, kErrorNotEnoughMemory},
      {EACCES, platform::kErrorAccessDenied},
      {EPERM, platform::kErrorAccessDenied},
      {ENOSPC, kErrorDiskFull},
      {EDQUOT, kErrorDiskFull},
      {EFBIG, kErrorDiskFull},
      {EISDIR, kErrorInvalidParameter},
      {EINVAL, kErrorInvalidParameter},
      {EEXIST, platform::kErrorAlreadyExists},
      {EIO, platform::kErrorIoDevice},
  };
  for (const auto& [errnoValue, error] : expected) {
    EXPECT_EQ(platform::ErrorFromErrno(errnoValue), error) << "errno " << errnoValue;
  }
}

TEST(PlatformMappedFileTest, MapsWholeFileAndRefusesEmptyOrMissingOnes) {
  TempFolder root;
  std::vector<uint8_t> bytes = testkit::PatternBytes(10000, 2);
  WriteBinaryFile(root / "Archive.DAT", bytes);
  WriteBinaryFile(root / "empty", {});

  MappedFile view;
  ASSERT_EQ(view.Open(Internal(root.path(), "archive.dat")), 0u);
  ASSERT_EQ(view.size(), bytes.size());
  EXPECT_EQ(std::vector<uint8_t>(view.data(), view.data() + view.size()), bytes);
  EXPECT_NE(view.lastWriteTime(), 0u);

  MappedFile moved = std::move(view);
  EXPECT_EQ(view.data(), nullptr);
  EXPECT_EQ(moved.size(), bytes.size());

  MappedFile empty;
  EXPECT_NE(empty.Open(Internal(root.path(), "empty")), 0u);
  EXPECT_EQ(empty.data(), nullptr);
  EXPECT_EQ(empty.Open(Internal(root.path(), "missing")), kErrorFileNotFound);
}

TEST(PlatformFolderTest, ListsMakesAndRefusesFolders) {
  TempFolder root;
  Touch(root.path() / "Data" / "a.idx");
  Touch(root.path() / "Data" / "B.IDX");
  fs::create_directories(root.path() / "Data" / "Sub");

  std::map<std::string, bool> seen;
  ASSERT_EQ(platform::ListDirectory(Internal(root.path(), "data"),
                                    [&](std::string_view name, bool isDirectory) {
                                      seen[std::string(name)] = isDirectory;
                                      return true;
                                    }),
            0u);
  EXPECT_EQ(seen, (std::map<std::string, bool>{{"B.IDX", false}, {"Sub", true}, {"a.idx", false}}));

  int calls = 0;
  EXPECT_EQ(platform::ListDirectory(Internal(root.path(), "Data"),
                                    [&](std::string_view, bool) { return ++calls < 2; }),
            0u);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(platform::ListDirectory(Internal(root.path(), "none"),
                                    [](std::string_view, bool) { return true; }),
            kErrorPathNotFound);

  EXPECT_EQ(platform::MakeDirectory(Internal(root.path(), "cache")), 0u);
  EXPECT_TRUE(fs::is_directory(root.path() / "cache"));
  EXPECT_EQ(platform::MakeDirectory(Internal(root.path(), "CACHE")), 0u) << "exists already";
  EXPECT_EQ(platform::MakeDirectory(Internal(root.path(), "data\\a.idx")),
            platform::kErrorAlreadyExists);
  EXPECT_EQ(platform::MakeDirectory(Internal(root.path(), "none\\cache")), kErrorPathNotFound);
}

}  // namespace
}  // namespace kestrine
