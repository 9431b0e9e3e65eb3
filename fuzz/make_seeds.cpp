// kvfuzz_seeds OUTDIR QSVARS.CFG: writes the seed corpora of the fuzz targets
// from what the simulated printer (built-in profile) answers, one directory
// per target (OUTDIR/<target>/<name>). It needs the simulator, so it is built
// when the fuzz build has the tools. The committed seeds under fuzz/corpus/
// were made with it:
//   cmake --preset fuzz -DKVPO_BUILD_TOOLS=ON && cmake --build --preset fuzz
//   build/fuzz/bin/kvfuzz_seeds fuzz/corpus qsflib/QSVARS.CFG
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "harness.h"
#include "kvprtobj/kvprtsim.h"
#include "wire/frame.h"

namespace {

namespace fs = std::filesystem;
using kvfuzz::ByteVec;

// A simulated printer's reply to one request, less its first byte: the printer's result.
long ask(kvsim::SimPrinter& sim, unsigned short code, const ByteVec& request, ByteVec& reply) {
    ByteVec buffer(KVPrtObj::kMaxReplySize);
    unsigned long length = buffer.size();
    long rc = sim.sendBidi(0, 0, code, buffer.data(), &length, request.data(), request.size());
    if (rc == 0 && length == 0) rc = -2;
    reply.clear();
    if (rc == 0) reply.assign(buffer.begin() + 1, buffer.begin() + static_cast<std::ptrdiff_t>(length));
    return rc;
}

// The same where a failure gives an empty reply.
ByteVec ask(kvsim::SimPrinter& sim, unsigned short code, const ByteVec& request = {}) {
    ByteVec reply;
    ask(sim, code, request, reply);
    return reply;
}

ByteVec alertData(kvsim::SimPrinter& sim, unsigned short id) {
    ByteVec buffer(KVPrtObj::kAlertBufferSize);
    unsigned long length = buffer.size();
    if (sim.queryAlerts(0, id, 2, buffer.data(), &length) != 0) return {};
    buffer.resize(std::min<size_t>(length, buffer.size()));
    return buffer;
}

// The printer object of the operations, answered by the simulated printer;
// every answer is recorded in the fuzz input layout. Alert reads are answered
// with the data of one chosen alert.
class RecordingPrinter : public kvfuzz::Printer {
public:
    RecordingPrinter(kvsim::SimPrinter& sim, unsigned short alertId) : m_sim(sim), m_alertId(alertId) {}
    const ByteVec& recorded() const { return m_recorded; }

protected:
    long answer(bool alert, unsigned short code, const void* request, unsigned long requestLength,
                ByteVec& bytes) override {
        if (m_failed) return -17;
        long rc = 0;
        if (alert) {
            bytes = alertData(m_sim, m_alertId);
            rc = bytes.empty() ? -3 : 0;
        } else {
            auto* p = static_cast<const uint8_t*>(request);
            rc = ask(m_sim, code, ByteVec(p, p + requestLength), bytes);
        }
        m_failed = rc != 0;   // a failed request ends the recording: the replay runs out there
        if (m_failed) return rc;
        kvfuzz::appendAnswer(m_recorded, bytes);
        return 0;
    }

private:
    kvsim::SimPrinter& m_sim;
    unsigned short m_alertId;
    bool m_failed = false;
    ByteVec m_recorded;
};

void writeSeed(const fs::path& dir, const std::string& name, const ByteVec& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ByteVec withSelector(size_t selector, const ByteVec& rest) {
    ByteVec seed{static_cast<uint8_t>(selector)};
    seed.insert(seed.end(), rest.begin(), rest.end());
    return seed;
}

ByteVec textBytes(const std::string& s) { return ByteVec(s.begin(), s.end()); }

std::shared_ptr<kvsim::SimPrinter> freshPrinter() {
    auto sim = kvsim::SimPrinter::fromDefault();
    if (!sim) std::exit(1);
    return sim;
}

void replySeeds(const fs::path& out) {
    auto ops = kvfuzz::replyOperations();
    for (size_t i = 0; i < ops.size(); ++i) {
        auto sim = freshPrinter();
        RecordingPrinter printer(*sim, 0);
        ops[i].run(printer);
        writeSeed(out / "replies", ops[i].name, withSelector(i, printer.recorded()));
    }
}

// Every alert the printer holds or raises, by family: the profile's alerts
// raised once more, and those that requests raise.
std::multimap<unsigned long, unsigned short> collectAlerts(kvsim::SimPrinter& sim) {
    std::multimap<unsigned long, unsigned short> alerts;
    int token = sim.addAlertListener([&](unsigned short id, unsigned long family) { alerts.emplace(family, id); });
    for (size_t i = 0; i < sim.profileAlertCount(); ++i) sim.raiseProfileAlert(i);
    sim.setDeviceStatus(0x41, 0x02, 0x03);
    ask(sim, kvbidi::kSetOMVar, {0x01, 0x01, 0x05});   // a variable event
    ask(sim, kvbidi::kPushButton, {0x00, 0x00, 0x40});   // a panel alert
    ask(sim, kvbidi::kChangeJobPriority, {0x02, 0x00, 0x01});   // a job transition
    ask(sim, kvbidi::kStorageListFiles, {0x01});   // a listing alert of the flash
    sim.removeAlertListener(token);
    return alerts;
}

void alertSeeds(const fs::path& out) {
    auto sim = freshPrinter();
    auto alerts = collectAlerts(*sim);
    auto ops = kvfuzz::alertOperations();
    for (size_t i = 0; i < ops.size(); ++i) {
        auto [first, last] = alerts.equal_range(ops[i].family);
        int k = 0;
        for (auto it = first; it != last && k < 3; ++it, ++k) {
            RecordingPrinter printer(*sim, it->second);
            ops[i].run(printer);
            writeSeed(out / "alerts", std::string(ops[i].name) + "-" + std::to_string(k),
                      withSelector(i, printer.recorded()));
        }
    }
}

// The parsers' inputs as the printer's replies carry them (selectors as in parsers_fuzzer.cpp).
void parserSeeds(const fs::path& out) {
    auto sim = freshPrinter();
    const fs::path dir = out / "parsers";
    // Font descriptions: the records of the font list (count, header, then tag, tag, length, text).
    ByteVec fonts = ask(*sim, kvbidi::kFontDetails, {0, 0, 0});
    size_t at = 1 + 2;
    if (at < fonts.size()) at += 1 + fonts[at];
    for (int k = 0; at + 4 <= fonts.size() && k < 4; ++k) {
        size_t length = static_cast<size_t>(fonts[at + 2] << 8 | fonts[at + 3]);
        if (length == 0 || at + 4 + length > fonts.size()) break;
        writeSeed(dir, "font_description-" + std::to_string(k),
                  withSelector(0, ByteVec(fonts.begin() + at + 4, fonts.begin() + at + 4 + length)));
        at += 4 + length;
    }
    writeSeed(dir, "job_info-0", withSelector(1, textBytes("JN=quarterly-report;UR=alice;HT=ws-17")));
    writeSeed(dir, "job_info-1", withSelector(1, textBytes("SC=2;QU=normal;LS=landscape;XY=1")));
    ByteVec panel = ask(*sim, kvbidi::kPanelText);
    panel.insert(panel.begin(), 20);   // count 80 characters
    writeSeed(dir, "panel_text", withSelector(2, panel));
    ByteVec toner = ask(*sim, kvbidi::kTonerInfo, {0x00});
    if (!toner.empty()) writeSeed(dir, "toner_data", withSelector(3, ByteVec(toner.begin() + 1, toner.end())));
    ByteVec directory = ask(*sim, kvbidi::kStorageReadDirectory, {0x01});
    if (directory.size() > 4) writeSeed(dir, "directory", withSelector(4, ByteVec(directory.begin() + 4, directory.end())));
    auto alerts = collectAlerts(*sim);
    if (auto it = alerts.find(0x601); it != alerts.end())
        writeSeed(dir, "device_alert", withSelector(5, alertData(*sim, it->second)));
    ByteVec levels = ask(*sim, kvbidi::kReadMiscVar, {0x00, 0xA6});
    if (levels.size() > 3) writeSeed(dir, "code_level", withSelector(6, ByteVec(levels.begin() + 3, levels.end())));
}

void putLe(ByteVec& b, size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A library file as a receive writes it (checksum 0: the target stamps it),
// with the values of the Quick Setup variables of the printer, and the
// configuration file.
void qsfSeeds(const fs::path& out, const std::string& configPath) {
    auto sim = freshPrinter();
    ByteVec file(74, 0);
    file[0] = 'Q';
    file[1] = 'S';
    file[5] = 1;
    unsigned counts[2] = {0, 0};
    size_t offsets[2] = {0, 0};
    for (int list = 0; list < 2; ++list) {
        offsets[list] = file.size();
        for (unsigned id = list ? 0x0201 : 0x0101; id <= (list ? 0x0205u : 0x0110u); ++id) {
            auto value = sim->variable(static_cast<uint16_t>(id));
            if (!value || value->size() > 255) continue;
            file.push_back(static_cast<uint8_t>(id >> 8));
            file.push_back(static_cast<uint8_t>(id & 0xFF));
            file.push_back(static_cast<uint8_t>(value->size()));
            file.insert(file.end(), value->begin(), value->end());
            ++counts[list];
        }
    }
    putLe(file, 44, static_cast<uint32_t>(offsets[0]), 4);
    putLe(file, 48, counts[0], 2);
    putLe(file, 50, static_cast<uint32_t>(offsets[1]), 4);
    putLe(file, 54, counts[1], 2);
    writeSeed(out / "qsf", "library_file", withSelector(0, file));

    std::ifstream in(configPath, std::ios::binary);
    ByteVec config((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    writeSeed(out / "qsf", "qsvars_cfg", withSelector(1, config));
}

ByteVec frame(uint8_t type, uint32_t id, kvwire::Bytes payload) {
    return kvwire::encodeFrame(kvwire::Frame{type, id, std::move(payload)});
}

// One frame of every message type as the engine and kvprtsimd exchange them.
void frameSeeds(const fs::path& out) {
    using namespace kvwire;
    auto sim = freshPrinter();
    const fs::path dir = out / "frame";
    writeSeed(dir, "hello", frame(kHello, 1, encode(HelloRequest{"0"})));
    writeSeed(dir, "hello_reply", frame(kHello | kReplyBit, 1, encode(HelloReply{0, sim->name()})));
    writeSeed(dir, "send_bidi", frame(kSendBidi, 2, encode(SendBidiRequest{0, 0, 0x4E, 2048, {0x01, 0x01}})));
    ByteVec reply = ask(*sim, kvbidi::kInputChars);
    reply.insert(reply.begin(), 0x12);
    writeSeed(dir, "send_bidi_reply",
              frame(kSendBidi | kReplyBit, 2, encode(DataReply{0, static_cast<uint32_t>(reply.size()), reply})));
    writeSeed(dir, "query_alert", frame(kQueryAlert, 3, encode(QueryAlertRequest{0, 1, 2, 2048})));
    ByteVec alert = alertData(*sim, 1);
    writeSeed(dir, "query_alert_reply",
              frame(kQueryAlert | kReplyBit, 3, encode(DataReply{0, static_cast<uint32_t>(alert.size()), alert})));
    PrtInfoReply info;
    sim->getPrtInfo(&info.info, 0);
    writeSeed(dir, "prtinfo_reply", frame(kGetPrtInfo | kReplyBit, 4, encode(info)));
    AddressReply address;
    sim->getPrinterAddrEx(0x01, &address.address, 2);
    writeSeed(dir, "address_reply", frame(kGetAddress | kReplyBit, 5, encode(address)));
    writeSeed(dir, "name_reply", frame(kGetName | kReplyBit, 6, encode(NameReply{0, "simlaser", "127.0.0.1"})));
    ByteVec two = frame(kAlert, 0, encode(AlertNotice{7, 0x5F7}));
    ByteVec error = frame(kError, 8, encode(ErrorReply{-3, "malformed request payload"}));
    two.insert(two.end(), error.begin(), error.end());
    writeSeed(dir, "alert_and_error", two);
    // The same stream for the assembler, in pieces of `cut` bytes, each after
    // a byte that gives its size less one.
    for (size_t cut : {size_t{1}, size_t{5}, size_t{13}, size_t{256}}) {
        ByteVec pieces;
        for (size_t at = 0; at < two.size(); at += cut) {
            size_t n = std::min(cut, two.size() - at);
            pieces.push_back(static_cast<uint8_t>(n - 1));
            pieces.insert(pieces.end(), two.begin() + static_cast<long>(at), two.begin() + static_cast<long>(at + n));
        }
        writeSeed(out / "frame_assembler", "alert_and_error_by_" + std::to_string(cut), pieces);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR QSVARS.CFG\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    replySeeds(out);
    alertSeeds(out);
    parserSeeds(out);
    qsfSeeds(out, argv[2]);
    frameSeeds(out);
    return 0;
}
