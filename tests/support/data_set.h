// A data set written the way dnaprep lays it out, straight from the input texts.
#pragma once

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/dna.h"
#include "tests/support/files.h"

namespace testsupport {

// Writes <dir><prefix>.ST/ with one .stdna (in upper case when `upper`) and .stbin per
// input and both length catalogues; returns the data-set base <dir><prefix>.ST/<prefix>.
inline std::string writeInputs(const std::string& dir, const std::string& prefix,
                               const std::vector<std::string>& inputs, bool upper = false) {
    const std::string setDir = dir + prefix + ".ST/";
    std::filesystem::create_directories(setDir);
    const std::string base = setDir + prefix;
    std::vector<int32_t> lengths, bitLengths;
    for (size_t i = 0; i < inputs.size(); i++) {
        std::string text = inputs[i];
        if (upper)
            for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string name = base + "_" + std::to_string(i);
        writeFile(name + ".stdna", text);
        writeFile(name + ".stbin", packBases(text));
        lengths.push_back(static_cast<int32_t>(text.size()));
        bitLengths.push_back(static_cast<int32_t>(2 * text.size()));
    }
    writeFile(base + ".stlengths", lengths);
    writeFile(base + ".stblengths", bitLengths);
    return base;
}

}  // namespace testsupport
