// The printer object of the fuzz targets and of the seed recorder: a host's
// class derived from KVPrtObj whose bidiQuery and bidiQueryAlert hand every
// operation the bytes that answer() gives, exactly as long as they are (so a
// decoder reading one byte too far is caught by AddressSanitizer).
//
// Input of the reply and alert targets: one byte that selects the operation
// (modulo the number of operations), then the answers in the order the
// operation asks for them, each a 16-bit big-endian length and that many
// bytes. A length beyond the end of the input takes what is left; when the
// answers have run out, a request fails with -17 (no answer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kvprtobj/kvprtobj.h"

namespace kvfuzz {

using ByteVec = std::vector<uint8_t>;

class Printer : public KVPrtObj {
public:
    Printer();

    long bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                   unsigned long* replyLength, int bAllocate, int bForce) override;

    // Printer type and kept code level, which decide the counter correction of job-status alerts.
    void setState(unsigned long printerType, const CString& codeLevel);

protected:
    long bidiQueryAlert(unsigned short alertId, unsigned long alertFamily, void** data, unsigned long* length,
                        int flag) override;

    // The answer to one request that wants a reply (alert = false) or to one
    // alert read (alert = true): 0 with the bytes (the reply less its first
    // byte, or the alert data), or a failure code.
    virtual long answer(bool alert, unsigned short code, const void* request, unsigned long requestLength,
                        ByteVec& bytes) = 0;
};

// Answers from a fuzz input (the layout above, after the selector byte).
class ScriptedPrinter : public Printer {
public:
    ScriptedPrinter(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

protected:
    long answer(bool alert, unsigned short code, const void* request, unsigned long requestLength,
                ByteVec& bytes) override;

private:
    const uint8_t* m_data;
    size_t m_size;
};

// Appends one answer in the input layout.
void appendAnswer(ByteVec& input, const ByteVec& bytes);

// One operation of the library that decodes what the printer answers.
struct Operation {
    const char* name;
    void (*run)(Printer& printer);
    unsigned long family = 0;   // alert operations: the alert family they read
};

// The operations that decode replies, and those that decode alert data (the
// alert read answered first, then any request the operation sends after it).
std::span<const Operation> replyOperations();
std::span<const Operation> alertOperations();

// Runs the operation that the first byte selects against the answers after it.
void runInput(std::span<const Operation> operations, const uint8_t* data, size_t size);

}  // namespace kvfuzz
