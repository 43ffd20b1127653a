/* The library through its C interface, compiled as C: opens the installation
 * that write_c_api_installation wrote, searches it, reads every file in
 * pieces and holds the bytes against the generator's copy and against the
 * file's content key.
 * Usage: c_api_test FOLDER */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kestrine.h"

static int failures = 0;

#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                             \
    }                                                                         \
  } while (0)

struct Expected {
  const char* storageName;
  const char* plainName;
  const char* bytesFile;
};

static const struct Expected kFiles[] = {
    {"SD\\Text\\Greeting.txt", "Greeting.txt", "greeting"},
    {"SD\\Data\\Large.bin", "Large.bin", "large"},
    {"SD\\Data\\Empty.bin", "Empty.bin", "empty"},
};
#define FILE_COUNT (sizeof kFiles / sizeof kFiles[0])

/* The whole of a plain file, or null; `size` gets its length. */
static unsigned char* ReadPlainFile(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  unsigned char* bytes = NULL;
  long length;
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) >= 0 &&
      fseek(file, 0, SEEK_SET) == 0) {
    bytes = malloc((size_t)length + 1);
    if (bytes != NULL && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
      free(bytes);
      bytes = NULL;
    }
    *size = (size_t)length;
  }
  fclose(file);
  return bytes;
}

static void CheckVersionAndErrorTexts(void) {
  char packed[32];
  CHECK(kestrine_version() == KESTRINE_VERSION_NUMBER);
  CHECK(strcmp(kestrine_version_string(), KESTRINE_VERSION_STRING) == 0);
  sprintf(packed, "%u.%u.%u", (unsigned)(kestrine_version() >> 16),
          (unsigned)((kestrine_version() >> 8) & 0xFF), (unsigned)(kestrine_version() & 0xFF));
  CHECK(strcmp(packed, KESTRINE_VERSION_STRING) == 0);
  CHECK(strcmp(kestrine_error_text(KESTRINE_ERROR_FILE_NOT_FOUND), "file not found") == 0);
  CHECK(strcmp(kestrine_error_text(4242), "unknown error") == 0);
}

static void CheckBadCalls(const char* root) {
  KestrineOpenArgs args;
  KestrineFile* file = NULL;
  memset(&args, 0, sizeof args);
  args.size = 4; /* covers no field, not even the local path */
  CHECK(kestrine_open_storage(root, &args) == NULL);
  CHECK(kestrine_get_last_error() == KESTRINE_ERROR_INVALID_PARAMETER);
  CHECK(!kestrine_open_file(NULL, "x", &file));
  CHECK(kestrine_get_last_error() == KESTRINE_ERROR_INVALID_HANDLE);
  CHECK(!kestrine_close_file(NULL));
  CHECK(!kestrine_search_close(NULL));
  CHECK(!kestrine_close_storage(NULL));
}

static void CheckSearch(KestrineStorage* storage) {
  KestrineSearchResult result;
  KestrineSearchResult copy;
  KestrineSearch* search = kestrine_search_first(storage, "*", &result, NULL);
  int seen[FILE_COUNT] = {0};
  int others = 0;
  size_t i;
  CHECK(search != NULL);
  if (search == NULL) return;
  do {
    int known = 0;
    copy = result; /* a result is a plain record: the copy's plain name holds */
    for (i = 0; i < FILE_COUNT; ++i) {
      if (strcmp(copy.fileName, kFiles[i].storageName) == 0) {
        ++seen[i];
        known = 1;
        CHECK(strcmp(copy.fileName + copy.plainNameOffset, kFiles[i].plainName) == 0);
        CHECK(copy.nameType == KESTRINE_NAME_FULL);
      }
    }
    /* The storage names its manifests too. */
    if (strcmp(copy.fileName, "ENCODING") == 0 || strcmp(copy.fileName, "ROOT") == 0) known = 1;
    if (!known && copy.nameType == KESTRINE_NAME_FULL) ++others;
  } while (kestrine_search_next(search, &result));
  CHECK(kestrine_search_close(search));
  for (i = 0; i < FILE_COUNT; ++i) CHECK(seen[i] == 1);
  CHECK(others == 0);

  search = kestrine_search_first(storage, "*.txt", &result, NULL);
  CHECK(search != NULL && strcmp(result.fileName, kFiles[0].storageName) == 0);
  CHECK(search != NULL && !kestrine_search_next(search, &result));
  if (search != NULL) kestrine_search_close(search);

  CHECK(kestrine_search_first(storage, "*.none", &result, NULL) == NULL);
  CHECK(kestrine_get_last_error() == KESTRINE_ERROR_FILE_NOT_FOUND);
}

/* Reads `name` in pieces of odd sizes; compares with the generator's bytes
 * and with the content key. */
static void CheckFile(KestrineStorage* storage, const char* folder,
                      const struct Expected* expected) {
  char path[1024];
  size_t expectedSize = 0;
  unsigned char* expectedBytes;
  unsigned char* bytes;
  KestrineFile* file = NULL;
  uint64_t size = 0;
  uint64_t done = 0;
  uint32_t bytesRead = 0;
  uint8_t key[16];
  uint8_t hashed[16];
  KestrineContentKeyHash hash;

  snprintf(path, sizeof path, "%s/expected/%s", folder, expected->bytesFile);
  expectedBytes = ReadPlainFile(path, &expectedSize);
  CHECK(expectedBytes != NULL);
  if (expectedBytes == NULL) return;
  CHECK(kestrine_open_file(storage, expected->storageName, &file));
  if (file == NULL) {
    free(expectedBytes);
    return;
  }
  CHECK(kestrine_get_file_size(file, &size) == KESTRINE_ERROR_SUCCESS);
  CHECK(size == expectedSize);
  bytes = malloc(expectedSize + 1);
  kestrine_content_key_hash_start(&hash);
  while (bytes != NULL && done < size) {
    uint32_t piece = (uint32_t)(size - done < 7777 ? size - done : 7777);
    if (!kestrine_read_file(file, bytes + done, piece, &bytesRead) || bytesRead != piece) {
      CHECK(!"a read failed or came short");
      break;
    }
    kestrine_content_key_hash_update(&hash, bytes + done, piece);
    done += piece;
  }
  CHECK(done == expectedSize);
  CHECK(bytes != NULL && memcmp(bytes, expectedBytes, expectedSize) == 0);
  /* At the end a read gives nothing. */
  CHECK(bytes != NULL && kestrine_read_file(file, bytes, 1, &bytesRead) && bytesRead == 0);
  kestrine_content_key_hash_finish(&hash, hashed);
  CHECK(kestrine_get_file_content_key(file, key));
  CHECK(memcmp(key, hashed, sizeof key) == 0);
  CHECK(kestrine_close_file(file));
  free(bytes);
  free(expectedBytes);
}

int main(int argc, char** argv) {
  char game[1024];
  KestrineOpenArgs args;
  KestrineStorageInfo info;
  KestrineStorage* storage;
  KestrineFile* file = NULL;
  size_t i;
  if (argc != 2) {
    fputs("Usage: c_api_test FOLDER\n", stderr);
    return 2;
  }
  snprintf(game, sizeof game, "%s/game", argv[1]);
  CheckVersionAndErrorTexts();
  CheckBadCalls(game);

  memset(&args, 0, sizeof args);
  args.size = sizeof args;
  storage = kestrine_open_storage(game, &args);
  if (storage == NULL) {
    fprintf(stderr, "cannot open %s: error %u (%s)\n", game, (unsigned)kestrine_get_last_error(),
            kestrine_error_text(kestrine_get_last_error()));
    return 1;
  }
  memset(&info, 0, sizeof info);
  info.size = sizeof info;
  CHECK(kestrine_get_storage_info(storage, &info));
  CHECK(info.rootFormat == KESTRINE_ROOT_PLAIN_TEXT);
  CHECK(info.namedFiles == FILE_COUNT + 2); /* and the manifests ENCODING and ROOT */
  CHECK(info.online == 0);

  CheckSearch(storage);
  for (i = 0; i < FILE_COUNT; ++i) CheckFile(storage, argv[1], &kFiles[i]);
  CHECK(!kestrine_open_file(storage, "SD\\No\\Such.file", &file));
  CHECK(kestrine_get_last_error() == KESTRINE_ERROR_FILE_NOT_FOUND);
  CHECK(kestrine_close_storage(storage));

  if (failures != 0) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  puts("c_api_test: all checks passed");
  return 0;
}
