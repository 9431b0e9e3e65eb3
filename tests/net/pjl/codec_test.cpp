// The PJL codec against hand-built bytes: what the builder refuses and
// frames, and each reply through the reader and its parser, malformed ones
// included (a row expecting "" expects the parser to refuse).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "pjl.h"

namespace pjl = kvnet::pjl;

namespace {

using Summary = std::function<std::string(std::string_view)>;

template <class T>
std::string or_empty(const std::optional<T>& v, const std::function<std::string(const T&)>& show) {
    return v ? show(*v) : "";
}

std::string fs(const std::optional<pjl::FsAnswer>& a) {
    if (!a) return "";
    std::string s = a->path + (a->fileError ? " error " + std::to_string(a->fileError) : "");
    if (!a->entry.name.empty()) s += a->entry.directory ? " dir" : " file " + std::to_string(a->entry.size);
    for (const auto& e : a->entries) s += " " + e.name + (e.directory ? "/" : ":" + std::to_string(e.size));
    if (!a->data.empty()) s += " @" + std::to_string(a->offset) + ":" + a->data;
    return s;
}

const Summary kId = [](std::string_view r) { return pjl::parseId(r).value_or(""); };
const Summary kVariables = [](std::string_view r) {
    return or_empty<std::vector<pjl::Listed>>(pjl::parseListing(r, "VARIABLES"), [](const auto& list) {
        std::string s;
        for (const auto& l : list) {
            s += l.name + (l.value ? "=" + *l.value : "") + "[" + l.kind + (l.readOnly ? " ro" : "") + "]";
            for (const auto& i : l.items) s += "," + i;
            s += ";";
        }
        return s;
    });
};
const Summary kConfig = [](std::string_view r) { return pjl::parseListing(r, "CONFIG") ? "ok" : ""; };
const Summary kInquiry = [](std::string_view r) {
    return or_empty<pjl::Inquiry>(pjl::parseInquiry(r), [](const auto& i) { return i.variable + (i.known ? "=" + i.value : "?"); });
};
const Summary kPageCount = [](std::string_view r) {
    return or_empty<uint64_t>(pjl::parsePageCount(r), [](uint64_t n) { return std::to_string(n); });
};
const Summary kFilesys = [](std::string_view r) {
    return or_empty<std::vector<pjl::Volume>>(pjl::parseFilesys(r), [](const auto& vs) {
        std::string s = "volumes";
        for (const auto& v : vs) s += " " + v.volume + std::to_string(v.total) + "/" + std::to_string(v.free) + v.status;
        return s;
    });
};
const Summary kQuery = [](std::string_view r) { return fs(pjl::parseFsQuery(r)); };
const Summary kDirList = [](std::string_view r) { return fs(pjl::parseDirList(r)); };
const Summary kUpload = [](std::string_view r) { return fs(pjl::parseUpload(r)); };
const Summary kEcho = [](std::string_view r) { return pjl::parseEcho(r).value_or("(none)"); };
const Summary kStatus = [](std::string_view r) {
    return or_empty<pjl::DeviceStatus>(pjl::parseDeviceStatus(r), [](const auto& d) {
        return std::to_string(d.code) + " " + d.display + (d.online ? " online" : " offline");
    });
};

}  // namespace

TEST(PjlCodec, RequestsAreRefusedOrFramedAndRepliesReadWithinBoundsAndParsedOrRefused) {
    pjl::Request good;
    EXPECT_TRUE(good.info("id") && good.setDefault("LPARM:PCL SYMSET", "ROMAN8") && good.setDefault("LANG", "A B") &&
                good.fsDownload("0:\\a b", std::string("\x1B\f", 2)) && good.fsInit("1:"));
    EXPECT_EQ(good.bytes(), "\x1B%-12345X@PJL\r\n@PJL INFO ID\r\n@PJL DEFAULT LPARM:PCL SYMSET=ROMAN8\r\n"
                            "@PJL DEFAULT LANG=\"A B\"\r\n@PJL FSDOWNLOAD FORMAT:BINARY SIZE=2 NAME=\"0:\\a b\"\r\n"
                            "\x1B\f@PJL FSINIT VOLUME=\"1:\"\r\n\x1B%-12345X");
    const std::function<bool(pjl::Request&)> refused[] = {
        [](auto& r) { return r.inquire("COPIES\r\n@PJL X"); },      [](auto& r) { return r.setDefault("A", "x\"y"); },
        [](auto& r) { return r.setDefault("A", std::string(256, 'x')); }, [](auto& r) { return r.echo("\x1B%-12345X"); },
        [](auto& r) { return r.fsQuery("pcl\\x"); },                  [](auto& r) { return r.fsUpload("0:\\x", 0, 40000); },
        [](auto& r) { return r.info(std::string(65, 'A')); },         [](auto& r) { return r.dinquire("LPARM:PCL"); },
        [](auto& r) { return r.fsInit("0:\\"); },
        [](auto& r) { return r.fsQuery("0:" + std::string(pjl::kMaxPath - 1, 'a')); },   // one byte too long
    };
    EXPECT_TRUE(pjl::Request().fsQuery("0:" + std::string(pjl::kMaxPath - 2, 'a')));   // the longest path
    for (const auto& add : refused) {
        pjl::Request r;
        EXPECT_TRUE(r.echo("first"));
        EXPECT_FALSE(add(r));
        EXPECT_FALSE(r.bytes()) << "a refused line spoils the whole request";
    }

    struct Row {
        const char* what;
        std::string bytes;   // as the printer sends them
        Summary parse;
        std::string expected;   // "" the parser refuses; "reader N" the reader's status N
    } rows[] = {
        {"id", "\r\n@PJL INFO ID\r\n\"SIM LASER 40\"\r\n\f", kId, "SIM LASER 40"},
        {"id unknown", "@PJL INFO ID\r\n\"?\"\r\n\f", kId, ""},
        {"another reply", "@PJL INFO CONFIG\r\nMEMORY=1\r\n\f", kId, ""},
        {"variables", "@PJL INFO VARIABLES\r\nCOPIES=1 [2 RANGE]\r\n\t1\r\n\t999\r\nLPARM:PCL SYMSET=ROMAN8 [1 ENUMERATED]\r\n"
                      "\tROMAN8\r\nSERIAL=\"A 1\" [1 STRING READONLY]\r\n\tA 1\r\n\f",
         kVariables, "COPIES=1[RANGE],1,999;LPARM:PCL SYMSET=ROMAN8[ENUMERATED],ROMAN8;SERIAL=A 1[STRING ro],A 1;"},
        {"fewer options than counted", "@PJL INFO VARIABLES\r\nCOPIES=1 [2 RANGE]\r\n\t1\r\n\f", kVariables, ""},
        {"more options than counted", "@PJL INFO VARIABLES\r\nA=1 [0 RANGE]\r\n\t1\r\n\f", kVariables, ""},
        {"a count not a number", "@PJL INFO VARIABLES\r\nA=1 [x RANGE]\r\n\f", kVariables, ""},
        {"config", "@PJL INFO CONFIG\r\nIN TRAYS [1 ENUMERATED]\r\n\tINTRAY1\r\nMEMORY=67108864\r\n\f", kConfig, "ok"},
        {"dinquire", "@PJL DINQUIRE LPARM:PCL SYMSET\r\nROMAN8\r\n\f", kInquiry, "LPARM:PCL SYMSET=ROMAN8"},
        {"inquire unknown", "@PJL INQUIRE NOSUCH\r\n\"?\"\r\n\f", kInquiry, "NOSUCH?"},
        {"inquire without value", "@PJL INQUIRE COPIES\r\n\f", kInquiry, ""},
        {"page count", "@PJL INFO PAGECOUNT\r\n98711\r\n\f", kPageCount, "98711"},
        {"page count by name", "@PJL INFO PAGECOUNT\r\nPAGECOUNT=7\r\n\f", kPageCount, "7"},
        {"page count overflowing", "@PJL INFO PAGECOUNT\r\n99999999999999999999\r\n\f", kPageCount, ""},
        {"filesys", "@PJL INFO FILESYS [2 TABLE]\r\n\tVOLUME\tTOTAL SIZE\tFREE SPACE\tLOCATION\tLABEL\tSTATUS\r\n"
                    "\t0:\t4194304\t1048576\tFLASH\t\tREAD-WRITE\r\n\f",
         kFilesys, "volumes 0:4194304/1048576READ-WRITE"},
        {"no file system", "@PJL INFO FILESYS\r\n\"?\"\r\n\f", kFilesys, "volumes"},
        {"filesys miscounted", "@PJL INFO FILESYS [3 TABLE]\r\nVOLUME\r\n0: 1 1\r\n\f", kFilesys, ""},
        {"query file", "@PJL FSQUERY NAME = \"0:\\a b\" TYPE=FILE SIZE=12\r\n\f", kQuery, "0:\\a b file 12"},
        {"query dir", "@PJL FSQUERY NAME=\"0:\\pcl\" TYPE=DIR\r\n\f", kQuery, "0:\\pcl dir"},
        {"query error", "@PJL FSQUERY NAME=\"0:\\x\"\r\nFILEERROR=3\r\n\f", kQuery, "0:\\x error 3"},
        {"query file without size", "@PJL FSQUERY NAME=\"0:\\x\" TYPE=FILE\r\n\f", kQuery, ""},
        {"dirlist", "@PJL FSDIRLIST NAME=\"0:\\\" ENTRY=1\r\n. TYPE=DIR\r\ndelivery note.frm TYPE=FILE SIZE=9\r\n\f",
         kDirList, "0:\\ ./ delivery note.frm:9"},
        {"dirlist entry malformed", "@PJL FSDIRLIST NAME=\"0:\\\"\r\nx TYPE=FILE\r\n\f", kDirList, ""},
        {"upload holding a form feed", "@PJL FSUPLOAD FORMAT:BINARY NAME=\"0:\\x\" OFFSET=2 SIZE=3\r\na\fb\f", kUpload,
         "0:\\x @2:a\fb"},
        {"upload larger than the bound", "@PJL FSUPLOAD FORMAT:BINARY NAME=\"0:\\x\" OFFSET=0 SIZE=70000\r\n", kUpload, "reader 2"},
        {"echo", "@PJL ECHO  kv 42\r\n\f", kEcho, "kv 42"},
        {"ustatus", "@PJL USTATUS DEVICE\r\nCODE=10001\r\nDISPLAY=\"00 READY\"\r\nONLINE=TRUE\r\n\f", kStatus, "10001 00 READY online"},
        {"info status offline", "@PJL INFO STATUS\r\nCODE=40021\r\nONLINE=FALSE\r\n\f", kStatus, "40021  offline"},
        {"status without online", "@PJL USTATUS DEVICE\r\nCODE=10001\r\n\f", kStatus, ""},
        {"status of a job", "@PJL USTATUS JOB\r\nSTART\r\n\f", kStatus, ""},
        {"status message built", pjl::deviceStatusMessage({10001, "A\"B\x01", true}), kStatus, "10001 A?B? online"},
        {"unclosed quote", "@PJL FSQUERY NAME=\"0:\\x TYPE=DIR\r\n\f", kQuery, ""},
        {"not pjl", "%!PS-Adobe\r\n\f", kEcho, "reader 3"},
        {"a control character", "@PJL ECHO a\x1B" "b\r\n\f", kEcho, "reader 3"},
        {"no form feed within the bound", "@PJL ECHO " + std::string(pjl::kMaxReply, 'x'), kEcho, "reader 2"},
        {"unfinished", "@PJL ECHO x\r\n", kEcho, "reader 1"},
    };
    for (const Row& row : rows) {
        pjl::ReplyReader reader;
        reader.feed(row.bytes);
        std::string reply;
        auto status = reader.next(&reply);
        std::string got = status == pjl::ReplyReader::Status::Reply ? row.parse(reply)
                                                                     : "reader " + std::to_string(static_cast<int>(status));
        EXPECT_EQ(got, row.expected) << row.what;
    }
}

// Device-status bytes to a status code and back, by the code's group.
TEST(PjlCodec, DeviceStatusBytesAndCodes) {
    using Bytes = std::array<uint8_t, 3>;
    const struct {
        Bytes bytes;
        unsigned code;
        Bytes back;
    } rows[] = {{{1, 0, 2}, pjl::kCodeReady, {1, 0, 2}},         {{0, 0, 2}, pjl::kCodeOffline, {0, 0, 2}},
                {{0x41, 0, 2}, pjl::kCodePrinting, {0x41, 0, 2}}, {{0x41, 2, 1}, pjl::kCodeJam, {0, 2, 5}},
                {{1, 4, 3}, pjl::kCodeWarning, {1, 4, 3}},       {{1, 4, 2}, pjl::kCodeWarning, {1, 4, 3}},
                {{0, 8, 5}, pjl::kCodeService, {0, 8, 5}}};
    for (const auto& row : rows) {
        const pjl::DeviceStatus s = pjl::deviceStatusOf(row.bytes, "");
        EXPECT_EQ(std::pair(s.code, pjl::deviceStatusBytes(s)), std::pair(row.code, row.back)) << row.code;
    }
}
