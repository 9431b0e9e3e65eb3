#include "qsf_image.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "kvprtobj/zutlib32.h"

namespace kvtest {

ByteVec QsfImage::bytes() const {
    Bytes records[2];
    for (int k = 0; k < 2; ++k)
        for (const QsfRecord& r : m_lists[k]) records[k].be16(r.id).u8(static_cast<unsigned>(r.value.size())).raw(r.value);
    const uint32_t offset1 = m_lists[0].empty() ? 0 : QSF_HEADER_SIZE;
    const uint32_t offset2 = m_lists[1].empty() ? 0 : static_cast<uint32_t>(QSF_HEADER_SIZE + records[0].size());
    Bytes file;
    file.text("QS").zeros(2).u8(m_type & 0xFF).u8(1).u8(0).zeros(37);
    file.le32(offset1).le16(static_cast<unsigned>(m_lists[0].size()));
    file.le32(offset2).le16(static_cast<unsigned>(m_lists[1].size()));
    file.zeros(18).raw(records[0]).raw(records[1]);
    return file.vec();
}

void writeFile(const std::string& path, const ByteVec& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeQsfFile(const std::string& path, const ByteVec& bytes, bool stamp) {
    writeFile(path, bytes);
    if (!stamp) return;
    ByteVec stamped = bytes;
    if (stamped.size() < 4 || PtFilChecksum(path.c_str(), 0, 2, stamped.data() + 2) != 0)
        throw std::runtime_error("cannot stamp " + path);
    writeFile(path, stamped);
}

ByteVec readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVec(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kvtest
