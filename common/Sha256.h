#pragma once
// SHA-256 over a byte string. The language-file key uses a variant that
// stores the message length little-endian in the final block; everything
// else is the standard hash.
#include <cstddef>
#include <cstdint>

enum class Sha256Length { BigEndian, LittleEndian };

void Sha256(const uint8_t* data, size_t size, uint8_t digest[32],
            Sha256Length length = Sha256Length::BigEndian);
