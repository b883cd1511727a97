#include "vrtcfg_cli.h"

#include <cstdio>
#include <optional>

#include "csv.h"
#include "did_doc.h"
#include "doc_file.h"
#include "document_check.h"
#include "editor_messages.h"
#include "editor_services.h"
#include "file_io.h"
#include "image_dump.h"
#include "dit_codes.h"
#include "dit_image.h"

namespace vrt::vrtcfg {

using namespace vrt::editor;

namespace {

constexpr char kUsage[] =
    "usage:\n"
    "  vrtcfg import IN.CSV OUT.VRT [--errors PATH] [--separator C]\n"
    "      import a CSV configuration and save it as a configuration file; each\n"
    "      error goes to standard error and to the error file (VRTDIDW.ERR beside\n"
    "      OUT.VRT unless --errors names another)\n"
    "  vrtcfg export IN.VRT OUT.CSV [--separator C]\n"
    "      load a configuration file and export it as CSV\n"
    "  vrtcfg check FILE [--errors PATH] [--separator C]\n"
    "      load a .VRT or import a .CSV into memory and report every problem\n"
    "  vrtcfg dump IN.VRT\n"
    "      list the header, channels, devices and poll records with their offsets\n"
    "      and area sizes\n"
    "  vrtcfg backup-port FILE.VRT CHANNEL PORT\n"
    "      give channel CHANNEL (1-based) a backup link on port PORT (1..32, or\n"
    "      None), in place; the editor itself never stores a backup port, so\n"
    "      the next save from the editor drops it again\n"
    "  --separator C   the CSV field separator (default \",\")\n"
    "exit status: 0 done, 1 errors or problems found, 2 the command failed\n";

// Messages on one line: the editor's texts may hold line breaks for boxes.
std::string OneLine(const std::string& text) {
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || text[i] == '\r') {
      if (!line.empty() && line.back() != ' ') line += ' ';
      continue;
    }
    line += text[i];
  }
  return line;
}

class ConsoleUi : public EditorUserInterface {
 public:
  explicit ConsoleUi(std::ostream& err) : err_(err) {}

  void ShowMessage(const std::string& text, const std::string& title, MessageIcon) override {
    err_ << "vrtcfg: ";
    if (title != kProgramTitle) err_ << title << ": ";
    err_ << OneLine(text) << "\n";
    ++shown_;
  }

  // Questions get the answer that changes nothing.
  Answer Ask(const std::string& text, const std::string&, Buttons buttons, MessageIcon) override {
    err_ << "vrtcfg: " << OneLine(text) << " (answered No)\n";
    return buttons == Buttons::kOkCancel ? Answer::kCancel : Answer::kNo;
  }

  int Shown() const { return shown_; }

 private:
  std::ostream& err_;
  int shown_ = 0;
};

// The import's error lines: shown on a stream and, when a path is given,
// written to the error file. An error that reached the stream is counted
// even when the file could not be written, and that failure is told once.
class EchoingErrorSink : public ImportErrorSink {
 public:
  EchoingErrorSink(std::ostream& echo, std::ostream& err, std::optional<std::string> path, std::string streamName)
      : echo_(echo), err_(err), streamName_(std::move(streamName)) {
    if (path) file_.emplace(*path);
  }

  bool AppendLine(const std::string& line, bool first) override {
    echo_ << OneLine(line) << "\n";
    if (file_ && !file_->AppendLine(line, first || !fileStarted_)) {
      if (!fileFailed_) err_ << "vrtcfg: cannot write the error file " << file_->Name() << "\n";
      fileFailed_ = true;
    } else if (file_) {
      fileStarted_ = true;
    }
    return true;
  }

  std::string Name() const override { return file_ ? file_->Name() : streamName_; }
  bool FileFailed() const { return fileFailed_; }

 private:
  std::ostream& echo_;
  std::ostream& err_;
  std::string streamName_;
  std::optional<ErrorFile> file_;
  bool fileStarted_ = false;
  bool fileFailed_ = false;
};

struct Options {
  std::vector<std::string> positional;
  std::optional<std::string> errors;
  char separator = ',';
  bool help = false;
};

std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, std::ostream& err) {
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--errors" || argument == "--separator") {
      if (i + 1 >= arguments.size()) {
        err << "vrtcfg: " << argument << " needs a value\n";
        return std::nullopt;
      }
      const std::string& value = arguments[++i];
      if (argument == "--errors") {
        options.errors = value;
      } else if (value.size() != 1 || !UsableSeparator(value[0])) {
        err << "vrtcfg: --separator needs one character that can separate fields (not a letter, a digit, a blank, "
               "a double quote, \"[\" or \"!\")\n";
        return std::nullopt;
      } else {
        options.separator = value[0];
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      err << "vrtcfg: unknown option " << argument << "\n";
      return std::nullopt;
    } else {
      options.positional.push_back(argument);
    }
  }
  return options;
}

bool Readable(const std::string& path, std::ostream& err) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    err << "vrtcfg: cannot read " << path << " (missing, or not readable)\n";
    return false;
  }
  std::fclose(file);
  return true;
}

bool HasKind(const std::string& path, FileKind kind, const char* expected, std::ostream& err) {
  if (KindOfPath(path) == kind) return true;
  err << "vrtcfg: " << path << ": " << msg::kInvalidFileType << " (expected a ." << expected << " file)\n";
  return false;
}

std::string Counts(const CDidDoc& doc) {
  return std::to_string(doc.ChannelCount()) + " channels, " + std::to_string(doc.DeviceTotal()) + " devices, " +
         std::to_string(doc.PollRecordTotal()) + " poll records";
}

struct Session {
  explicit Session(std::ostream& err) : ui(err), reporter(ui), services{ui, settings, clock, reporter} {}
  ConsoleUi ui;
  NoRegistrySettings settings;
  SystemClock clock;
  Reporter reporter;
  EditorServices services;
  CDidDoc doc;
};

int Import(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 3) {
    err << "vrtcfg: import needs IN.CSV and OUT.VRT\n" << kUsage;
    return kExitFailed;
  }
  const std::string& input = options.positional[1];
  const std::string& output = options.positional[2];
  if (!HasKind(input, FileKind::kCsv, "CSV", err) || !HasKind(output, FileKind::kConfiguration, "VRT", err) ||
      !Readable(input, err)) {
    return kExitFailed;
  }
  Session session(err);
  EchoingErrorSink errors(err, err, options.errors.value_or(DirectoryOf(output) + "VRTDIDW.ERR"), "standard error");
  const CsvImport imported = ImportCsv(session.doc, input, options.separator, errors, session.services);
  if (!imported.opened) return kExitFailed;
  if (!SaveConfiguration(session.doc, output, session.services)) return kExitFailed;
  out << "Saved " << output << ": " << Counts(session.doc) << "\n";
  return imported.errors > 0 ? kExitProblems : kExitDone;
}

int Export(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 3) {
    err << "vrtcfg: export needs IN.VRT and OUT.CSV\n" << kUsage;
    return kExitFailed;
  }
  const std::string& input = options.positional[1];
  const std::string& output = options.positional[2];
  if (!HasKind(input, FileKind::kConfiguration, "VRT", err) || !HasKind(output, FileKind::kCsv, "CSV", err) ||
      !Readable(input, err)) {
    return kExitFailed;
  }
  Session session(err);
  if (!LoadConfiguration(session.doc, input, session.services)) return kExitFailed;
  if (session.doc.Channels().empty()) {
    err << "vrtcfg: " << input << " holds no channel; nothing was written\n";
    return kExitFailed;
  }
  if (!ExportCsv(session.doc, output, options.separator, session.services)) return kExitFailed;
  out << "Exported " << output << ": " << Counts(session.doc) << "\n";
  return kExitDone;
}

int Check(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 2) {
    err << "vrtcfg: check needs one FILE\n" << kUsage;
    return kExitFailed;
  }
  const std::string& input = options.positional[1];
  const FileKind kind = KindOfPath(input);
  if (kind == FileKind::kOther) {
    err << "vrtcfg: " << input << ": " << msg::kInvalidFileType << " (expected a .VRT or a .CSV file)\n";
    return kExitFailed;
  }
  if (!Readable(input, err)) return kExitFailed;
  Session session(err);
  int problems = 0;
  if (kind == FileKind::kConfiguration) {
    const bool loaded = LoadConfiguration(session.doc, input, session.services);
    problems += session.ui.Shown();
    if (!loaded) {
      out << input << ": " << problems << " problems found\n";
      return kExitProblems;
    }
  } else {
    EchoingErrorSink errors(out, err, options.errors, "standard output");
    const CsvImport imported = ImportCsv(session.doc, input, options.separator, errors, session.services);
    if (!imported.opened) return kExitFailed;
    problems += imported.errors;
  }
  for (const std::string& problem : CheckDocument(session.doc)) {
    out << OneLine(problem) << "\n";
    ++problems;
  }
  out << input << ": " << Counts(session.doc) << "; " << problems << " problems found\n";
  return problems > 0 ? kExitProblems : kExitDone;
}

int Dump(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 2) {
    err << "vrtcfg: dump needs IN.VRT\n" << kUsage;
    return kExitFailed;
  }
  const std::string& input = options.positional[1];
  if (!Readable(input, err)) return kExitFailed;
  std::vector<std::uint8_t> bytes;
  if (ReadWholeFile(input, kMaxConfigurationFileSize, bytes) != ReadStatus::kOk) {
    err << "vrtcfg: cannot read " << input << " (unreadable, or larger than any configuration)\n";
    return kExitFailed;
  }
  out << input << "\n";
  if (!DumpImage(std::move(bytes), out)) {
    err << "vrtcfg: " << input << ": parts of the file lie outside it (listed above)\n";
    return kExitProblems;
  }
  return kExitDone;
}

int BackupPort(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 4) {
    err << "vrtcfg: backup-port needs FILE.VRT, CHANNEL and PORT\n" << kUsage;
    return kExitFailed;
  }
  const std::string& file = options.positional[1];
  const int channelNumber = std::atoi(options.positional[2].c_str());
  const std::string& portText = options.positional[3];
  const int port = portText == "None" ? 0 : std::atoi(portText.c_str());
  if (port < 0 || port > kMaxPorts || (port == 0 && portText != "None")) {
    err << "vrtcfg: PORT must be 1.." << kMaxPorts << " or None\n";
    return kExitFailed;
  }
  if (!Readable(file, err)) return kExitFailed;
  std::vector<std::uint8_t> bytes;
  if (ReadWholeFile(file, kMaxConfigurationFileSize, bytes) != ReadStatus::kOk) {
    err << "vrtcfg: cannot read " << file << "\n";
    return kExitFailed;
  }
  DitImage image(bytes.data(), bytes.size());
  if (CheckImage(image, {32, 1024}) != ImageCheck::kGood) {
    err << "vrtcfg: " << file << " is not a valid configuration file\n";
    return kExitFailed;
  }
  DitChannel* channel = image.Channel(channelNumber - 1);
  if (channel == nullptr) {
    err << "vrtcfg: " << file << " has no channel " << options.positional[2] << "\n";
    return kExitFailed;
  }
  if (port != 0 && port - 1 == channel->primary.port) {
    err << "vrtcfg: port " << port << " is already the channel's primary port\n";
    return kExitFailed;
  }
  channel->backup.port = port == 0 ? kNoPort : static_cast<std::uint8_t>(port - 1);
  const std::string temporary = file + ".tmp";
  if (WriteWholeFile(temporary, bytes, FileMode::kBinary) != WriteStatus::kOk || !MoveFileOver(temporary, file)) {
    err << "vrtcfg: cannot write " << file << "\n";
    return kExitFailed;
  }
  out << file << ": channel " << channelNumber << " backup port " << portText << "\n";
  return kExitDone;
}

}  // namespace

int RunVrtcfg(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const std::optional<Options> options = ParseOptions(arguments, err);
  if (!options) return kExitFailed;
  if (options->help) {
    out << kUsage;
    return kExitDone;
  }
  if (options->positional.empty()) {
    err << kUsage;
    return kExitFailed;
  }
  const std::string& command = options->positional[0];
  if (command == "import") return Import(*options, out, err);
  if (command == "export") return Export(*options, out, err);
  if (command == "check") return Check(*options, out, err);
  if (command == "dump") return Dump(*options, out, err);
  if (command == "backup-port") return BackupPort(*options, out, err);
  err << "vrtcfg: unknown command " << command << "\n" << kUsage;
  return kExitFailed;
}

}  // namespace vrt::vrtcfg
