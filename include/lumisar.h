/*
 * lumisar.h - the contract between a SCADA host and LUMISAR.DLL.
 *
 * The host loads the library, looks up ZubMain by name and calls it with a
 * RequestBlock for every operation. All records below are laid out for a
 * 32-bit process: pointers and handles are 4 bytes, fields follow each other
 * in the order given, without gaps. The static assertions at the end pin
 * every size and offset, for C11 and C++ hosts alike, so that a compiler
 * change cannot move a field.
 *
 * Calling convention: ZubMain and the four QUARNE.DLL imports are cdecl.
 *
 * Threads: the operations of one channel (one PortContext) run one at a
 * time; channels may run on threads of their own, each with its own port.
 * Operations 3 and 4 (resolve), 14 (describe) keep nothing between calls
 * and may run on any number of threads at once.
 */
#ifndef LUMISAR_H
#define LUMISAR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define LUMISAR_CDECL __cdecl
#else
#define LUMISAR_CDECL
#endif

/* Operation codes of RequestBlock.operation. Slots 8, 9 and 17 are empty. */
enum LumisarOperation {
  LUMISAR_OP_OPEN_PORT = 1,
  LUMISAR_OP_PURGE_INPUT = 2,
  LUMISAR_OP_RESOLVE_ADDRESS = 3,
  LUMISAR_OP_RESOLVE_BLOCK_ADDRESS = 4,
  LUMISAR_OP_SINGLE_READ = 5,
  LUMISAR_OP_BLOCK_READ = 6,
  LUMISAR_OP_SINGLE_WRITE = 7,
  LUMISAR_OP_BLOCK_WRITE = 10,
  LUMISAR_OP_CLOSE_PORT = 11,
  LUMISAR_OP_CLOSE_PORT_2 = 12,
  LUMISAR_OP_REOPEN_PORT = 13,
  LUMISAR_OP_DESCRIBE_DRIVER = 14,
  LUMISAR_OP_RECONFIGURE_PORT = 15,
  LUMISAR_OP_EDIT_TAG_FORMAT = 16
};

/* The only results a host ever sees. */
enum LumisarResult {
  LUMISAR_DONE = 0,
  LUMISAR_REFUSED = 1,   /* bad address, type or count; controller refused */
  LUMISAR_FAILED = 2,    /* bad operation code; port or exchange failure */
  LUMISAR_CANCELLED = 53 /* tag format dialog cancelled or already showing */
};

/* Data type codes of ResolveRequest.dataType and IoRequest.dataType. */
enum LumisarDataType {
  LUMISAR_TYPE_WORD0 = 0,
  LUMISAR_TYPE_WORD1 = 1,
  LUMISAR_TYPE_WORD2 = 2,
  LUMISAR_TYPE_FLOAT = 3,
  LUMISAR_TYPE_LONG4 = 4,
  LUMISAR_TYPE_LONG5 = 5,
  LUMISAR_TYPE_BIT = 6
};

#define LUMISAR_NO_BIT 255u
#define LUMISAR_DEVICE_NAME_SIZE 12

typedef struct SerialSettings {
  uint16_t baudRate; /* bits per second, 0..65535 */
  uint16_t dataBits;
  uint16_t stopBits; /* 0 one, 1 one and a half, 2 two */
  uint16_t parity;   /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
} SerialSettings;

typedef struct PortSpec {
  char deviceName[LUMISAR_DEVICE_NAME_SIZE]; /* NUL-terminated, at most 11 */
  SerialSettings settings;
  uint16_t lineControl; /* DTR/RTS selection; OpenPort stores 8 (none) */
} PortSpec;

/* One per channel, allocated by the host (DriverInfo.contextSize bytes). A
 * channel that was never opened must have port == 0. */
typedef struct PortContext {
  uint32_t replyTimeout; /* units of 10 ms */
  uint32_t enabled;
  void *port; /* Win32 HANDLE of the open line; 0 = none */
  PortSpec spec;
  uint8_t enquiry[3];
  uint8_t header[17];
  uint8_t dataFrame[259];
  uint8_t ackByte;
  uint8_t eotByte;
} PortContext;

typedef struct RequestBlock {
  PortContext *context;
  uint32_t operation;
  uint32_t reserved[2]; /* never read by the driver */
  void *params;
} RequestBlock;

typedef struct OpenRequest {
  char deviceName[LUMISAR_DEVICE_NAME_SIZE];
  uint32_t enabled;      /* 0: store and return 0 without opening */
  uint32_t replyTimeout; /* units of 10 ms */
  SerialSettings settings;
} OpenRequest;

typedef struct ReconfigureRequest {
  char deviceName[LUMISAR_DEVICE_NAME_SIZE];
  uint32_t replyTimeout;   /* 0 keeps the stored value */
  SerialSettings settings; /* baudRate 0 keeps all four stored values */
} ReconfigureRequest;

typedef struct DriverInfo {
  uint32_t hostCode1;
  const char *vendorText;
  const char *bannerText; /* code page 437 */
  uint32_t contextSize;
  uint32_t hostCode2;
  SerialSettings defaultSettings;
  uint32_t hostCode3;
} DriverInfo;

typedef struct TagFormatRequest {
  char *addressOut;  /* at least 9 bytes */
  void *ownerWindow; /* HWND */
} TagFormatRequest;

typedef struct TagAddress {
  uint32_t plcNumber;
  uint32_t memoryType; /* always 0x31 */
  uint32_t wordAddress;
  uint32_t bitNumber; /* 0..15, or 255 for the whole value */
  uint32_t width;     /* 16 or 32 */
} TagAddress;

typedef struct ResolveRequest {
  const char *addressText;
  uint32_t reserved;
  uint32_t dataType; /* operation 3 only */
  int32_t count;     /* operation 4 only */
  TagAddress address;
} ResolveRequest;

typedef struct IoRequest {
  const char *addressText; /* BlockRead reads its 8th character */
  uint32_t reserved1;
  TagAddress address;
  uint32_t dataType;
  int32_t count;
  uint32_t reserved2;
  void *values; /* host's value buffer, little-endian */
} IoRequest;

/* The library's one export. */
int32_t LUMISAR_CDECL ZubMain(RequestBlock *request);
typedef int32_t(LUMISAR_CDECL *ZubMainFn)(RequestBlock *request);

#ifdef __cplusplus
} /* extern "C" */
#define LUMISAR_ASSERT static_assert
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
/* A C host's compiler checks the layout too. */
#define LUMISAR_ASSERT _Static_assert
#endif

#ifdef LUMISAR_ASSERT
#define LUMISAR_LAYOUT(type, size) LUMISAR_ASSERT(sizeof(type) == (size), #type " size")
#define LUMISAR_AT(type, field, off) \
  LUMISAR_ASSERT(offsetof(type, field) == (off), #type "." #field " offset")

LUMISAR_ASSERT(sizeof(void *) == 4, "the driver's records are for a 32-bit process");

LUMISAR_LAYOUT(SerialSettings, 8);
LUMISAR_AT(SerialSettings, baudRate, 0);
LUMISAR_AT(SerialSettings, dataBits, 2);
LUMISAR_AT(SerialSettings, stopBits, 4);
LUMISAR_AT(SerialSettings, parity, 6);

LUMISAR_LAYOUT(PortSpec, 22);
LUMISAR_AT(PortSpec, deviceName, 0);
LUMISAR_AT(PortSpec, settings, 12);
LUMISAR_AT(PortSpec, lineControl, 20);

LUMISAR_LAYOUT(PortContext, 316);
LUMISAR_AT(PortContext, replyTimeout, 0);
LUMISAR_AT(PortContext, enabled, 4);
LUMISAR_AT(PortContext, port, 8);
LUMISAR_AT(PortContext, spec, 12);
LUMISAR_AT(PortContext, enquiry, 34);
LUMISAR_AT(PortContext, header, 37);
LUMISAR_AT(PortContext, dataFrame, 54);
LUMISAR_AT(PortContext, ackByte, 313);
LUMISAR_AT(PortContext, eotByte, 314);

LUMISAR_LAYOUT(RequestBlock, 20);
LUMISAR_AT(RequestBlock, context, 0);
LUMISAR_AT(RequestBlock, operation, 4);
LUMISAR_AT(RequestBlock, reserved, 8);
LUMISAR_AT(RequestBlock, params, 16);

LUMISAR_LAYOUT(OpenRequest, 28);
LUMISAR_AT(OpenRequest, deviceName, 0);
LUMISAR_AT(OpenRequest, enabled, 12);
LUMISAR_AT(OpenRequest, replyTimeout, 16);
LUMISAR_AT(OpenRequest, settings, 20);

LUMISAR_LAYOUT(ReconfigureRequest, 24);
LUMISAR_AT(ReconfigureRequest, deviceName, 0);
LUMISAR_AT(ReconfigureRequest, replyTimeout, 12);
LUMISAR_AT(ReconfigureRequest, settings, 16);

LUMISAR_LAYOUT(DriverInfo, 32);
LUMISAR_AT(DriverInfo, hostCode1, 0);
LUMISAR_AT(DriverInfo, vendorText, 4);
LUMISAR_AT(DriverInfo, bannerText, 8);
LUMISAR_AT(DriverInfo, contextSize, 12);
LUMISAR_AT(DriverInfo, hostCode2, 16);
LUMISAR_AT(DriverInfo, defaultSettings, 20);
LUMISAR_AT(DriverInfo, hostCode3, 28);

LUMISAR_LAYOUT(TagFormatRequest, 8);
LUMISAR_AT(TagFormatRequest, addressOut, 0);
LUMISAR_AT(TagFormatRequest, ownerWindow, 4);

LUMISAR_LAYOUT(TagAddress, 20);
LUMISAR_AT(TagAddress, plcNumber, 0);
LUMISAR_AT(TagAddress, memoryType, 4);
LUMISAR_AT(TagAddress, wordAddress, 8);
LUMISAR_AT(TagAddress, bitNumber, 12);
LUMISAR_AT(TagAddress, width, 16);

LUMISAR_LAYOUT(ResolveRequest, 36);
LUMISAR_AT(ResolveRequest, addressText, 0);
LUMISAR_AT(ResolveRequest, reserved, 4);
LUMISAR_AT(ResolveRequest, dataType, 8);
LUMISAR_AT(ResolveRequest, count, 12);
LUMISAR_AT(ResolveRequest, address, 16);

LUMISAR_LAYOUT(IoRequest, 44);
LUMISAR_AT(IoRequest, addressText, 0);
LUMISAR_AT(IoRequest, reserved1, 4);
LUMISAR_AT(IoRequest, address, 8);
LUMISAR_AT(IoRequest, dataType, 28);
LUMISAR_AT(IoRequest, count, 32);
LUMISAR_AT(IoRequest, reserved2, 36);
LUMISAR_AT(IoRequest, values, 40);

#undef LUMISAR_LAYOUT
#undef LUMISAR_AT
#undef LUMISAR_ASSERT
#endif /* LUMISAR_ASSERT */

#endif /* LUMISAR_H */
