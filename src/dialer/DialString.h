#pragma once

#include "dialer/WvdialPhonebook.h"

#include <QString>

// What a dial string may carry. The guard's chat runs as root and sends what the phonebook says:
// a value that names a file or hides a second dial would have root read that file to the modem
// or dial a number nobody authorised.
namespace DialString {

// The number a dial string dials, for comparing: a leading ATD, ATDT or ATDP (any letter case)
// dropped, then only 0-9 * # + kept.
QString Reduce(const QString& dial);

// Whether what follows that leading ATD, ATDT or ATDP is dialling characters only (0-9 * # + , W P
// T ! blank - ( ), any letter case). Reduce drops the rest, yet a modem acts on it: "S=0" dials a
// stored number, "L" the last one.
bool OnlyDialling(const QString& dial);

// Where a modem command line holds a basic D (dial) command: a D that is not part of an &, \, %,
// * or + command; -1 when it holds none ("ATQ0 V1 E1 S0=0 &C1 &D2 +FCLASS=0" holds none).
qsizetype DialAt(const QString& command);

// Why the entry must not be dialled; empty when it may.
QString Refusal(const PhonebookEntry& entry);

} // namespace DialString
