#pragma once

// Classifies a path as written by some machine: 0 Mac style ("Vol:Folder:File"),
// 1 Windows ("C:\..." or "\\server\share\..."), 2 Unix ("/dir/file"), or -1 when
// the text is no recognised absolute path. A null text gives -1.
int PathKind(const char* text);
