#include "alert_data.h"

#include "records.h"
#include "wire/frame.h"

namespace kvsim {

Bytes deviceStatusAlert(const std::array<uint8_t, 3>& status) { return Bytes(status.begin(), status.end()); }

Bytes jobStatusAlert(const JobStatus& s) {
    kvwire::Writer w;
    w.u8(0x03).u8(0x01).u8(static_cast<unsigned>(s.inputs.size())).u8(s.headerA).be16(s.headerB).be16(s.headerC);
    for (const JobStatusInput& in : s.inputs) w.be32(in.counter1).be32(in.counter2).be32(in.counter3);
    w.be16(0).u8(s.statusByte);
    w.u8(static_cast<unsigned>(s.info.size())).raw(s.info.data(), s.info.size());
    w.u8(static_cast<unsigned>(s.text.size())).raw(s.text.data(), s.text.size());
    w.be32(0);
    for (const JobStatusInput& in : s.inputs) w.be16(0).be32(in.counter4).be32(in.counter5);
    w.u8(s.valueTag).u8(static_cast<unsigned>(s.values.size())).u8(s.valueSize);
    for (const JobStatusValue& v : s.values) {
        w.u8(v.id);
        for (int i = s.valueSize - 1; i >= 0; --i) w.u8(i < 4 ? v.value >> (8 * i) : 0);
    }
    return w.take();
}

Bytes operatorPanelAlert(const std::string& display) {
    return kvwire::Writer().u8(0xE1).raw(display.data(), display.size()).take();
}

Bytes jobTransitionAlert(const Job& job) {
    Bytes record = jobRecord(job, false);
    return kvwire::Writer().u8(0x03).u8(0x20).raw(record.data(), record.size()).take();
}

Bytes variableEventAlert(uint16_t id, const Bytes& value) {
    return kvwire::Writer().u8(0x03).u8(0x40).u8(0x09).be16(id).raw(value.data(), value.size()).take();
}

Bytes variableByteEventAlert(uint8_t value) { return Bytes{0x03, 0x40, 0x0C, value}; }

Bytes tonerAlert(const Toner& toner) {
    Bytes data = tonerData(toner);
    return kvwire::Writer().u8(0x03).u8(0x80).u8(0x01).raw(data.data(), data.size()).take();
}

}  // namespace kvsim
