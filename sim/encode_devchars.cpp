// Device characteristics: bins, storage, interpreters, fonts and symbol sets.
#include "encoders.h"

namespace kvsim::encode {

// Fixed offsets up to byte 32, then three counted texts.
Reply deviceChars(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    const DeviceChars& d = s.deviceChars;
    Bytes head(33, 0);
    head[2] = d.byte2;
    head[7] = d.byte7;
    head[11] = d.byte11;
    for (int i = 0; i < 4; ++i) head[19 + static_cast<size_t>(i)] = static_cast<uint8_t>(d.memoryBytes >> (24 - 8 * i));
    Writer w;
    w.raw(head.data(), head.size());
    counted(w, d.text1);
    counted(w, d.codeLevel);
    counted(w, d.text3);
    return replyWith(w);
}

// Bin records of 32 bytes plus the name and the second text.
Reply inputBins(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(s.inputBins.size()));
    for (const InputBin& b : s.inputBins) {
        w.u8(b.number).be32(b.capacity).u8(0).u8(0).u8(0).u8(b.byte8).u8(b.sizeCode);
        for (int i = 0; i < 20; ++i) w.u8(0);
        counted(w, b.name);
        counted(w, b.text2);
    }
    return replyWith(w);
}

Reply outputBins(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(s.outputBins.size()));
    for (const OutputBin& b : s.outputBins) {
        w.u8(b.number).u8(b.byte1).be32(b.capacity).u8(b.byte6).u8(b.byte7);
        counted(w, b.name);
    }
    return replyWith(w);
}

Reply storageOptions(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(s.storage.size()));
    for (const std::string& entry : s.storage) counted(w, entry);
    return replyWith(w);
}

// Entries of 16 bytes plus the name, which is sent with its terminating zero
// byte (the length counts it).
Reply interpreters(const Profile& s, const Request& r) {
    if (!dataIs(r, {0xFF})) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(s.interpreters.size()));
    for (const Interpreter& i : s.interpreters) {
        w.u8(i.lu);
        for (int k = 1; k < 7; ++k) w.u8(0);
        w.be16(i.marker);
        for (int k = 9; k < 15; ++k) w.u8(0);
        w.u8(static_cast<unsigned>(i.name.size() + 1)).raw(i.name.data(), i.name.size()).u8(0);
    }
    return replyWith(w);
}

// The fonts whose selectors match the request (a font without selectors is
// listed for all), then the end marker FE FF 00 00.
Reply fontList(const Profile& s, const Request& r) {
    if (r.length != 3 || r.data[2] != 0) return invalidRequest();
    std::vector<const Font*> listed;
    for (const Font& f : s.fonts)
        if ((!f.selector1 || *f.selector1 == r.data[0]) && (!f.selector2 || *f.selector2 == r.data[1]))
            listed.push_back(&f);
    Writer w;
    w.u8(0x00).be16(static_cast<unsigned>(listed.size()));
    w.u8(static_cast<unsigned>(s.fontHeader.size())).raw(s.fontHeader.data(), s.fontHeader.size());
    for (const Font* f : listed) {
        w.u8(f->tag).u8(f->tag2).be16(static_cast<unsigned>(f->description.size()));
        w.raw(f->description.data(), f->description.size());
    }
    w.u8(0xFE).u8(0xFF).be16(0);
    return replyWith(w);
}

Reply symbolSets(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(0x00).be16(static_cast<unsigned>(s.symbolSets.size()));
    for (const SymbolSet& set : s.symbolSets) {
        w.be16(set.id).raw(set.complement.data(), set.complement.size());
        counted(w, set.name);
    }
    return replyWith(w);
}

Reply currentFont(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(0x00).u8(s.currentFont.tag).be16(s.currentFont.position).be16(s.currentFont.symbolSet).be32(s.currentFont.size);
    return replyWith(w);
}

}  // namespace kvsim::encode
