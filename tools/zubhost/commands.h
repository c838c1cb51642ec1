// The commands of zubhost, one file each; main holds the table.
#pragma once

#include <stdint.h>

// Each command takes its arguments and returns the driver's result (0 done,
// 1 refused, 2 failed) or, for a mistake in the arguments, kUsageError.
constexpr int32_t kUsageError = -1;

int32_t DescribeCommand(char **args);
int32_t VersionCommand(char **args);
int32_t ResolveCommand(char **args);
int32_t ReadCommand(char **args);
int32_t WriteCommand(char **args);
int32_t ReadBlockCommand(char **args);
int32_t WriteBlockCommand(char **args);
int32_t PollCommand(char **args);
int32_t RepeatCommand(char **args);
int32_t NoteCommand(char **args);
int32_t DecodeCommand(char **args);
// analyze takes every argument after it, up to the null at the end.
int32_t AnalyzeCommand(char **args);
