#pragma once

#include <string>

// The processing mark that this server leaves in the TIFF files it writes:
// a private BYTE tag holding "KRYO", two bytes of zero, the signed count K of
// passes through a server, the signed length T of a text and the text. The
// text starts with a letter, so a reader that takes the first digit of "K
// text" sees K.

// The count the file carries; 0 when it is no TIFF or has no mark.
int ReadProcessingCount(const std::string& path);

// Writes the mark into the TIFF's first directory. False when the file cannot
// be opened for update or the directory cannot be rewritten.
bool WriteProcessingMark(const std::string& path, int count, const std::string& text);

// The bytes of a mark (the text cut to 127 bytes, the count to 0..127).
std::string ProcessingMarkBytes(int count, const std::string& text);
