// Library files: open (recognise, check, and take the two lists), read a list, close.
#include <memory>
#include <vector>

#include "engine/c_boundary.h"
#include "internal.h"
#include "kvprtobj/zutlib32.h"

struct _QSFFILE {
    std::vector<uint8_t> lists[2];   // the packed records of lists 1 and 2
    unsigned short counts[2] = {0, 0};
};

namespace {

// The records of one list, checked to lie within the file: 0 or PTQSF_BAD_LAYOUT.
int takeList(const std::vector<uint8_t>& bytes, size_t offsetField, size_t countField, std::vector<uint8_t>& list,
             unsigned short& count) {
    zut::ByteReader header(bytes.data(), bytes.size());
    header.seek(offsetField);
    uint32_t offset = header.le32();
    header.seek(countField);
    count = header.le16();
    if (count == 0) return PTQSF_OK;   // the offset of an empty list is not looked at
    if (offset < QSF_HEADER_SIZE) return PTQSF_BAD_LAYOUT;
    zut::ByteReader records(bytes.data(), bytes.size());
    records.seek(offset);
    for (unsigned i = 0; i < count && records.ok(); ++i) {
        records.skip(2);
        records.skip(records.u8());
    }
    if (!records.ok()) return PTQSF_BAD_LAYOUT;
    list.assign(bytes.begin() + offset, bytes.begin() + static_cast<std::ptrdiff_t>(records.position()));
    return PTQSF_OK;
}

}  // namespace

extern "C" int PtQsfOpen(const char* path, unsigned long printerType, _QSFFILE** file) {
    return kvpo::cBoundary(PTQSF_NO_MEMORY, [&]() -> int {
        if (file == nullptr) return PTQSF_BAD_ARGUMENT;
        *file = nullptr;
        if (path == nullptr) return PTQSF_BAD_ARGUMENT;
        std::vector<uint8_t> bytes;
        if (int rc = zut::readWholeFile(path, zut::kMaxQsfFileSize, bytes)) return rc;

        if (bytes.size() < 2 || bytes[0] != 'Q' || bytes[1] != 'S') return PTQSF_NOT_QSF;
        if (bytes.size() < QSF_HEADER_SIZE) return PTQSF_BAD_LAYOUT;
        if (bytes[QSF_OFFSET_FORMAT] != QSF_FORMAT_LIBRARY) return PTQSF_NOT_QSF;
        if (bytes[QSF_OFFSET_PRINTER_TYPE] != (printerType & 0xFF)) return PTQSF_NOT_QSF;
        unsigned stored = bytes[QSF_OFFSET_CHECKSUM] | bytes[QSF_OFFSET_CHECKSUM + 1] << 8;
        if (stored != zut::fileChecksum(bytes)) return PTQSF_BAD_CHECKSUM;

        auto open = std::make_unique<_QSFFILE>();
        int rc = takeList(bytes, QSF_OFFSET_LIST1, QSF_OFFSET_COUNT1, open->lists[0], open->counts[0]);
        if (rc == PTQSF_OK) rc = takeList(bytes, QSF_OFFSET_LIST2, QSF_OFFSET_COUNT2, open->lists[1], open->counts[1]);
        if (rc != PTQSF_OK) return rc;
        *file = open.release();
        return PTQSF_OK;
    });
}

extern "C" int PtQsfClose(_QSFFILE* file) {
    delete file;
    return PTQSF_OK;
}

extern "C" int PtQsfGetVariables(_QSFFILE* file, int list, unsigned char** variables, unsigned short* count) {
    if (variables) *variables = nullptr;
    if (count) *count = 0;
    if (file == nullptr || variables == nullptr || count == nullptr || (list != 1 && list != 2))
        return PTQSF_BAD_ARGUMENT;
    const std::vector<uint8_t>& records = file->lists[list - 1];
    if (records.empty()) return PTQSF_OK;
    *variables = zut::handOut(records.data(), records.size());
    if (*variables == nullptr) return PTQSF_NO_MEMORY;
    *count = file->counts[list - 1];
    return PTQSF_OK;
}
