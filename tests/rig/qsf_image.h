// Quick Setup library files built by hand: the header and the two lists as a
// receive writes them, for tests that read, send or break such files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

namespace kvtest {

struct QsfRecord {
    uint16_t id;
    ByteVec value;
};

class QsfImage {
public:
    explicit QsfImage(unsigned printerType) : m_type(printerType) {}
    QsfImage& list1(std::vector<QsfRecord> records) { m_lists[0] = std::move(records); return *this; }
    QsfImage& list2(std::vector<QsfRecord> records) { m_lists[1] = std::move(records); return *this; }

    // The file: a 74-byte header with offsets and counts (checksum bytes 0),
    // the records of list 1, then those of list 2.
    ByteVec bytes() const;

private:
    unsigned m_type;
    std::vector<QsfRecord> m_lists[2];
};

// Writes `bytes` to `path`, with the checksum the file library computes
// stored in bytes 2-3 when `stamp` is set.
void writeQsfFile(const std::string& path, const ByteVec& bytes, bool stamp = true);

// The bytes of the file at `path` (empty when it cannot be read).
ByteVec readFile(const std::string& path);
void writeFile(const std::string& path, const ByteVec& bytes);

}  // namespace kvtest
