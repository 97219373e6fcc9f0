#ifndef VORSEL_VALUEPARSERS_H
#define VORSEL_VALUEPARSERS_H

#include <QString>

#include "commands.h"

// How the command line's byte address and tag data are read: pure, so that the fuzzer drives them
// as the command line does.

// Digits as typed, ASCII only: a character that merely upper-cases to a digit (a ligature such
// as U+FB00) would send data nobody typed.
bool isHexadecimalText(const QString &text);

// The byte address as typed: hexadecimal digits only, 0 to 87; else -1.
int byteAddress(const QString &text);

// Why the tag data does not fit the operation exactly, or nothing when it does: nothing may be
// cut off or padded.
QString tagDataProblem(Commands::ValueForm form, const QString &tagData, int pages, int address);

#endif
