#pragma once
// Text routines of the peer protocol and the input fields. Texts are byte
// strings in Windows-1251; a blank is the space character (32) only.

#include <bitset>
#include <string>

namespace dz {

// A set of 8-bit character codes.
using TDelimSet = std::bitset<256>;

TDelimSet MakeDelimSet(std::string_view chars);

// The three sets the protocol uses.
const TDelimSet &DelimEqBar(); // '=' and '|'
const TDelimSet &DelimEq();    // '=' alone
const TDelimSet &DelimBar();   // '|' alone

// Removes blanks from the end, then from the start, in place.
void TrimBlanks(std::string &s);
// Copy of s without blanks at either end.
std::string TrimText(const std::string &s);
// Removes characters of the set from the end, then from the start, in place.
void StripChars(const TDelimSet &set, std::string &s);
// Upper-cases Latin a-z, Cyrillic а-я and ё by a fixed table, whatever the locale.
std::string UpperText(const std::string &s);
// Every control character (codes 0-31 and 127) made a blank, so that a text
// from the peer stays one line wherever it is shown or stored.
std::string OneLine(const std::string &s);
// Field n (low 8 bits; 0 = the whole cleaned text) of s split by the set.
// Runs of delimiters act as one; a field of blanks counts and yields "".
std::string ExtractField(const TDelimSet &set, const std::string &s, int n);

} // namespace dz
