#include "platform/smart_commands.h"

#include <algorithm>

#include "platform/bytes.h"

namespace kavo::platform {

std::array<uint8_t, 33> SmartCommandInput(uint8_t features, uint32_t bufferSize, uint8_t drive) {
  std::array<uint8_t, 33> in{};
  StoreLe32(in.data(), bufferSize);
  in[4] = features;
  in[5] = 1;      // sector count
  in[6] = 1;      // sector number
  in[7] = 0x4F;   // cylinder low
  in[8] = 0xC2;   // cylinder high
  in[9] = 0xA0;   // drive/head
  in[10] = 0xB0;  // command: SMART
  in[12] = drive;
  return in;
}

bool SmartReplyData(std::span<const uint8_t> reply, size_t got, std::array<uint8_t, 512>& data) {
  got = std::min(got, reply.size());
  if (got < 16) return false;
  data.fill(0);
  std::copy_n(reply.begin() + 16, std::min<size_t>(got - 16, data.size()), data.begin());
  return true;
}

std::array<uint8_t, 16> SmartPassThroughCdb(uint8_t features, bool dataIn) {
  std::array<uint8_t, 16> cdb{};
  cdb[0] = 0x85;                          // ATA PASS-THROUGH (16)
  cdb[1] = dataIn ? (4 << 1) : (3 << 1);  // protocol: PIO data-in, or non-data
  cdb[2] = dataIn ? 0x0E : 0x00;          // from the device, in blocks, length in sector count
  cdb[4] = features;
  cdb[6] = 1;
  cdb[8] = 1;
  cdb[10] = 0x4F;
  cdb[12] = 0xC2;
  cdb[13] = 0xA0;
  cdb[14] = 0xB0;
  return cdb;
}

bool PassThroughSenseOk(std::span<const uint8_t> sense) {
  if (sense.size() < 3) return false;
  const uint8_t response = sense[0] & 0x7F;
  const bool descriptor = response == 0x72 || response == 0x73;
  if (!descriptor && response != 0x70 && response != 0x71) return false;
  const uint8_t key = (descriptor ? sense[1] : sense[2]) & 0x0F;
  if (key > 1) return false;
  if (!descriptor) return true;
  // Descriptors follow the 8-byte head; the ATA status return descriptor (09h) is 14 bytes with
  // the status register at its byte 13.
  const size_t end = std::min<size_t>(sense.size(), size_t{8} + (sense.size() > 7 ? sense[7] : 0));
  for (size_t at = 8; at + 2 <= end;) {
    const size_t length = size_t{2} + sense[at + 1];
    if (sense[at] == 0x09 && at + 14 <= end) return (sense[at + 13] & 0x01) == 0;
    at += length;
  }
  return true;
}

std::array<uint8_t, kNvmeQueryBytes> NvmeHealthQuery() {
  std::array<uint8_t, kNvmeQueryBytes> q{};
  StoreLe32(q.data() + 0, 50);   // StorageDeviceProtocolSpecificProperty
  StoreLe32(q.data() + 4, 0);    // PropertyStandardQuery
  StoreLe32(q.data() + 8, 3);    // ProtocolTypeNvme
  StoreLe32(q.data() + 12, 2);   // NVMeDataTypeLogPage
  StoreLe32(q.data() + 16, 2);   // log 02h: SMART / health information
  StoreLe32(q.data() + 24, 40);  // the data follows the 40-byte request
  StoreLe32(q.data() + 28, 512);
  return q;
}

bool NvmeHealthReply(std::span<const uint8_t> reply, size_t got, std::array<uint8_t, 512>& log) {
  got = std::min(got, reply.size());
  if (got < 8 + 24) return false;
  const uint64_t offset = LoadLe32(reply.data() + 8 + 16);
  const uint64_t length = LoadLe32(reply.data() + 8 + 20);
  if (length < log.size() || 8 + offset + log.size() > got) return false;
  std::copy_n(reply.begin() + 8 + offset, log.size(), log.begin());
  return true;
}

}  // namespace kavo::platform
