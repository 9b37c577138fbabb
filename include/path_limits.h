// How long the names a run handles may be: the -m, -f and name texts, and
// a module path with its extension.
#pragma once

constexpr int PATH_TEXT_MAX = 259;                   // longest -m, -f or name text
constexpr int TYPE_NAME_MAX = 4;                     // longest file type: "srec"
constexpr int PATH_BUFFER_SIZE = PATH_TEXT_MAX + TYPE_NAME_MAX + 2;  // + ".ext" + terminator
