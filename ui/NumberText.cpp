#include "ui/NumberText.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Removes trailing zeros (never the first character), then a trailing point.
void TrimZeros(char* text) {
  size_t length = std::strlen(text);
  if (length == 0 || text[length - 1] != '0') return;
  while (length > 1 && text[length - 1] == '0') text[--length] = '\0';
  if (length > 1 && text[length - 1] == '.') text[--length] = '\0';
}

}  // namespace

void FormatNumberText(double value, char* text) {
  if (std::isnan(value)) {
    std::snprintf(text, kNumberTextSize, "nan");
    return;
  }
  if (std::isinf(value)) {
    std::snprintf(text, kNumberTextSize, value < 0 ? "-inf" : "inf");
    return;
  }
  char format[8];
  std::snprintf(format, sizeof format, "%%.%ldf", kNumberDecimals);  // "%.4f"
  const int length = std::snprintf(text, kNumberTextSize, format, value);
  if (length < 0 || length >= kNumberTextSize) {
    // Too long for the buffer (only values from outside the dialog get here): the
    // exponent form, at most 12 characters ("-1.7977e+308").
    std::snprintf(text, kNumberTextSize, "%.4e", value);
    // Its five digits, read back in single precision, can land just within the
    // fixed form's reach (-1.00000537e25 -> "-1.0000e+25" reads -9.99999956e24,
    // 25 digits): then that value's fixed form is written, so that the text reads
    // back to a value shown by the same text.
    double shown = 0.0;
    char fixed[64];
    if (ParseNumberText(text, &shown)) {
      const int fixedLength = std::snprintf(fixed, sizeof fixed, format, shown);
      if (fixedLength > 0 && fixedLength < kNumberTextSize) {
        std::memcpy(text, fixed, size_t(fixedLength) + 1);
        TrimZeros(text);
      }
    }
    return;
  }
  TrimZeros(text);
}

bool ParseNumberText(const char* text, double* value) {
  *value = 0.0;
  // The grammar, on at most the characters an edit hands over.
  char number[kNumberTextSize];
  size_t end = 0;
  size_t i = 0;
  const size_t limit = kNumberTextSize - 1;
  while (i < limit && text[i] != '\0' && IsBlank(text[i])) ++i;
  const size_t start = i;
  if (i < limit && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < limit && IsDigit(text[i])) ++i, ++digits;
  if (i < limit && text[i] == '.') {
    ++i;
    while (i < limit && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  end = i;
  // An exponent counts only with at least one digit ("1e" reads 1).
  if (i < limit && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < limit && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < limit && IsDigit(text[j])) {
      while (j < limit && IsDigit(text[j])) ++j;
      end = j;
    }
  }
  // Only characters of the grammar reach strtof, so it cannot meet "nan", "inf"
  // or a hexadecimal form; it rounds the decimal text straight to single precision.
  const size_t length = end - start;
  std::memcpy(number, text + start, length);
  number[length] = '\0';
  float f = std::strtof(number, nullptr);
  if (std::isinf(f)) f = f < 0 ? -FLT_MAX : FLT_MAX;
  *value = double(f);
  return true;
}
