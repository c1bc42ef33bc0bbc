/* hei_pas: the project's own ECOM transport library (libhei_pas.so).
 *
 * An ECOM client over UDP/IP. It finds modules by asking each address of a configured list,
 * opens them, reads their module ID and name, and sends CCM reads and writes of registers
 * (31h), inputs (32h) and outputs (33h). The datagrams are described in Datagram.h beside this
 * file. Every function returns 0 on success or one of the HP_ codes below. Single-threaded:
 * each thread that uses the library has its own open state and transports.
 *
 * Where the modules are. PASCAL_HEIOpenTransport reads the module list once, from the first of:
 *   - HEI_PAS_MODULES: a list of "host:port" entries (IPv4 numbers, port 1..65535, the port
 *     optional: 28784) separated by commas, blanks or semicolons, e.g.
 *     "127.0.0.1:28784,127.0.0.1:28785";
 *   - the file named by HEI_PAS_CONFIG;
 *   - $XDG_CONFIG_HOME/hei_pas.conf (else $HOME/.config/hei_pas.conf), when it exists;
 *   - /etc/hei_pas.conf, when it exists;
 *   - else 127.0.0.1:28784.
 * Nothing is read from the current directory. A file holds one entry per line, "#" starts a
 * comment; it must be a regular file of at most 64 KiB. A list that cannot be read or parsed
 * fails the open with HP_E_CONFIG (HEIErrorDetail says why, naming the file or variable).
 * The transport's socket is bound to the interface the listed modules are reached through
 * (loopback modules: 127.0.0.1); only when they sit behind different interfaces is it bound to
 * the wildcard address. HEI_PAS_QUERY_MS (1..2000, default 250) is how long a query waits for
 * the listed modules to answer; it ends early once every listed module has answered. Only
 * replies from a listed address are taken.
 *
 * Time-outs. PASCAL_HEIOpenDevice's time-out is in milliseconds per attempt (0: 55 ms) and its
 * retries are the further attempts after the first (at most 10). A CCM request that gets no
 * good answer within the attempts fails with HP_E_TIMEOUT, or with the code of the last
 * datagram it refused (HP_E_BAD_REPLY, HP_E_WRONG_MODULE) when one came. Whatever the time-out
 * and retries, one PASCAL_HEICCMRequest returns within HP_MAX_CALL_MS: no attempt starts after
 * it, and the last one is cut short at it.
 *
 * Beyond the vendor's functions (PASCAL_...), two of the library's own, which a caller may
 * look up and do without: HEIErrorDetail, the words behind the last failing call's code, and
 * HEISetTrace, every datagram sent and received handed to a function of the caller's.
 *
 * No C++ exception leaves a function of this library; an unexpected failure inside it gives
 * HP_E_INTERNAL.
 */
#ifndef HEI_PAS_H
#define HEI_PAS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes. */
#define HP_OK 0
#define HP_E_NOT_OPEN 1          /* library, transport or device not open */
#define HP_E_BAD_ARGUMENT 2      /* a null record or buffer, a bad count, data type or version */
#define HP_E_NO_IPX 3            /* protocol 2 (IPX) is not available on this platform */
#define HP_E_BAD_PROTOCOL 4      /* transport kind not 4, or a protocol other than 2 and 3 */
#define HP_E_SOCKET 5            /* the UDP socket could not be made or bound */
#define HP_E_CONFIG 6            /* the module list could not be read */
#define HP_E_TIMEOUT 7           /* no answer within the time-out and retries */
#define HP_E_BAD_REPLY 8         /* only corrupt, truncated or mismatched datagrams came */
#define HP_E_WRONG_MODULE 9      /* the answer came from a module with another ID */
#define HP_E_TOO_LONG 10         /* a CCM length over 1001 bytes */
#define HP_E_SEND 11             /* the request could not be sent */
#define HP_E_SETUP_TYPE 12       /* a setup type other than 20h */
#define HP_E_BUFFER_SMALL 13     /* a buffer length too small for what is asked */
#define HP_E_INTERNAL 14         /* an unexpected failure inside the library (HEIErrorDetail) */
#define HP_E_MODULE_BASE 100     /* 100 + the module's own error status (Datagram.h) */

/* The longest one PASCAL_HEICCMRequest blocks its caller, in milliseconds. */
#define HP_MAX_CALL_MS 2000

#define HP_PROTOCOL_IPX 2
#define HP_PROTOCOL_UDP_IP 3
#define HP_TRANSPORT_WINSOCK 4
#define HP_DEVICE_ECOM 1
#define HP_DATA_NAME 0x16
#define HP_DATA_MODULE_ID 0x20
#define HP_SETUP_MODULE_ID 0x20

#pragma pack(push, 1)
/* The caller's transport record: Transport must be 4, Protocol 3 (UDP/IP) or 2 (IPX). */
typedef struct HEITransport {
  uint16_t Transport;
  uint16_t Protocol;
  uint32_t Token; /* set by PASCAL_HEIOpenTransport; 0 while closed */
  uint8_t Reserved[8];
} HEITransport;

/* One device record, 78 bytes, filled by the queries; the caller passes it back unchanged. */
typedef struct HEIDevice {
  uint32_t TransportToken;
  uint32_t Ipv4;      /* network byte order */
  uint32_t Sequence;  /* of the last request */
  uint16_t Port;      /* network byte order */
  uint16_t TimeoutMs;
  uint16_t Retries;
  uint8_t ModuleId;
  uint8_t DeviceType; /* 1: ECOM */
  uint8_t IsOpen;
  uint8_t NameLength;
  char Name[32];
  uint8_t Reserved[24];
} HEIDevice;
#pragma pack(pop)

/* Opens the library for this thread. version must be 2. */
int PASCAL_HEIOpen(uint16_t version);
/* Opens a transport: Transport 4 and Protocol 3 make a UDP socket; Protocol 2 gives
 * HP_E_NO_IPX. netAddress is not used (0). */
int PASCAL_HEIOpenTransport(HEITransport* transport, uint16_t version, uint32_t netAddress);
/* Finds the modules of the list (above): *count holds the room of devices on entry (at most
 * that many are filled, in list order) and the number found on return. */
int PASCAL_HEIQueryDevices(HEITransport* transport, HEIDevice* devices, int32_t* count, uint16_t version);
/* As PASCAL_HEIQueryDevices, keeping only modules whose ID (dataType 20h: data[0]) or name
 * (dataType 16h: the dataLength name bytes, blanks and NULs at the end ignored) matches. */
int PASCAL_HEIQueryDeviceData(HEITransport* transport, HEIDevice* devices, int32_t* count, uint16_t version,
                              uint16_t dataType, const uint8_t* data, uint16_t dataLength);
/* Opens a device for requests with a time-out (ms per attempt) and retries; *flag is unused. */
int PASCAL_HEIOpenDevice(HEITransport* transport, HEIDevice* device, uint16_t version, uint16_t timeoutMs,
                         uint16_t retries, int16_t* flag);
/* Setup data type 20h: buffer[0] = module ID, buffer[1..3] = 0; *length in: room (at least
 * 4), out: 4. */
int PASCAL_HEIReadSetupData(HEIDevice* device, uint16_t setupType, uint8_t* buffer, int16_t* length);
/* Device definition into buffer (length bytes, at least 3): byte 0 the module ID, byte 1 the
 * name length, byte 2 the device type (1: ECOM), then the name as far as length allows. */
int PASCAL_HEIReadDeviceDef(HEIDevice* device, uint8_t* buffer, uint16_t length);
/* One CCM request: write 1 sends length bytes from buffer, write 0 reads length bytes into
 * buffer. dataType 31h, 32h or 33h; address as the module numbers it; length 0..1001. */
int PASCAL_HEICCMRequest(HEIDevice* device, uint16_t write, uint8_t dataType, int16_t address, uint16_t length,
                         uint8_t* buffer);
int PASCAL_HEICloseDevice(HEIDevice* device);
int PASCAL_HEICloseTransport(HEITransport* transport);
/* Closes the library for this thread, and every transport still open on it; ends the trace. */
int PASCAL_HEIClose(void);

/* What went wrong in the last call of this thread that failed, in words ("no answer from
 * module 1 at 127.0.0.1:28784 to 4 attempts of 55 ms"); empty after a call that succeeded,
 * except a query that found no module, which says where it looked. The text stays valid until
 * the next call on this thread. */
const char* HEIErrorDetail(void);

#define HEI_TRACE_SENT 0
#define HEI_TRACE_RECEIVED 1
typedef void (*HEITraceFunction)(void* context, int direction, const uint8_t* bytes, uint32_t size);
/* While the library is open on this thread, every datagram it sends or receives is handed to
 * trace (NULL: none) with context, before it is checked. PASCAL_HEIOpen and PASCAL_HEIClose
 * end the trace. */
int HEISetTrace(HEITraceFunction trace, void* context);

#ifdef __cplusplus
}
#endif

#endif /* HEI_PAS_H */
