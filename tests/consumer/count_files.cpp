// A program outside the project: it sees only the installed header and
// library. Opens the storage named on its command line, counts the files
// a search of "*" returns and reads the first one that has a full name.
// Prints "N files; NAME: SIZE bytes".
// Usage: count_files STORAGE
#include <kestrine.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: count_files STORAGE\n", stderr);
    return 2;
  }
  kestrine::StorageOpenArgs args{};
  args.size = sizeof(args);
  kestrine::StorageHandle storage = kestrine::OpenStorage(argv[1], &args);
  if (storage == nullptr) {
    std::fprintf(stderr, "cannot open %s, error %u\n", argv[1], kestrine::GetCascError());
    return 1;
  }
  kestrine::SearchResult result{};
  kestrine::SearchHandle search = kestrine::SearchFirst(storage, "*", &result, nullptr);
  if (search == nullptr) {
    std::fprintf(stderr, "cannot search, error %u\n", kestrine::GetCascError());
    kestrine::CloseStorage(storage);
    return 1;
  }
  unsigned long files = 0;
  std::vector<char> firstName;
  do {
    ++files;
    if (firstName.empty() && result.nameType == kestrine::kNameFull) {
      firstName.assign(result.fileName, result.fileName + sizeof(result.fileName));
    }
  } while (kestrine::SearchNext(search, &result));
  kestrine::SearchClose(search);

  // The first named file, read to its end: as many bytes as its size says.
  int status = 1;
  kestrine::FileHandle file = nullptr;
  if (firstName.empty()) {
    std::fputs("no file has a full name\n", stderr);
  } else if (!kestrine::OpenFileByName(storage, firstName.data(), &file)) {
    std::fprintf(stderr, "cannot open %s, error %u\n", firstName.data(), kestrine::GetCascError());
  } else {
    uint64_t size = 0;
    uint64_t bytes = 0;
    char buffer[4096];
    uint32_t read = 0;
    while (kestrine::ReadOpenFile(file, buffer, sizeof(buffer), &read) && read != 0) bytes += read;
    if (kestrine::GetFileContentSize(file, &size) == 0 && bytes == size) {
      std::printf("%lu files; %s: %llu bytes\n", files, firstName.data(),
                  static_cast<unsigned long long>(bytes));
      status = 0;
    } else {
      std::fprintf(stderr, "%s: read %llu bytes of %llu\n", firstName.data(),
                   static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(size));
    }
    kestrine::CloseFile(file);
  }
  kestrine::CloseStorage(storage);
  return status;
}
