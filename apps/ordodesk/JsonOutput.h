#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

// The JSON that the commands print. Texts are bytes as read (file names,
// names in a file, a server's configuration) and need not be UTF-8, which
// JSON text must be: a text that is valid UTF-8 is printed as a string, as
// it stands; any other is printed as {"bytes": "<base64 of its bytes>"}
// (docs/cli.md), so no byte is lost and no text is mistaken for another.
bool IsValidUtf8(std::string_view text);
std::string Base64(std::string_view bytes);

// j with every string that is not valid UTF-8 replaced as above, indented
// by indent (-1: all on one line); never throws for a text. Every JSON the
// program prints, the host shell's included, goes through here: nlohmann's
// own dump() throws on a text that is not UTF-8 and would end the session.
std::string DumpJson(const nlohmann::ordered_json& j, int indent = 2);
