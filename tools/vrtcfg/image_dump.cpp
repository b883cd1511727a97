#include "image_dump.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "dit_codes.h"
#include "dit_image.h"

namespace vrt::vrtcfg {

namespace {

std::string CodeText(std::span<const CodeName> table, int code) {
  const char* name = CodeNameOf(table, code);
  return (name != nullptr ? std::string(name) : std::string("UNDEFINED")) + " (" + std::to_string(code) + ")";
}

std::string LockText(std::uint8_t value) {
  if (value >= 0x20 && value < 0x7F) return std::string("'") + static_cast<char>(value) + "'";
  return std::to_string(value);
}

// Seconds since 1970 as a UTC date and time, independent of the C library.
std::string UtcText(std::uint32_t seconds) {
  const std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  // Civil date from days since 1970-01-01.
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

std::string LinkText(const DitLink& link) {
  const unsigned portValue = ((static_cast<unsigned>(link.dataBits) >> 4) << 8) | link.port;
  std::string text = "port ";
  text += link.port == kNoPort ? std::string("none") : "COM" + std::to_string(link.port + 1) + ":";
  text += " (byte " + std::to_string(link.port) + ", value " + std::to_string(portValue) + ")";
  text += ", baud " + CodeText(kBaudRateCodes, link.baudRate);
  text += ", data bits " + CodeText(kDataBitsCodes, link.dataBits & 0x0F);
  text += ", stop bits " + CodeText(kStopBitsCodes, link.stopBits);
  text += ", parity " + CodeText(kParityCodes, link.parity);
  text += ", handshake " + CodeText(kHandshakeCodes, link.handshake);
  text += ", retries " + std::to_string(link.retries);
  text += ", reply timeout " + std::to_string(link.replyTimeout) + "/100 s";
  text += ", failure delay " + std::to_string(link.failureDelay) + "/100 s";
  return text;
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

std::size_t OffsetIn(const DitImage& image, const void* record) {
  return static_cast<std::size_t>(static_cast<const std::uint8_t*>(record) - image.Base()) - kPreambleSize;
}

}  // namespace

bool DumpImage(std::vector<std::uint8_t> bytes, std::ostream& out) {
  const DitImage image(bytes.data(), bytes.size());
  out << "File: " << bytes.size() << " bytes";
  if (bytes.size() >= 8) {
    out << ", preamble lengths " << U32At(bytes, 0) << " and " << U32At(bytes, 4);
  }
  out << "\n";
  const DitHeader* header = image.Header();
  if (header == nullptr) {
    out << "Header: outside the file (a header needs " << kImageHeaderEnd << " bytes)\n";
    return false;
  }
  bool complete = true;
  out << "Header at file offset " << kPreambleSize << ": format " << header->formatVersion << ", saved "
      << UtcText(header->saveTime) << " (" << header->saveTime << "), lock " << LockText(header->lockByte)
      << ", check " << LockText(header->checkByte) << ", flags " << +header->flags << ", cycle counter "
      << header->cycleCounter << "\n";
  out << "  channels " << +header->channelCount << " (record size " << header->channelRecordSize << "), devices "
      << +header->deviceCount << " (record size " << header->deviceRecordSize << "), poll records "
      << header->pollRecordCount << "\n";
  out << "  channel table at " << header->channelTableOffset << ", device table at " << header->deviceTableOffset
      << ", runtime table at " << header->runtimeTableOffset << " (offsets from the header)\n";

  for (int c = 0; c < header->channelCount; ++c) {
    const DitChannel* channel = image.Channel(c);
    if (channel == nullptr) {
      out << "Channel " << c + 1 << ": outside the file\n";
      complete = false;
      continue;
    }
    out << "Channel " << c + 1 << " at " << OffsetIn(image, channel) << ": devices " << channel->firstDevice
        << " + " << channel->deviceCount << ", poll records " << channel->firstPollRecord << " + "
        << channel->pollRecordCount << ", message enable " << +channel->messageEnable << ", option "
        << +channel->channelOption << ", active port " << +channel->activePort << "\n";
    out << "  primary: " << LinkText(channel->primary) << "\n";
    out << "  backup:  " << LinkText(channel->backup) << "\n";
    for (int d = channel->firstDevice; d < channel->firstDevice + channel->deviceCount; ++d) {
      const DitDevice* device = image.Device(d);
      if (device == nullptr) {
        out << "  Device " << d << ": outside the file or the device count\n";
        complete = false;
        continue;
      }
      out << "  Device " << d << " \"" << DeviceName(*device, header->formatVersion) << "\" at "
          << OffsetIn(image, device) << ": \"" << DeviceDescription(*device, header->formatVersion)
          << "\", hardware " << CodeText(kHardwareTypeCodes, device->hardwareType) << ", station "
          << device->activeStation << " (primary " << device->primaryStation << ", backup " << device->backupStation
          << "), queue head " << device->deviceOption << ", poll records " << device->firstPollRecord << " + "
          << device->pollRecordCount << "\n";
      for (int k = device->firstPollRecord; k < device->firstPollRecord + device->pollRecordCount; ++k) {
        const DitPollRuntime* runtime = image.Runtime(k);
        const DitPollRecord* record = image.PollRecord(k);
        if (runtime == nullptr || record == nullptr) {
          out << "    Poll record " << k << ": outside the file or the poll record count\n";
          complete = false;
          continue;
        }
        const char* kind = CodeNameOf(kPollKindCodes, PollKindOf(record->addressWord));
        out << "    Poll record " << k << " at " << runtime->recordOffset << ": "
            << (kind != nullptr ? kind : "UNDEFINED") << ":" << StartAddressOf(record->addressWord) << ", length "
            << record->length << ", data type " << CodeText(kDataTypeCodes, record->dataType) << ", exception "
            << CodeText(kExceptionTypeCodes, record->exceptionType) << ", poll time "
            << static_cast<std::int32_t>(record->pollTime) << "/100 s, access time "
            << static_cast<std::int32_t>(record->accessTime) << "/100 s, dead band " << record->deadBand << " ("
            << record->deadBandInteger << "), enabled " << +record->enabled << ", status " << record->status
            << ", device " << record->deviceIndex << "\n";
        out << "      runtime entry: poll countdown " << runtime->pollCountdown << ", access countdown "
            << runtime->accessCountdown << ", enabled " << +runtime->enabled << ", locks "
            << LockText(runtime->entryLock) << LockText(runtime->lockByte17) << "\n";
        out << "      areas:";
        for (int a = 1; a <= kAreaCount; ++a) {
          std::uint16_t size = 0;
          const bool inside = image.Area(k, a, &size) != nullptr;
          out << " " << a << " at " << record->areas[a - 1].offset << " size " << record->areas[a - 1].size;
          if (!inside) {
            out << " (outside the file)";
            complete = false;
          }
          out << (a < kAreaCount ? "," : "\n");
        }
      }
    }
  }
  return complete;
}

}  // namespace vrt::vrtcfg
