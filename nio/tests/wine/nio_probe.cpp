// A client of VRTSTSR.dll for the multi-process tests, linked to the library
// as clients are (it attaches when the program loads). It keeps up to eight
// points and reads one command per line, answering one line each:
//   point I ADDRESS KIND   nio_paddr into point I: "point STATUS KIND"
//   sig I NAME             nio_psig: "sig STATUS"
//   egu I LOW HIGH         the point's EGU range: "egu ok"
//   readex I               nio_readEx: "readex STATUS QUALITY R4 VALUE" or
//                          "readex STATUS QUALITY BOOL 0|-1" ("... EMPTY -"
//                          when nothing was stored)
//   sendex I VALUE         nio_sendEx with a VT_R8: "sendex STATUS"
//   read I                 nio_read of an analog point: "read STATUS VALUESTATUS VALUE"
//   daddr I                nio_daddr: "daddr TEXT"
//   resolution I           "resolution CHANNEL DEVICE RECORD" of the address record
//   enable OPTIONS         nio_enable_options: "enable RESULT"
//   on I KEY               nio_on with key bytes KEY,0,KEY,0: "on STATUS"
//   fetch MAX              nio_fetch: "fetch STATUS COUNT KEY..." (key bytes 0)
//   alive                  nio_get_ServerStatus: "alive RESULT FLAG TEXT"
//   exit
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "vrtstsr.h"
#include "vrtstsr_point.h"

namespace {

using Point = NioPoint;

void Answer(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace

int main() {
  Point points[8];
  std::string line;
  Answer("ready");
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    int i = 0;
    if (command != "enable" && command != "fetch" && command != "alive" && command != "exit") {
      words >> i;
      if (i < 0 || i >= 8) {
        Answer(command + " bad point");
        continue;
      }
    }
    Point& point = points[i];
    std::uint16_t status = 0xFFFF;
    if (command == "point") {
      std::string address;
      int kind = 1;
      words >> address >> kind;
      point = Point{};
      point.valueSpec.valueKind = static_cast<std::uint8_t>(kind);
      point.valueSpec.eguSpan = 100.0f;
      nio_paddr(&status, &point.block, &point.valueSpec, address.c_str());
      Answer("point " + std::to_string(status) + " " + std::to_string(point.valueSpec.valueKind));
    } else if (command == "sig") {
      std::string name;
      words >> name;
      nio_psig(&status, &point.block, &point.valueSpec, name.c_str());
      Answer("sig " + std::to_string(status));
    } else if (command == "egu") {
      float low = 0, high = 0;
      words >> low >> high;
      point.valueSpec.eguLow = low;
      point.valueSpec.eguSpan = high - low;
      Answer("egu ok");
    } else if (command == "readex") {
      VARIANT value;
      VariantInit(&value);
      FILETIME stamp{};
      std::uint16_t quality = 0;
      nio_readEx(&status, &point.block, &point.valueSpec, &stamp, &quality, 0, &value);
      std::string shown = value.vt == VT_R4     ? "R4 " + Number(value.fltVal)
                          : value.vt == VT_BOOL ? "BOOL " + std::to_string(value.boolVal)
                                                : "EMPTY -";
      Answer("readex " + std::to_string(status) + " " + std::to_string(quality) + " " + shown);
    } else if (command == "sendex") {
      double number = 0;
      words >> number;
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_R8;
      value.dblVal = number;
      nio_sendEx(&status, &point.block, &point.valueSpec, 0, 0, &value);
      Answer("sendex " + std::to_string(status));
    } else if (command == "read") {
      float number = 0;
      NioValue value{0, sizeof number, 0, &number};
      nio_read(&status, &point.block, &point.valueSpec, &value);
      Answer("read " + std::to_string(status) + " " + std::to_string(value.valueStatus) + " " + Number(number));
    } else if (command == "daddr") {
      char text[128] = {};
      nio_daddr(&status, &point.block, &point.valueSpec, text, sizeof text);
      Answer(std::string("daddr ") + text);
    } else if (command == "resolution") {
      const std::uint32_t word = point.address.resolution;
      Answer("resolution " + std::to_string((word >> 19) & 0x1F) + " " + std::to_string(word >> 24) + " " +
             std::to_string(word & 0xFFFF));
    } else if (command == "enable") {
      int options = 0;
      words >> options;
      Answer("enable " + std::to_string(nio_enable_options(nullptr, static_cast<std::uint8_t>(options))));
    } else if (command == "on") {
      int key = 0;
      words >> key;
      const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(key), 0, static_cast<std::uint8_t>(key), 0};
      nio_on(&status, &point.block, &point.valueSpec, bytes, 0);
      Answer("on " + std::to_string(status));
    } else if (command == "fetch") {
      int maximum = 0;
      words >> maximum;
      std::vector<std::uint8_t> keys(4 * static_cast<std::size_t>(maximum > 0 ? maximum : 1));
      int count = 0;
      nio_fetch(&status, nullptr, keys.data(), maximum, &count);
      std::string shown = "fetch " + std::to_string(status) + " " + std::to_string(count);
      for (int k = 0; k < count; ++k) shown += " " + std::to_string(keys[4 * static_cast<std::size_t>(k)]);
      Answer(shown);
    } else if (command == "alive") {
      char text[NIO_SERVER_TEXT_SIZE] = {};
      std::int32_t alive = -1;
      const int result = nio_get_ServerStatus(text, &alive);
      Answer("alive " + std::to_string(result) + " " + std::to_string(alive) + " " + text);
    } else if (command == "exit") {
      break;
    } else {
      Answer("unknown " + command);
    }
  }
  std::uint16_t status = 0;
  nio_CleanUp(&status);
  return 0;
}
