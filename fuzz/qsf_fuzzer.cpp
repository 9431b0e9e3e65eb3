// The Quick Setup file readers of libzutlib32 on files written from the input.
// First byte: bit 0 selects the configuration file (QSVARS.CFG) reader, else
// the library-file reader; for library files bit 1 keeps the stored checksum
// as it stands (else the file is stamped with its right checksum, so that the
// layout checks behind it are reached) and bit 2 opens it for another printer
// type than the file's own.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "kvprtobj/zutlib32.h"

namespace {

// Reads of the handed-out memory go here, so that they are not optimised away.
volatile unsigned gSink;

const std::string& scratchFile() {
    static const std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    "/kvfuzz-qsf-" + std::to_string(::getpid());
    static const bool removedAtExit = std::atexit([] { std::remove(scratchFile().c_str()); }) == 0;
    (void)removedAtExit;
    return path;
}

bool writeFile(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(scratchFile().c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void readLibraryFile(uint8_t mode, const uint8_t* data, size_t size) {
    if (!writeFile(data, size)) return;
    if (!(mode & 2) && size >= 4) {
        unsigned char checksum[2];
        if (PtFilChecksum(scratchFile().c_str(), 0, 2, checksum) != 0) return;
        FILE* f = std::fopen(scratchFile().c_str(), "r+b");
        if (f == nullptr) return;
        std::fseek(f, QSF_OFFSET_CHECKSUM, SEEK_SET);
        std::fwrite(checksum, 1, 2, f);
        std::fclose(f);
    }
    unsigned long type = size > QSF_OFFSET_PRINTER_TYPE ? data[QSF_OFFSET_PRINTER_TYPE] : 0;
    if (mode & 4) type = mode >> 3;
    _QSFFILE* file = nullptr;
    if (PtQsfOpen(scratchFile().c_str(), type, &file) != 0) return;
    for (int list = 1; list <= 2; ++list) {
        unsigned char* variables = nullptr;
        unsigned short count = 0;
        PtQsfGetVariables(file, list, &variables, &count);
        // Walk the records as a caller does: id, length byte, value.
        size_t at = 0;
        for (unsigned i = 0; variables && i < count; ++i) at += 3 + variables[at + 2];
        gSink = static_cast<unsigned>(at);
        PtMemFree(variables);
    }
    PtQsfClose(file);
}

void readConfiguration(uint8_t mode, const uint8_t* data, size_t size) {
    if (!writeFile(data, size)) return;
    _QSFINI* ini = PtIniOpen2(scratchFile().c_str(), 1);
    if (ini == nullptr) return;
    for (unsigned long type : {0ul, 1ul, static_cast<unsigned long>(mode >> 1)}) {
        for (int list = 1; list <= 2; ++list) {
            unsigned char* ids = nullptr;
            unsigned short count = 0;
            PtQsfIniGetSection(ini, list, type, &ids, &count);
            for (unsigned i = 0; ids && i < 2u * count; ++i) gSink = ids[i];   // every id byte is there
            PtMemFree(ids);
        }
    }
    PtIniClose(ini);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1)
        readConfiguration(data[0], data + 1, size - 1);
    else
        readLibraryFile(data[0], data + 1, size - 1);
    return 0;
}
