// Toner prediction: the printer's supply information (request 0x9A) or a toner
// alert (family 0x600) decoded into TonerInfo records, with an estimate and a
// 0..94 gauge worked out for each supply from its counters.
#pragma once

#include <cstdint>

#include "kvprtobj/fw_base.h"

class KVPrtObj;

class KVPO_API KvTonerPrediction {
public:
    // One supply. Fields a decode does not set are 0.
    struct TonerInfo {
        uint8_t bySupplyId = 0;
        uint8_t byAttribute = 0;
        uint32_t ulValueA = 0;
        uint32_t ulPageCount = 0;       // written back by bidiResetPageCount
        uint32_t ulBasePageCount = 0;
        uint32_t ulValueB = 0;
        uint8_t byLevelCount = 0;       // number of level steps
        uint8_t byLevel = 0;            // bits 0-6: the current step; bit 7: a flag
        uint8_t byValueC = 0;
        uint32_t ulValueD = 0;
        uint32_t ulStep = 0;
        uint32_t ulAdjustHigh = 0;
        uint32_t ulAdjustLow = 0;
        uint32_t ulStepHigh = 0;
        uint32_t ulStepLow = 0;
        uint32_t ulSpare1 = 0;
        uint32_t ulSpare2 = 0;
        int32_t lEstimate = 0;          // -1 when ulStep is 0; never below 0 otherwise
        int32_t lEstimate2 = 0;         // -1 after a format-1 decode
        uint8_t byGauge1 = 0;           // the gauge, 0..80 for the steps below the top, 94 at the top
        uint8_t byGauge2 = 0;           // the same
    };

    // The decoded supplies; owns its records.
    class KVPO_API TonerInfoArray {
    public:
        TonerInfoArray() = default;
        TonerInfoArray(const TonerInfoArray& other);
        TonerInfoArray& operator=(const TonerInfoArray& other);
        ~TonerInfoArray();

        unsigned int numSupplies() const;
        // The record at `index`; not checked against numSupplies().
        TonerInfo* operator[](unsigned int index);

    private:
        friend class KvTonerPrediction;
        // Discards the records and makes `count` new zeroed ones (none for 0);
        // std::bad_alloc when memory is exhausted.
        void allocateArray(unsigned int count);

        unsigned int m_nSupplies = 0;
        TonerInfo* m_pInfo = nullptr;
    };

    explicit KvTonerPrediction(KVPrtObj* printer);
    KvTonerPrediction(const KvTonerPrediction&) = default;
    KvTonerPrediction& operator=(const KvTonerPrediction&) = default;

    // Request 0x9A with one byte 00 (first reply buffer of 256 bytes); a reply
    // that begins 02 is decoded into `info`. A reply with another first byte
    // gives 0 and leaves `info` untouched; an empty reply gives -2.
    virtual long bidiQueryTonerInfo(TonerInfoArray& info);
    // The same from toner alert `alertId`, whose data begin 03 80 01 (data of
    // fewer than 3 bytes give -2).
    virtual long GetTonerAlertData(unsigned short alertId, TonerInfoArray& info);
    // Writes the first supply's page count to object-model variable 07 77
    // (4 bytes, big-endian). Without any supply nothing is written and the
    // result is -2.
    virtual long bidiResetPageCount();

protected:
    // Decodes toner data (a counted leading field, the record count N, an
    // unread byte, a byte common to all records, the record format, then N
    // records of format 1 or 2) into `info`, with the predictions for format 1.
    // Data that end before their last record (or before the count or format)
    // give -2 and leave `info` untouched. With a format other than 1 or 2 the
    // N records stay zeroed.
    //
    // Predictions, with level = byLevel & 0x7F: lEstimate = level * ulStep -
    // (ulPageCount - ulBasePageCount) + adjust in 32-bit arithmetic, at least
    // 0 (adjust interpolated between the two step thresholds; an interpolation
    // outside 32 bits wraps). Gauge: 94 at the top step (byLevelCount - 1),
    // otherwise level * 80 / (byLevelCount - 2); with byLevelCount 2 or less
    // every other step shows 0.
    virtual long parseTonerData(const unsigned char* data, unsigned long length, TonerInfoArray& info);

    KVPrtObj* m_pPrtObj;   // not owned
};
