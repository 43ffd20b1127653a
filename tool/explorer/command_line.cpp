#include "command_line.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "kestrine.h"

namespace kestrine::explorer {

const char* const kUsage =
    "Usage: kestrine-casc list [OPTIONS] STORAGE [MASK]\n"
    "       kestrine-casc cat [OPTIONS] STORAGE NAME\n"
    "       kestrine-casc extract [OPTIONS] STORAGE MASK OUTDIR\n"
    "       kestrine-casc info [OPTIONS] STORAGE\n"
    "Try 'kestrine-casc --help' for more.\n";

namespace {

constexpr const char* kHelp =
    "kestrine-casc: look inside a CASC game storage.\n"
    "\n"
    "Usage: kestrine-casc list [OPTIONS] STORAGE [MASK]\n"
    "       kestrine-casc cat [OPTIONS] STORAGE NAME\n"
    "       kestrine-casc extract [OPTIONS] STORAGE MASK OUTDIR\n"
    "       kestrine-casc info [OPTIONS] STORAGE\n"
    "\n"
    "Commands:\n"
    "  list     one line per file matching MASK (default \"*\"): name, size,\n"
    "           name type (0 full, 1 file id, 2 CKey, 3 EKey) and file id,\n"
    "           separated by tabs; \"-\" for an unknown size or no file id\n"
    "  cat      the decoded content of the file NAME on standard output\n"
    "  extract  every file matching MASK, written below OUTDIR\n"
    "  info     what kind of storage STORAGE is, one \"key: value\" line each\n"
    "\n"
    "STORAGE is an installation folder or a build file inside one, optionally\n"
    "followed by \"*\" and a product code, region or build key. With --online\n"
    "it is CACHE*SERVICE*PRODUCT[*REGION]: a cache folder (made when missing),\n"
    "the patch service (\"host:port\", \"http://host:port\" or\n"
    "\"ribbit://host:port\") and the product. MASK may hold\n"
    "the wildcards \"*\" and \"?\". NAME is a path (\"\\\" or \"/\", any case), a\n"
    "file id name (\"File123.dat\", \"FILE0000007B.dat\") or 32 hex digits of a\n"
    "CKey or EKey.\n"
    "\n"
    "Options:\n"
    "  --locale CODE     a locale code (enUS, deDE, ...) or a hex mask (0x200)\n"
    "  --product CODE    the product to open in a multi-product installation\n"
    "  --list-file FILE  a list file naming files by hash or by file id (list,\n"
    "                    extract)\n"
    "  --key NAME=KEY    a frame-decryption key: NAME 16 hex digits, KEY 32;\n"
    "                    may be repeated\n"
    "  --keys FILE       keys from a file, one \"NAME KEY\" line each\n"
    "  --online          read the storage from its content servers, through\n"
    "                    the cache folder that STORAGE names first\n"
    "  --online-fallback fetch manifests that a local installation lacks from\n"
    "                    its content servers\n"
    "  --help            this text\n"
    "  --version         the version\n"
    "\n"
    "Exit status: 0 success, 1 a storage or file failed, 2 a usage error.\n";

// The option values as typed; checked once parsing is done.
struct RawOptions {
  std::string locale;
  std::vector<std::string> keys;
  std::vector<std::string> keysFiles;
};

struct Subcommands {
  CLI::App* list;
  CLI::App* cat;
  CLI::App* extract;
  CLI::App* info;
};

void AddOptions(CLI::App& app, CommandLine& line, RawOptions& raw) {
  app.add_option("--locale", raw.locale);
  app.add_option("--product", line.options.productCode);
  app.add_option("--list-file", line.options.listFile);
  app.add_option("--key", raw.keys)->allow_extra_args(false);
  app.add_option("--keys", raw.keysFiles)->allow_extra_args(false);
  app.add_flag("--online", line.options.online);
  app.add_flag("--online-fallback", line.options.onlineFallback);
}

CLI::App* AddCommand(CLI::App& app, const char* name) {
  CLI::App* command = app.add_subcommand(name);
  command->fallthrough();  // options after the command belong to the program
  command->set_help_flag();
  return command;
}

Subcommands AddCommands(CLI::App& app, CommandLine& line) {
  Subcommands commands{AddCommand(app, "list"), AddCommand(app, "cat"), AddCommand(app, "extract"),
                       AddCommand(app, "info")};
  commands.list->add_option("STORAGE", line.storage)->required();
  commands.list->add_option("MASK", line.mask);
  commands.cat->add_option("STORAGE", line.storage)->required();
  commands.cat->add_option("NAME", line.name)->required();
  commands.extract->add_option("STORAGE", line.storage)->required();
  commands.extract->add_option("MASK", line.mask)->required();
  commands.extract->add_option("OUTDIR", line.outputFolder)->required();
  commands.info->add_option("STORAGE", line.storage)->required();
  return commands;
}

Command ChosenCommand(const Subcommands& commands) {
  if (commands.cat->parsed()) return Command::kCat;
  if (commands.extract->parsed()) return Command::kExtract;
  if (commands.info->parsed()) return Command::kInfo;
  return Command::kList;
}

ParsedCommandLine UsageError(const std::string& message) {
  std::fprintf(stderr, "kestrine-casc: %s\n%s", message.c_str(), kUsage);
  return {std::nullopt, 2};
}

// The typed option values; a message when one is malformed.
std::string CheckOptions(const RawOptions& raw, StorageOptions& options) {
  if (!raw.locale.empty()) {
    const std::optional<uint32_t> mask = ParseLocale(raw.locale);
    if (!mask) return "--locale " + raw.locale + ": not a locale code or a hex mask";
    options.localeMask = *mask;
  }
  for (const std::string& text : raw.keys) {
    const std::optional<DecryptionKey> key = ParseKeyAssignment(text);
    if (!key) return "--key " + text + ": not NAME=KEY (16 and 32 hex digits)";
    options.keys.push_back(*key);
  }
  for (const std::string& path : raw.keysFiles) {
    KeysFile file = ReadKeysFile(path);
    if (!file.error.empty()) return "--keys " + path + ": " + file.error;
    options.keys.insert(options.keys.end(), file.keys.begin(), file.keys.end());
  }
  return {};
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  RawOptions raw;
  CLI::App app("kestrine-casc", "kestrine-casc");
  app.set_help_flag("-h,--help");
  app.set_version_flag("--version", std::string("kestrine-casc ") + LibraryVersionString());
  app.require_subcommand(1);
  AddOptions(app, line, raw);
  const Subcommands commands = AddCommands(app, line);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(kHelp, stdout);
    return {std::nullopt, 0};
  } catch (const CLI::CallForVersion& version) {
    std::printf("%s\n", version.what());
    return {std::nullopt, 0};
  } catch (const CLI::ParseError& error) {
    return UsageError(error.what());
  }
  if (const std::string message = CheckOptions(raw, line.options); !message.empty()) {
    return UsageError(message);
  }
  line.command = ChosenCommand(commands);
  return {std::move(line), 0};
}

}  // namespace kestrine::explorer
