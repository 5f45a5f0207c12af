// Reading the command-line tail. Options are plain, case-sensitive substring tests and
// may stand anywhere, with one exception: the argument of the first "/inf=" is a file
// path, and a path such as C:/updates/net.inf must not read as "/u".
#pragma once

#include <cstddef>

enum class RunMode { Default, SingleInf, Uninstall };

struct CommandOptions {
  RunMode mode;
  bool recordMode;
};

// Decides the mode and RecordMode, and in the single-INF mode copies the INF argument
// (at most capacity - 1 characters) into infArgument.
CommandOptions ReadCommandOptions(const char* tail, char* infArgument, size_t infArgumentCapacity);
