#pragma once
// VXI-11 as it travels: program numbers, procedures, flags, error codes and the argument
// structures of the calls this server takes, decoded from XDR. Pure; a decoder returns false
// on anything malformed (short, a bad boolean, an over-long field, bytes left over).

#include <cstdint>
#include <string_view>

#include "remote/onc_rpc.h"

namespace vxi11 {

enum : std::uint32_t {
  kCoreProgram = 0x0607AF,
  kAbortProgram = 0x0607B0,
  kInterruptProgram = 0x0607B1,
  kVersion = 1,
};

enum Procedure : std::uint32_t {
  Null = 0,
  DeviceAbort = 1,  // abort channel
  CreateLink = 10,
  DeviceWrite = 11,
  DeviceRead = 12,
  DeviceReadStb = 13,
  DeviceTrigger = 14,
  DeviceClear = 15,
  DeviceRemote = 16,
  DeviceLocal = 17,
  DeviceLock = 18,
  DeviceUnlock = 19,
  DeviceEnableSrq = 20,
  DeviceDocmd = 22,
  DestroyLink = 23,
  CreateIntrChan = 25,
  DestroyIntrChan = 26,
  DeviceIntrSrq = 30,  // interrupt channel, called by the server
};

enum Flags : std::int32_t { WaitLock = 0x01, End = 0x08, TermCharSet = 0x80 };
enum ReadReason : std::int32_t { ReasonRequestCount = 1, ReasonTermChar = 2, ReasonEnd = 4 };

enum Error : std::int32_t {
  NoError = 0,
  SyntaxError = 1,
  DeviceNotAccessible = 3,
  InvalidLink = 4,
  ParameterError = 5,
  ChannelNotEstablished = 6,
  NotSupported = 8,
  OutOfResources = 9,
  DeviceLocked = 11,
  NoLockHeld = 12,
  IoTimeout = 15,
  IoError = 17,
  InvalidAddress = 21,
  Aborted = 23,
  ChannelAlreadyEstablished = 29,
};

constexpr std::size_t kMaxDeviceName = 256;
constexpr std::size_t kMaxSrqHandle = 40;

struct CreateLinkParms {
  std::int32_t clientId = 0;
  bool lockDevice = false;
  std::uint32_t lockTimeout = 0;  // ms
  std::string_view device;
};
struct WriteParms {
  std::int32_t lid = 0;
  std::uint32_t ioTimeout = 0;    // ms
  std::uint32_t lockTimeout = 0;  // ms
  std::int32_t flags = 0;
  std::string_view data;
};
struct ReadParms {
  std::int32_t lid = 0;
  std::uint32_t requestSize = 0;
  std::uint32_t ioTimeout = 0;
  std::uint32_t lockTimeout = 0;
  std::int32_t flags = 0;
  char termChar = 0;
};
// device_readstb, _trigger, _clear, _remote, _local.
struct GenericParms {
  std::int32_t lid = 0;
  std::int32_t flags = 0;
  std::uint32_t lockTimeout = 0;
  std::uint32_t ioTimeout = 0;
};
struct LockParms {
  std::int32_t lid = 0;
  std::int32_t flags = 0;
  std::uint32_t lockTimeout = 0;
};
struct EnableSrqParms {
  std::int32_t lid = 0;
  bool enable = false;
  std::string_view handle;
};
struct RemoteFunc {
  std::uint32_t hostAddr = 0;
  std::uint16_t hostPort = 0;
  std::uint32_t program = 0;
  std::uint32_t version = 0;
  std::uint32_t family = 0;  // 0 TCP, 1 UDP
};

bool decode(std::string_view args, CreateLinkParms& p);
bool decode(std::string_view args, WriteParms& p);
bool decode(std::string_view args, ReadParms& p);
bool decode(std::string_view args, GenericParms& p);
bool decode(std::string_view args, LockParms& p);
bool decode(std::string_view args, EnableSrqParms& p);
bool decode(std::string_view args, RemoteFunc& p);
bool decodeLink(std::string_view args, std::int32_t& lid);  // Device_Link alone

}  // namespace vxi11
