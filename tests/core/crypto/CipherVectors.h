#pragma once

#include <string>
#include <vector>

namespace ludex::test {

// One line of tests/data/crypto/cipher_vectors.txt, written by make_vectors.py beside it: its
// kind ("md5", "digest", "base64", "encrypt", "chain") and its fields, byte strings decoded
// from hex ("-" is the empty string) except the texts of "digest" and "base64".
struct TCipherVector {
    std::string kind;
    std::vector<std::string> fields;
    int line = 0;
};

// All vectors of one kind, in file order; fails the calling test if the file cannot be read.
std::vector<TCipherVector> LoadCipherVectors(const std::string& kind);

} // namespace ludex::test
