// Golden files of decoded replies: each line is an input, " => " and what the
// test makes of it; lines without " => " are headings. Compared whole.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "temp_dir.h"

namespace kvtest {

inline void expectGolden(const std::string& path, const std::function<std::string(const std::string&)>& decode) {
    std::istringstream golden(readText(path));
    std::string got;
    for (std::string line; std::getline(golden, line);) {
        const size_t arrow = line.find(" => ");
        got += (arrow == line.npos ? line : line.substr(0, arrow) + " => " + decode(line.substr(0, arrow))) + "\n";
    }
    EXPECT_EQ(got, readText(path));
}

// `text` with each "\0" made a zero byte.
inline std::string withZeros(std::string text) {
    for (size_t at; (at = text.find("\\0")) != text.npos;) text.replace(at, 2, 1, '\0');
    return text;
}

}  // namespace kvtest
