#pragma once

#include <string>

// The processing mark that this server leaves in the TIFF files it writes:
// a private BYTE tag holding "KRYO", two bytes of zero, the signed value K,
// the signed length T of a text and the text. K is the process option the
// job applied (0 to 7): the plug-in's image readers report it as the file's
// process count, and the plug-in takes it as the option an earlier run
// recorded, from which it proposes the process code of a new order for the
// file. The text starts with a letter, so a reader that takes the first digit
// of "K text" sees K.

// Writes the mark into the TIFF's first directory. False when the file cannot
// be opened for update or the directory cannot be rewritten.
bool WriteProcessingMark(const std::string& path, int option, const std::string& text);

// The bytes of a mark (the text cut to 127 bytes, the option to 0..127).
std::string ProcessingMarkBytes(int option, const std::string& text);
