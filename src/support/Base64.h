#pragma once

// Base64 (RFC 4648): the alphabet with + and /, padding with =, no line
// breaks. Bytes the stored files keep in text (the document file, the labels
// of IDML page items, property lists) go through it.

#include <cstdint>
#include <string>
#include <vector>

namespace base64 {

std::string Encode(const std::vector<uint8_t>& bytes);
// The canonical form only: a length that is a multiple of 4, padding only at
// the end, unused bits zero. Anything else is refused (false).
bool Decode(const std::string& text, std::vector<uint8_t>& out);

} // namespace base64
