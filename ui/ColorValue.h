// A colour of the record (three doubles, red, green, blue, each 0..255 when the
// dialog wrote it) as the platform's 0x00BBGGRR colour value, and back.
#pragma once

#include <cstdint>

// One component as a byte: rounded by adding 0.5 and truncating. A record from
// elsewhere may hold anything: below 0 (and NaN) shows as 0, above 255 as 255.
uint8_t ColorComponentByte(double component);

// 0x00BBGGRR from the three components.
uint32_t ColorRefFromComponents(double red, double green, double blue);

// The three components (whole numbers 0..255) of a colour value.
void ComponentsFromColorRef(uint32_t color, double* red, double* green, double* blue);
