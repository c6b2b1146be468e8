#pragma once
// Settings of this client that the preferences file has no room for, kept
// beside it in the identity folder, in "OD_Settings.txt": one "key value"
// line each; other keys are passed over.
//   notAnsweringSeconds <seconds>  how long a sent order waits before the
//                                  panel says the server is not answering
// A file that does not read gives the default.
#include <cstdint>
#include <string_view>

inline constexpr const char* kODClientSettingsFileName = "OD_Settings.txt";
inline constexpr int kODNotAnsweringDefaultSeconds = 60;
inline constexpr int kODNotAnsweringMinSeconds = 1;
inline constexpr int kODNotAnsweringMaxSeconds = 24 * 60 * 60;

// Reads the settings' text: the time limit of the last line that gives a
// usable one, else the default. False when a line does not read; the lines
// that do still count.
bool ParseClientSettings(std::string_view text, int& notAnsweringSeconds);

// The time limit, read from the identity folder at first use.
int NotAnsweringSeconds();
// Sets and stores it; false (nothing changed) when it is out of range or
// cannot be written.
bool SetNotAnsweringSeconds(int seconds);
// Forgets what was read, as a new process would (tests).
void ForgetClientSettingsForTesting();
