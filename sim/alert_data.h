// The data of the six alert families, as BceQueryAlerts hands it back.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "profile.h"

namespace kvsim {

struct JobStatusInput {
    uint32_t counter1 = 0, counter2 = 0, counter3 = 0, counter4 = 0, counter5 = 0;
};

struct JobStatusValue {
    uint8_t id = 0;
    uint32_t value = 0;
};

struct JobStatus {
    uint8_t headerA = 0;
    uint16_t headerB = 0, headerC = 0;
    std::vector<JobStatusInput> inputs;
    uint8_t statusByte = 0;
    std::string info, text;   // job-information text ("JN=report;UR=alice") and the second text
    uint8_t valueTag = 0;
    uint8_t valueSize = 4;    // bytes of each value; the library reads values of 4
    std::vector<JobStatusValue> values;
};

// 0x5F4: the three device-status bytes.
Bytes deviceStatusAlert(const std::array<uint8_t, 3>& status);
// 0x5F6: 03 01, the header, both counter blocks, the texts and the value list.
Bytes jobStatusAlert(const JobStatus& status);
// 0x5F7: E1 and the panel display.
Bytes operatorPanelAlert(const std::string& display);
// 0x5FD: 03 20 and the short job record.
Bytes jobTransitionAlert(const Job& job);
// 0x5FE: 03 40, event type 9, the variable id and its value.
Bytes variableEventAlert(uint16_t id, const Bytes& value);
// 0x5FE: 03 40, event type 12 and one value byte.
Bytes variableByteEventAlert(uint8_t value);
// 0x600: 03 80 01 and the toner data.
Bytes tonerAlert(const Toner& toner);

}  // namespace kvsim
