#include "analysis/SearchText.h"

#include <cstring>

namespace qhs {

namespace {

// Sixteen bytes at a time with the compiler's vector types (plain SSE2 on x86-64): the
// builder runs over every payload a string filter looks at, at full network speed.
using ByteVector = std::uint8_t __attribute__((vector_size(16)));
using SignedByteVector = std::int8_t __attribute__((vector_size(16)));
constexpr std::size_t VectorBytes = sizeof(ByteVector);

inline ByteVector spacesForZeros(ByteVector bytes) {
    const ByteVector isZero = reinterpret_cast<ByteVector>(bytes == 0);
    return bytes | (isZero & 0x20);
}

inline ByteVector lowerCaseLetters(ByteVector bytes) {
    // Shifting 'A' to -128 turns "between 'A' and 'Z'" into one signed comparison.
    const SignedByteVector shifted = reinterpret_cast<SignedByteVector>(bytes + 0x80 - 'A');
    const ByteVector isUpper = reinterpret_cast<ByteVector>(shifted < -128 + 26);
    return bytes | (isUpper & 0x20);
}

inline char searchByte(std::uint8_t byte, bool foldCase) {
    if (byte == 0) {
        return ' ';
    }
    if (foldCase && byte >= 'A' && byte <= 'Z') {
        return static_cast<char>(byte | 0x20);
    }
    return static_cast<char>(byte);
}

}  // namespace

void writeSearchText(std::span<const std::uint8_t> payload, bool foldCase, char* out) {
    const std::uint8_t* in = payload.data();
    const std::size_t size = payload.size();
    std::size_t i = 0;
    for (; i + VectorBytes <= size; i += VectorBytes) {
        ByteVector bytes;
        std::memcpy(&bytes, in + i, VectorBytes);
        bytes = spacesForZeros(bytes);
        if (foldCase) {
            bytes = lowerCaseLetters(bytes);
        }
        std::memcpy(out + i, &bytes, VectorBytes);
    }
    for (; i < size; ++i) {
        out[i] = searchByte(in[i], foldCase);
    }
}

std::string_view makeSearchText(std::span<const std::uint8_t> payload, bool foldCase,
                                std::string& buffer) {
    buffer.resize(payload.size());
    writeSearchText(payload, foldCase, buffer.data());
    return buffer;
}

std::string foldToLowerCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c | 0x20);
        }
    }
    return folded;
}

}  // namespace qhs
