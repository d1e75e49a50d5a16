// Little-endian fields, the byte order of every binary format pack reads:
// zip records, PE headers and the certificate table.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// Fields of width 1 to 4 at a byte pointer.
uint32_t GetField(const unsigned char* at, size_t width);
void SetField(unsigned char* at, uint32_t value, size_t width);

// Fields of 8 bytes at a byte pointer: Zip64's sizes, offsets and counts.
uint64_t GetField64(const unsigned char* at);
void SetField64(unsigned char* at, uint64_t value);

// The same at an offset into bytes held as text; the caller has checked
// that offset + width lies within them.
uint32_t GetField(const std::string& bytes, size_t offset, size_t width);
void SetField(std::string& bytes, size_t offset, uint32_t value, size_t width);
