#include "CipherVectors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace ludex::test {

namespace {

std::string FromHex(const std::string& hex) {
    if (hex == "-") {
        return {};
    }
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// Fields of each kind that hold text rather than hex bytes.
bool IsTextField(const std::string& kind, size_t index) {
    return (kind == "digest" && index == 1) || (kind == "base64" && index == 1) ||
           ((kind == "encrypt" || kind == "chain") && index == 0);
}

} // namespace

std::vector<TCipherVector> LoadCipherVectors(const std::string& kind) {
    const std::string path = std::string(LUDEX_TEST_DATA_DIR) + "/crypto/cipher_vectors.txt";
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::vector<TCipherVector> vectors;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        TCipherVector vector;
        vector.line = number;
        words >> vector.kind;
        if (vector.kind != kind) {
            continue;
        }
        std::string word;
        while (words >> word) {
            const size_t index = vector.fields.size();
            vector.fields.push_back(IsTextField(kind, index) ? (word == "-" ? std::string() : word)
                                                             : FromHex(word));
        }
        vectors.push_back(std::move(vector));
    }
    EXPECT_FALSE(vectors.empty()) << "no vectors of kind " << kind << " in " << path;
    return vectors;
}

} // namespace ludex::test
