// Writes the fuzz targets' seed inputs: configurations built by the tests'
// helpers (written by the image writer and the editor's save), frames and
// replies as stations send them, streams built by the server's builder and
// by hand, and the demo's files. Run once by hand when a target's input
// changes:
//
//   build/fuzz/bin/fuzz_seeds fuzz/corpus
//
// Each target's seeds go to a folder of its name; nothing else is written.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "csv.h"
#include "da1_stream.h"
#include "dit_codes.h"
#include "dit_writer.h"
#include "doc_file.h"
#include "editor_fakes.h"
#include "frames.h"
#include "sample_configuration.h"
#include "soe_decoder.h"
#include "tavex_array.h"

namespace {

using namespace vrt;
using Bytes = std::vector<std::uint8_t>;

std::filesystem::path outputRoot;
int written = 0;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::filesystem::path folder = outputRoot / target;
  std::filesystem::create_directories(folder);
  std::ofstream file(folder / name, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::printf("%-18s %-32s %6zu bytes\n", target.c_str(), name.c_str(), bytes.size());
  ++written;
}

void WriteText(const std::string& target, const std::string& name, const std::string& text) {
  Write(target, name, Bytes(text.begin(), text.end()));
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string ReadSource(const std::string& path) {
  std::ifstream file(std::string(VRT_SOURCE_DIR) + "/" + path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (text.str().empty()) std::fprintf(stderr, "fuzz_seeds: cannot read %s\n", path.c_str());
  return text.str();
}

// A 15-byte event reply: station, 12, command, byte 3, queued, year byte,
// month, day, hour, minute, second, milliseconds and event word high first.
Bytes EventReply(std::uint8_t station, std::uint8_t command, std::uint16_t word, std::uint8_t second = 9,
                 std::uint16_t milliseconds = 250) {
  return {station, 12, command, 0x11, 2, 24, 5, 1, 8, 0, second,
          static_cast<std::uint8_t>(milliseconds >> 8), static_cast<std::uint8_t>(milliseconds & 0xFF),
          static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF)};
}

// A data reply to a read of `words` registers from `start`, counting values.
Bytes DataReply(std::uint8_t station, std::uint16_t start, std::uint8_t words) {
  Bytes reply = {station, static_cast<std::uint8_t>(3 + 2 * words), 0x65, static_cast<std::uint8_t>(start >> 8),
                 static_cast<std::uint8_t>(start & 0xFF), words};
  for (int i = 0; i < words; ++i) {
    reply.push_back(0x10);
    reply.push_back(static_cast<std::uint8_t>(i * 7));
  }
  return reply;
}

Bytes LengthPrefixed(const Bytes& bytes) { return Join({Bytes{static_cast<std::uint8_t>(bytes.size())}, bytes}); }

void Images() {
  Write("dit_image", "sample-1x1x1.vrt", testing::SampleImage(1, 1, 1));
  Write("dit_image", "sample-2x1x1.vrt", testing::SampleImage(2, 1, 1));
  // The older format, as an earlier editor saved it.
  Bytes older = testing::SampleImage(1, 2, 1);
  const std::uint32_t version = kDitVersionPrevious;
  std::memcpy(older.data() + kPreambleSize + offsetof(DitHeader, formatVersion), &version, 4);
  Write("dit_image", "sample-format278.vrt", older);

  // A recorder and a station with exceptions, as a mapping looks while the
  // driver runs: a client has written two registers.
  DitConfiguration configuration;
  DitDeviceSource recorder = testing::SampleDevice(
      "REC7", 7,
      {testing::SamplePollRecord(0, 14, kDataUnsigned, 0, kPollKindEvent),
       testing::SamplePollRecord(32, 2, kDataDigital, kExceptionDigital)});
  recorder.record.hardwareType = kHardwareEVR420;
  DitDeviceSource station =
      testing::SampleDevice("D5", 5, {testing::SamplePollRecord(0, 4, kDataSigned32, kExceptionAnalog)});
  station.record.backupStation = 6;
  configuration.channels.push_back(testing::SampleChannel(0, {recorder, station}));
  Bytes mapped = WriteDitImage(configuration, 1700000000).bytes;
  DitImage image(mapped.data(), mapped.size());
  std::uint16_t flagSize = 0;
  std::uint8_t* flags = image.Area(2, kWriteFlagArea, &flagSize);
  std::memset(flags, 0xFF, 4);
  image.Runtime(2)->pendingWrites = 32;
  Write("dit_image", "mapped-recorder-and-writes.vrt", mapped);
  // Found by fuzzing (kept as regressions): a channel record over the
  // header, which the driver's frame counter would have turned into another
  // channel count.
  Bytes overlapping = testing::SampleImage(2, 1, 1);
  const std::uint32_t overHeader = 0;
  const DitHeader& sampleHeader = *reinterpret_cast<const DitHeader*>(overlapping.data() + kPreambleSize);
  std::memcpy(overlapping.data() + kPreambleSize + sampleHeader.channelTableOffset + 4, &overHeader, 4);
  Write("dit_image", "regression-channel-over-header.vrt", overlapping);

  editor::testing::Editor first;
  editor::testing::BuildSample(first.doc, first.reporter, 1, 1, 2);
  Write("editor_load", "editor-1x1x2.vrt", editor::BuildImage(first.doc, 1796713200).bytes);
  editor::testing::Editor second;
  editor::testing::BuildSample(second.doc, second.reporter, 2, 1, 1);
  Write("editor_load", "editor-2x1x1.vrt", editor::BuildImage(second.doc, 1796713200).bytes);
  Write("editor_load", "sample-format278.vrt", older);

  // The same configurations as CSV (the separator byte first: 0 comma,
  // 1 semicolon), and the demo's plant.
  WriteText("csv_import", "demo-plant.csv", std::string(1, '\0') + ReadSource("demo/plant.csv"));
  editor::testing::Editor exporter;
  editor::testing::BuildSample(exporter.doc, exporter.reporter, 1, 2, 2);
  WriteText("csv_import", "editor-1x2x2-semicolon.csv",
            std::string(1, '\1') + *editor::ExportCsvText(exporter.doc, ';', editor::testing::FixedClock().local));
}

void Frames() {
  auto header = [](std::uint8_t station, std::uint8_t command, std::uint16_t start, std::uint16_t valueSize) {
    return Bytes{station, command, static_cast<std::uint8_t>(start & 0xFF), static_cast<std::uint8_t>(start >> 8),
                 static_cast<std::uint8_t>(valueSize & 0xFF), static_cast<std::uint8_t>(valueSize >> 8)};
  };
  Write("frames", "data-reply.bin", Join({header(5, 0x64, 0x12C, 4), DataReply(5, 0x12C, 2)}));
  Write("frames", "data-nak.bin", Join({header(5, 0x64, 0, 16), Bytes{5, 1, 30, 0x64}}));
  Write("frames", "event-reply.bin", Join({header(7, 0x0F, 0, 28), EventReply(7, 0x0F, 33)}));
  Write("frames", "toravine-reply.bin", Join({header(9, 0x56, 0, 28), EventReply(9, 0x56, 0x8005)}));

  // Options byte, then replies for REC7 (0), TORA'9 (1), SMALL3 (2).
  Write("soe_decoder", "recorder-events.bin",
        Join({Bytes{2}, Bytes{0}, LengthPrefixed(EventReply(7, 0x0F, 33)), Bytes{0},
              LengthPrefixed(EventReply(7, 0x0F, 0x8022, 10)), Bytes{0}, LengthPrefixed(EventReply(7, 0x0F, 9402)),
              Bytes{0}, LengthPrefixed(EventReply(7, 0x0F, 0))}));
  // Found by fuzzing: code 0 with the state bit set.
  Write("soe_decoder", "regression-code-zero.bin",
        Join({Bytes{0}, Bytes{0}, LengthPrefixed(EventReply(7, 0x0F, 0x8000))}));
  Write("soe_decoder", "toravine-and-small.bin",
        Join({Bytes{1}, Bytes{5}, LengthPrefixed(EventReply(9, 0x56, 17)), Bytes{2},
              LengthPrefixed(EventReply(3, 0x0F, 33)), Bytes{8}, LengthPrefixed(EventReply(7, 0x0F, 65, 61))}));

  // Steps: 4 a cycle (the first read goes out), then 0 a cycle with the
  // reply to the request in flight.
  Bytes steps = {4};
  for (const Bytes& reply : {DataReply(5, 0, 8), DataReply(5, 10, 4), DataReply(5, 20, 4), DataReply(5, 30, 8),
                             DataReply(5, 40, 8), DataReply(5, 50, 8)}) {
    steps.push_back(0);
    const Bytes prefixed = LengthPrefixed(reply);
    steps.insert(steps.end(), prefixed.begin(), prefixed.end());
  }
  steps.insert(steps.end(), {4, 0});
  const Bytes event = LengthPrefixed(EventReply(7, 0x0F, 33));
  steps.insert(steps.end(), event.begin(), event.end());
  Write("poll_reply", "reads-in-order.bin", steps);
  // A client writes a word and a masked word, both go out and are answered.
  Write("poll_reply", "client-writes.bin",
        Bytes{6, 0, 1, 1, 0x34, 0x12, 0, 4, 0, 3, 5, 0x67, 0, 1, 1, 6, 2, 2, 0, 0x0F, 0x00, 0xFF, 0x00, 0, 4, 0, 3, 5,
              0x67, 0, 20, 1, 5, 0x10, 0x00, 7, 4});

  // Found by fuzzing: a client writes all 200 registers of the long record
  // (6) as whole words; the run must go out in frames that fit.
  Write("poll_reply", "regression-long-write-run.bin", Bytes{6, 6, 0, 1, 0x34, 0x12, 199, 4, 4, 4});

  // Card arrays: the handle byte, then a received frame as its array.
  const Bytes reply = DataReply(5, 0x12C, 2);
  Bytes array = {1};
  for (std::int32_t element : ReceiveArrayFor(reply.data(), reply.size())) {
    const auto bits = static_cast<std::uint32_t>(element);
    for (int k = 0; k < 4; ++k) array.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  Write("tavex_array", "received-data-reply.bin", array);
  Write("tavex_array", "frame-bytes.bin", Join({Bytes{2}, EventReply(7, 0x0F, 33)}));

  // The card server's stream: pieces as TCP hands them over.
  Write("frame_assembler", "pieces.bin",
        Join({TextBytes("127.0.0.1:5821\n"), Bytes{4, 0x05, 0x03, 0x65, 0x00}, Bytes{5, 0x10, 0x01, 0x09, 0x01, 0x66},
              Bytes{1, 0xAA}, Bytes{3, 0x07, 0x02, 0x0F}, Bytes{255}, LengthPrefixed(EventReply(7, 0x0F, 33))}));
  Bytes longFrame = {0x07, 254};
  longFrame.insert(longFrame.end(), 150, 0x42);
  Bytes tail(105, 0x42);
  Write("frame_assembler", "long-frame.bin",
        Join({TextBytes("rack-7.plant:70\n"), LengthPrefixed(longFrame), LengthPrefixed(tail),
              LengthPrefixed(Bytes{0x08, 0x00, 0x65})}));
}

void Settings() {
  SoeEventRecord event{2005, 3, 0, 7, 14, 5, 9, 123, 33, 34, 0, 1, 0, 1};
  Bytes record(sizeof event);
  std::memcpy(record.data(), &event, sizeof event);
  Write("logging_settings", "csv-and-database.ini",
        Join({TextBytes("PUMPS\n"), record,
              TextBytes("[LOGGING]\r\nLogging_enabled=1\r\nLOGDATA_PATH=.\\LOGDATA\r\nDate_format=0        ; 1: "
                        "day/month/year\r\nMSec_included=1\r\nODBC_enabled=1\r\nDSN=VRTEVENTS\r\nUID=op\r\nPWD=pw\r\n"
                        "ODBC_debug=1\r\n")}));
  Write("logging_settings", "csv-only.ini",
        Join({TextBytes("O'HARA\n"), record, TextBytes("[logging]\nlogging_enabled = 1\nDate_format=1\n")}));
}

void Simulator() {
  WriteText("json", "demo-network.json", ReadSource("demo/network.json"));
  WriteText("json", "example-network.json", ReadSource("sim/example-network.json"));
  WriteText("json", "escapes.json", "[\"\\u00e9\\ud83d\\ude00\\n\", -0.5e-3, 12345678901234567890, {\"a\": null}]");
  WriteText("network_file", "demo-network.json", ReadSource("demo/network.json"));
  WriteText("network_file", "example-network.json", ReadSource("sim/example-network.json"));
  WriteText("sim_control", "session.txt",
            "get 1 5 0 4\nset 1 5 0 1234 0x10\nevent 1 7 35 1 now\nfault 1 5 nak 30\nfault 1 * noreply 2\nfaults\n"
            "counters 1\nlog 2\nevents 1 7\nclock 1 7 2024-05-01 08:00:00.500\nbaud 3 9600\nclearfaults\nquit\n");
  WriteText("sim_control", "faults.txt",
            "event 1 7 36 1 raw 2003 13 0 24 60 60 1000\nevent 3 12 9402 0 2024-01-02T03:00:00\n"
            "fault 1 7 wronglength 3\nfault 2 6 wrongaddress\nfault 3 * delay 250 2\nfault 3 11 wrongcommand\n"
            "fault 1 5 wrongstation\nfault 1 5 lostreply\nfault 2 * drop\nclearevents 1 7\nstations\nhelp\n"
            "clearlog\nshutdown\n");
}

void Points() {
  // Value kind (0 analog, 1 digital, 2 text, 3 from the address), a
  // signal-conditioning code for the options, then address, signal name,
  // options and device name.
  WriteText("nio_address", "analog.txt", std::string("\0\x11", 2) + "PUMP1:DIT:120\nLIN\n0:4095\nPUMP1\n");
  WriteText("nio_address", "digital.txt", std::string("\1\x0F", 2) + "VALVE2:DIT:1:19\n4maS\n100:250\nvalve2\n");
  WriteText("nio_address", "from-address.txt",
            std::string("\3\x10", 2) + "pump1 d 120\n16SQ\n-5:65530\nABCDEFGHIJK\n");
  // Found by fuzzing: range options whose span overflows 32 bits.
  WriteText("nio_address", "regression-wide-options.txt",
            std::string("\0\x0F", 2) + "PUMP1:DIT:120\nLIN\n99999999:-2147483648\nPUMP1\n");
  WriteText("nio_address", "event-and-text.txt", std::string("\2\0", 2) + "PUMP1,EVENT,2\nNONE\n12345678:9\nTEXTDEV\n");

  // Flags (1 in a group, 2 the defaults follow), the ID, then the defaults.
  WriteText("opc_item_id", "analog.txt", "\1PUMP1:DIT:120|LIN,0.00,100,,degC\n");
  WriteText("opc_item_id", "digital.txt", "\1PUMP1:DIT:120:3|NONE,Disengaged,Engaged!!\n");
  WriteText("opc_item_id", "regression-wide-options.txt", "\1PUMP1:DIT:120|NONE,0,100,99999999:-2147483648\n");
  WriteText("opc_item_id", "text.txt", std::string(1, '\0') + "TEXTDEV:DIT:0$16\n");
  WriteText("opc_item_id", "defaults.txt", "\3VALVE2:DIT:20|,-50.125\n12BN\nStopped\n500.0\n0:100\n32\n");

  // Streams: the flag byte (1 time stamps, 2 16-byte VARIANTs), then the
  // stream as the server builds it.
  for (const std::uint8_t flags : {0, 1, 2, 3}) {
    const bool withTime = (flags & 1) != 0;
    const std::size_t variantSize = (flags & 2) ? 16 : 24;
    std::vector<opc::StreamItem> items(2);
    items[0].clientHandle = 7;
    items[0].quality = 192;
    items[0].timeStamp = 0x01DA9B6C12345678ull;
    items[0].variant.assign(variantSize, 0);
    items[0].variant[0] = 4;  // VT_R4
    items[1].clientHandle = 8;
    items[1].quality = 24;
    items[1].variant.assign(variantSize, 0);
    items[1].variant[0] = 8;  // VT_BSTR
    items[1].hasText = true;
    items[1].text = u"TURBINE1";
    Write("opc_stream", "built-" + std::to_string(flags) + ".bin",
          Join({Bytes{flags}, opc::BuildDataStream({3, 0}, items, withTime, variantSize)}));
  }
  // By hand: one boolean item, no time stamps, 24-byte VARIANT, and four
  // spare bytes after the stream's end.
  Bytes stream = {0, 56, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  1, 0, 0, 0, 32, 0, 0, 0, 192, 0, 0, 0, 11, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  stream.resize(1 + 56 + 4, 0xEE);
  Write("opc_stream", "by-hand.bin", stream);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds OUTPUT-FOLDER\n");
    return 2;
  }
  outputRoot = argv[1];
  Images();
  Frames();
  Settings();
  Simulator();
  Points();
  std::printf("%d seeds written under %s\n", written, outputRoot.string().c_str());
  return 0;
}
