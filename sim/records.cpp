#include "records.h"

#include "wire/frame.h"

namespace kvsim {

Bytes jobRecord(const Job& job, bool full) {
    kvwire::Writer w;
    w.u8(job.byte0).be16(job.number).u8(job.byte3).u8(job.priority).be16(job.word5).be16(job.word7);
    w.raw(job.bytes9.data(), job.bytes9.size()).u8(job.byte13).u8(0).u8(0).u8(0).be32(job.long17);
    if (full) {
        w.be32(job.long21).be32(job.long25).be32(job.long29).be32(job.long33).be32(job.long37);
        w.u8(static_cast<unsigned>(job.info1.size())).raw(job.info1.data(), job.info1.size());
        w.u8(static_cast<unsigned>(job.info2.size())).raw(job.info2.data(), job.info2.size());
    }
    return w.take();
}

Bytes tonerData(const Toner& toner) {
    kvwire::Writer w;
    w.u8(static_cast<unsigned>(toner.leading.size())).raw(toner.leading.data(), toner.leading.size());
    w.u8(static_cast<unsigned>(toner.supplies.size())).u8(toner.byte2).u8(toner.common).u8(toner.format);
    for (const TonerSupply& s : toner.supplies) {
        if (toner.format == 1) {
            w.u8(s.id).be32(s.valueA).be32(s.pageCount).be32(s.basePageCount).be32(s.valueB);
            w.u8(s.levelCount).u8(s.level).u8(s.valueC);
            w.u8(static_cast<unsigned>(s.counted.size())).raw(s.counted.data(), s.counted.size());
            w.be32(s.valueD).be16(s.adjustHigh).be16(s.adjustLow).be16(s.stepHigh).be16(s.stepLow).be16(s.step);
        } else {
            w.u8(s.id).u8(s.attribute).be32(s.levelCount).be32(s.level).be32(s.valueD);
        }
    }
    return w.take();
}

std::string panelDisplay(const std::vector<std::string>& lines, int width, int height) {
    std::string out;
    for (int i = 0; i < height; ++i) {
        std::string line = i < static_cast<int>(lines.size()) ? lines[static_cast<size_t>(i)] : std::string();
        line.resize(static_cast<size_t>(width), ' ');
        out += line;
    }
    return out;
}

}  // namespace kvsim
