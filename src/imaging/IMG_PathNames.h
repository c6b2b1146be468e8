#pragma once

#include <cstddef>

// Decodes a PostScript string that begins with "(" into out (at most max
// characters, then a NUL; out holds max+1 bytes). Unescaped parentheses are
// dropped; \n \r \t \b \f, \( \) \\ and octal escapes (a backslash and up to
// three octal digits) give their characters; a backslash before any other
// character is dropped, as PostScript does. Stops at the end of the value or
// after max characters. Returns the number of characters stored.
std::size_t DecodePsString(const char* value, char* out, std::size_t max);

// Turns a DSC comment value into a file name in out (at most max characters
// and a NUL; out holds max+1 bytes): a PostScript string is decoded, any other
// value copied. Returns the name's PathKind; when that is not 0, 1 or 2 the
// name is made empty and -1 is returned.
int NameFromDscValue(const char* value, char* out, std::size_t max);
