// Shared pieces of the file library: whole-file reads with a size limit, a
// bounded little-endian reader, the checksum, and memory handed to callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/wire/byte_reader.h"

namespace zut {

// The largest library file: the header and two full lists of 65535 records
// of 258 bytes. Larger files are refused before they are read whole.
constexpr size_t kMaxQsfFileSize = 74 + 2 * 65535ul * 258;
// The largest configuration file read.
constexpr size_t kMaxConfigFileSize = 4ul << 20;

// Reads the file at `path` into `bytes`. 0, or PTQSF_CANNOT_OPEN,
// PTQSF_READ_ERROR, PTQSF_BAD_LAYOUT (more than `limit` bytes), PTQSF_NO_MEMORY.
int readWholeFile(const char* path, size_t limit, std::vector<uint8_t>& bytes);

// The checksum of a library file: CRC-16 (polynomial 0x1021, initial 0xFFFF,
// not reflected, no final exclusive-or) over `bytes` with bytes 2 and 3 taken as zero.
uint16_t fileChecksum(const std::vector<uint8_t>& bytes);

// A copy of [data, data + size) in memory that PtMemFree releases; null when
// size is 0 or memory is exhausted.
unsigned char* handOut(const uint8_t* data, size_t size);

// Files are read with the engine's bounded reader, little endian
// (engine/wire/byte_reader.h).
using kvwire::ByteReader;

}  // namespace zut
