// Little-endian numbers in strings of bytes: the replay file and the online
// match's packets. Both come from outside the game, so reading never goes
// past the end of the bytes given.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// Appends the low `count` bytes of value, least significant first, to a
// std::string or a std::vector of bytes.
template <typename Bytes> void putLittleEndian(Bytes &out, uint64_t value, int count) {
    for (int i = 0; i < count; ++i)
        out.push_back(static_cast<typename Bytes::value_type>((value >> (8 * i)) & 0xffu));
}

class ByteReader {
  public:
    ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    size_t left() const { return size_ - at_; }
    size_t at() const { return at_; }
    const uint8_t *here() const { return data_ + at_; }

    // The next `count` bytes as a little-endian number; false, leaving the
    // reader where it was, when fewer are left.
    bool take(uint64_t &value, int count) {
        if (left() < static_cast<size_t>(count))
            return false;
        value = 0;
        for (int i = 0; i < count; ++i)
            value |= static_cast<uint64_t>(data_[at_ + i]) << (8 * i);
        at_ += static_cast<size_t>(count);
        return true;
    }
    // The same for a caller that has checked the size: 0 when fewer are left.
    uint64_t next(int count) {
        uint64_t value = 0;
        return take(value, count) ? value : 0;
    }
    // Skips `count` bytes, or what is left.
    void skip(size_t count) { at_ += std::min(count, left()); }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};
