#pragma once

#include <cstdint>

// The server's reply to one job, as ParseReply reads it from the text that
// Receive gives.
struct QorReply {
    int32_t pathStyle = 0; // separator of the server's paths: 0 ':', 1 '\', 2 '/'
    int32_t status = 0;    // 0 finish, -1 warning, -2 error, -3 stop
    char message[256] = {};
    char outputPath[512] = {};
    int64_t time1 = 0;
    int64_t time2 = 0;
};

// Reads a reply text (at most capacity bytes, lines separated by "\n"; empty
// lines vanish). Line 1 is the path style, line 3 the status word, line 4 the
// message, line 5 the processed file's path, lines 6 and 7 the two times.
// An unknown status word leaves status as it was. Returns 0 when the message
// line or a later one was present, else -1; also -1 when the path is too long
// for outputPath (it is never cut).
int ParseReply(const char* text, int capacity, QorReply& reply);
