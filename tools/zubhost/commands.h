// The commands of zubhost, one file each; main holds the table, and
// host_options.cpp the table of options. A command's file includes this
// alone for what every command is written with: the session, the command
// line and the words of results, types and values.
#pragma once

#include <string.h>

#include "command_line.h"
#include "host_session.h"
#include "host_texts.h"

// zubhost's exit codes, as --help lists them.
enum ExitCode {
  kExitDone = 0,         // every command done
  kExitNotDone = 1,      // a command refused or failed, or found nothing
  kExitUsage = 2,        // a mistake on the command line
  kExitNoDriver = 3,     // LUMISAR.DLL could not be loaded
  kExitCannotRead = 4,   // an input file could not be read
  kExitCannotWrite = 5,  // an output file could not be written
};

// Each command takes its arguments and returns the driver's result (0 done,
// 1 refused, 2 failed), or one of these, which end the run at once.
constexpr int32_t kUsageError = -kExitUsage;
constexpr int32_t kCannotRead = -kExitCannotRead;
constexpr int32_t kCannotWrite = -kExitCannotWrite;

// zubhost's option at argv[k], applied when it is one: as TakeOption.
int TakeHostOption(int argc, char **argv, int k);
void PrintHostOptions(FILE *to);
// The options of the commands that take their own, for the usage text,
// indented under the command.
constexpr int kCommandOptionIndent = 4;
void PrintAnalyzeOptions(FILE *to);
void PrintScanOptions(FILE *to);

// Each command's arguments read without a call to the driver, so that the
// whole command line is checked before the first exchange; false for a
// mistake (message printed).
bool CheckResolve(char **args);
bool CheckRead(char **args);
bool CheckWrite(char **args);
bool CheckReadBlock(char **args);
bool CheckWriteBlock(char **args);
bool CheckPoll(char **args);
bool CheckRepeat(char **args);
bool CheckDecode(char **args);
bool CheckAnalyze(char **args);
bool CheckScan(char **args);

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
// scan, like analyze, takes every argument after it: its options, all of
// them optional, and nothing else.
int32_t ScanCommand(char **args);
