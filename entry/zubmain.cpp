// The library's one export and its table of operations: the dispatcher
// stands above the subsystems whose handlers it calls.
#include "address/resolve.h"
#include "address/tag_format_dialog.h"
#include "host/describe.h"
#include "port/port_operations.h"
#include "protocol/io_operations.h"

namespace {

// Every handler takes the host's RequestBlock and returns one of the
// operation results of lumisar.h, which ZubMain passes on unchanged.
using OperationHandler = int32_t (*)(RequestBlock *request);

constexpr uint32_t kOperationSlots = 17;

// Slot k holds the handler of operation code k + 1; 8, 9 and 17 are empty.
constexpr OperationHandler OperationTable[kOperationSlots] = {
    OpenPort,             // 1
    PurgeInput,           // 2
    ResolveAddress,       // 3
    ResolveBlockAddress,  // 4
    SingleRead,           // 5
    BlockRead,            // 6
    SingleWrite,          // 7
    nullptr,              // 8
    nullptr,              // 9
    BlockWrite,           // 10
    ClosePort,            // 11
    ClosePort,            // 12
    ReopenPort,           // 13
    DescribeDriver,       // 14
    ReconfigurePort,      // 15
    EditTagFormat,        // 16
    nullptr,              // 17
};

}  // namespace

extern "C" int32_t LUMISAR_CDECL ZubMain(RequestBlock *request) {
  // A null request has no operation code to dispatch on; the host contract
  // excludes it, but refusing costs nothing and keeps the host alive.
  if (!request) return LUMISAR_FAILED;
  uint32_t operation = request->operation;
  if (operation == 0 || operation > kOperationSlots) return LUMISAR_FAILED;
  OperationHandler handler = OperationTable[operation - 1];
  if (!handler) return LUMISAR_FAILED;
  return handler(request);
}
