#include "driver_messages.h"

namespace vrt {

namespace {

struct DriverMessageRecord {
  std::uint16_t identifier;
  char text[81];
};

constexpr DriverMessageRecord kTable[10] = {
    {101, "Channel %d - Serial IO Allocation Failure %d"},
    {102, "Channel %d - MCB Allocation Failure"},
    {103, "Channel %d - Serial IO Initialization Failure %d"},
    {104, "Channel %d - Switched Port From %d To %d"},
    {105, "Channel %d Device %d - Switched Station From %d To %d"},
    {106, "Channel %d Device %d Poll Record %d - Failed Communication"},
    {107, "Channel %d Device %d Poll Record %d - Recovered Communication"},
    {108, "Modbus Exception Response Code %d Received:  Channel %d Device %d Poll Record %d"},
    {109, "??????"},
    {109, "??????"},
};

}  // namespace

const char* DriverMessageText(int identifier) {
  for (const DriverMessageRecord& record : kTable) {
    if (record.identifier == kMessageSpare) continue;
    if (record.identifier == identifier) return record.text;
  }
  return ">>?No Data?<<";
}

}  // namespace vrt
