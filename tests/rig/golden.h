// Golden files. expectGolden: decoded replies, each line an input, " => " and
// what the test makes of it, which may go on over lines that begin with two
// spaces; other lines are headings. expectGoldenFile: a whole text. Either is
// compared whole.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "temp_dir.h"

namespace kvtest {

// `text` against the file at `path`, reporting the first line that differs.
// With KVTEST_UPDATE_GOLDEN=1 in the environment the file is written instead
// (review the diff before committing it).
inline void expectGoldenFile(const std::string& path, const std::string& text) {
    if (const char* update = std::getenv("KVTEST_UPDATE_GOLDEN"); update && *update && std::string(update) != "0") {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    const std::string golden = readText(path);
    if (text == golden) return;
    std::istringstream got(text), want(golden);
    std::string a, b;
    for (int line = 1;; ++line) {
        bool moreA = static_cast<bool>(std::getline(got, a)), moreB = static_cast<bool>(std::getline(want, b));
        if (!moreA && !moreB) break;
        if (moreA != moreB || a != b) {
            ADD_FAILURE() << path << " differs at line " << line << "\n  golden: " << (moreB ? b : "(end)")
                          << "\n  now:    " << (moreA ? a : "(end)") << "\n(KVTEST_UPDATE_GOLDEN=1 rewrites it)";
            return;
        }
    }
    ADD_FAILURE() << path << " differs (KVTEST_UPDATE_GOLDEN=1 rewrites it)";
}

// `text` with each "\0" made a zero byte.
inline std::string withZeros(std::string text) {
    for (size_t at; (at = text.find("\\0")) != text.npos;) text.replace(at, 2, 1, '\0');
    return text;
}

inline void expectGolden(const std::string& path, const std::function<std::string(const std::string&)>& decode) {
    std::istringstream golden(readText(path));
    std::string got;
    for (std::string line; std::getline(golden, line);) {
        if (line.starts_with("  ")) continue;   // the rest of a result, made again from its input
        const size_t arrow = line.find(" => ");
        got += (arrow == line.npos ? line : line.substr(0, arrow) + " => " + decode(line.substr(0, arrow))) + "\n";
    }
    expectGoldenFile(path, got);
}

}  // namespace kvtest
