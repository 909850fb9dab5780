// The text of a number in the dialog's edit fields: written with four decimals
// and trimmed, read by the dialog's own grammar into single precision. Pure code,
// so that both directions are tested without a window.
#pragma once

// Every number text fits a 32-byte buffer: at most 31 characters and the zero.
const int kNumberTextSize = 32;
// Decimals written before trimming.
const long kNumberDecimals = 4;

// Writes value into text (kNumberTextSize bytes): "%.4f", then trailing zeros and
// a trailing point trimmed (45 -> "45", 12.5 -> "12.5", 99.99996 -> "100").
// A value whose "%.4f" form would not fit (|value| of about 1e26 and more) is
// written as "%.4e" instead (1e30 -> "1.0000e+30"), unless what that text reads
// back would fit, which is then written in the fixed form, so that a text read
// back is always shown by the same text. NaN as "nan", infinities as
// "inf" and "-inf". Those three texts are refused when read back, as any text
// without a leading number is. Never writes more than kNumberTextSize bytes.
void FormatNumberText(double value, char* text);

// Reads the leading number of text: blanks, an optional sign, digits with an
// optional point (at least one digit), an optional exponent; whatever follows is
// ignored ("12abc" reads 12, "0x10" reads 0). The number is rounded to single
// precision and widened back to a double (45.1 -> 45.099998474121094). Returns
// false, with *value 0, when no number leads the text ("", "-", ".", "nan", "inf").
// A number beyond single precision's range reads as the largest single-precision
// value of its sign, so a non-finite value never comes out. At most the first
// kNumberTextSize - 1 characters are looked at, as many as an edit hands over.
bool ParseNumberText(const char* text, double* value);
