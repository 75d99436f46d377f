// The bytes of the SMART and NVMe health requests and the reading of their answers, on both
// systems: the backends only send them. Kept apart from the device calls so that they can be
// checked against captured answers where the device controls cannot run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kavo::platform {

// SMART subcommands (the features register).
inline constexpr uint8_t kSmartReadData = 0xD0;
inline constexpr uint8_t kSmartReadThresholds = 0xD1;
inline constexpr uint8_t kSmartEnable = 0xD8;

// Windows: the 33-byte SENDCMDINPARAMS of a SMART command to drive `drive` with the SMART
// registers (sector count 1, sector number 1, cylinder low 4Fh, cylinder high C2h, drive/head
// A0h, command B0h) and `bufferSize` bytes expected.
std::array<uint8_t, 33> SmartCommandInput(uint8_t features, uint32_t bufferSize, uint8_t drive);

// Windows: the 512 data bytes of a SENDCMDOUTPARAMS answer (a 16-byte head, then the data) of
// which `got` bytes were written; the bytes past `got` read 0. False when not even the head
// arrived.
bool SmartReplyData(std::span<const uint8_t> reply, size_t got, std::array<uint8_t, 512>& data);

// Linux: the ATA PASS-THROUGH (16) command block of a SMART command with the same registers,
// PIO data-in of one 512-byte block when `dataIn`, non-data otherwise.
std::array<uint8_t, 16> SmartPassThroughCdb(uint8_t features, bool dataIn);

// Linux: whether a pass-through command that ended with a check condition still succeeded: the
// sense key says "no sense" or "recovered error" and, when the sense data carries the ATA status
// return descriptor, its error bit is clear.
bool PassThroughSenseOk(std::span<const uint8_t> sense);

// Windows: the IOCTL_STORAGE_QUERY_PROPERTY request for an NVMe drive's SMART / health log
// (StorageDeviceProtocolSpecificProperty, NVMe, log page 02h, 512 bytes after the 40-byte
// protocol request), sized to take the answer too.
inline constexpr size_t kNvmeQueryBytes = 8 + 40 + 512;
std::array<uint8_t, kNvmeQueryBytes> NvmeHealthQuery();

// Windows: the log out of the answer (an 8-byte head, the protocol request with the data's
// offset and length, the data) of which `got` bytes were written. False when the answer's
// offset or length does not hold a whole log inside what was written.
bool NvmeHealthReply(std::span<const uint8_t> reply, size_t got, std::array<uint8_t, 512>& log);

}  // namespace kavo::platform
