#include "opc_results.h"

#include <cstdio>

namespace vrt::opc {

namespace {

struct ErrorTextEntry {
  std::uint32_t code;
  const char* text;
};

constexpr ErrorTextEntry kErrorTexts[] = {
    {0x00000000, "Operation Successful"},
    {0x00000001, "Non Fatal / Partial Error"},
    {0x0004000D, "The server does not support the requested data rate, but will use the closest available rate."},
    {0x0004000E, "The value passed to WRITE was accepted, but was clamped."},
    {0x0004000F, "The operation cannot be completed because the object still has references that exist."},
    {0x00040404, "Values were lost: the item's buffer was full and its oldest values were dropped."},
    {0x00048001, "Attempt to read inactive item"},
    {0x80004001, "Operation not implemented."},
    {0x80004002, "Interface not supported."},
    {0x80004003, "Invalid or NULL pointer."},
    {0x80004005, "Error. Operation failed."},
    {0x80010105, "The Server Threw an exception"},
    {0x80040004, "No previous connection."},
    {0x80040064, "Bad stream format."},
    {0x80040110, "Aggregation is not supported."},
    {0x80040111, "Class not available."},
    {0x80040200, "Callback Connection not established."},
    {0x80040201, "Connection limit exceeded. Request cancelled."},
    {0x80040202, "Cannot connect to interface."},
    {0x8007000E, "Not enough memory to complete the requested operation."},
    {0x80070057, "The value of one or more parameters was not valid."},
    {0xC0040001, "The server handle is invalid."},
    {0xC0040004, "Write operation failed due to a bad type."},
    {0xC0040005, "The requested operation cannot be done on a public group."},
    {0xC0040006, "The Items AccessRights do not allow the operation."},
    {0xC0040007, "The item is no longer available in the server address space."},
    {0xC0040008, "Item ID was invalid and not found."},
    {0xC0040009, "The Filter string was not valid."},
    {0xC004000A, "The Filter string was not valid."},
    {0xC004000B, "The value was out of range."},
    {0xC004000C, "A group is already defined with that name."},
    {0xC0040010, "The server's configuration file is an invalid format."},
    {0xC0040011, "The server could not locate the requested object."},
    {0xC0040203, "The server does not recognise the passed property ID."},
    // Codes of the DA 3.0 interfaces.
    {0xC0040400, "The item has no deadband of its own."},
    {0xC0040401, "The item cannot take a deadband of its own: it is not analog."},
    {0xC0040402, "The server cannot buffer the values sampled between two updates of this item."},
    {0xC0040403, "The continuation point is not valid: unknown, used up or from another browse."},
    {0xC0040405, "The item has no sampling rate of its own."},
    {0xC0040406, "The server cannot write the quality or time stamp asked for; nothing was written for the item."},
};

std::string Format(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

EventReport WithAcronym(const char* text) { return {text, kDriverAcronym}; }

}  // namespace

const char* ErrorText(std::uint32_t code) {
  for (const ErrorTextEntry& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

std::string ItemsAddedMessage(std::uint32_t count, std::uint32_t result) {
  return Format("Client added %d new tags err=0x%X\n", static_cast<int>(count), static_cast<unsigned>(result));
}

std::string BadRequestedTypeMessage(int vartype) { return Format("OPC DLL: Invalid requested datatype (%d)", vartype); }

std::string BadSignalConditioningMessage(const std::string& name) {
  return Format("OPC: Invalid signal conditioning passed to nio_psig() (%s)", name.c_str());
}

std::string BadHardwareOptionsMessage(const std::string& options) {
  return Format("OPC DLL: Invalid hardware options passed to nio_popt() (%s)", options.c_str());
}

std::string CleanUpFailedMessage(std::uint32_t status) {
  return Format("nio_CleanUp() failed. Returned code = %lX", static_cast<unsigned long>(status));
}

EventReport NoAllocatorReport() { return {"VRTOPC - unable to obtain IMalloc interface pointer", {}}; }
EventReport PollThreadNotStartedReport() {
  return WithAcronym("_beginthreadex failed. Unalbe to create polling thread");
}
EventReport PollThreadComFailedReport() {
  return WithAcronym("Fatal Error. Unable to initialize COM for OPC server poll thread");
}
EventReport PollThreadPriorityReport() { return WithAcronym("Unable to change OPC server poll thread priority"); }
EventReport BandwidthPriorityReport() { return {"Unable to change bandwidth thread priority", kEventSource}; }

}  // namespace vrt::opc
