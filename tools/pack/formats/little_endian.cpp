// Little-endian fields, read and written byte by byte whatever the host's order.
#include "tools/pack/formats/little_endian.h"

uint32_t GetField(const unsigned char* at, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = (value << 8) | at[i];
    }
    return value;
}

void SetField(unsigned char* at, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xff);
    }
}

uint64_t GetField64(const unsigned char* at) {
    return (static_cast<uint64_t>(GetField(at + 4, 4)) << 32) | GetField(at, 4);
}

void SetField64(unsigned char* at, uint64_t value) {
    SetField(at, static_cast<uint32_t>(value), 4);
    SetField(at + 4, static_cast<uint32_t>(value >> 32), 4);
}

uint32_t GetField(const std::string& bytes, size_t offset, size_t width) {
    return GetField(reinterpret_cast<const unsigned char*>(bytes.data()) + offset, width);
}

void SetField(std::string& bytes, size_t offset, uint32_t value, size_t width) {
    SetField(reinterpret_cast<unsigned char*>(&bytes[0]) + offset, value, width);
}
