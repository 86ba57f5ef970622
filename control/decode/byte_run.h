// A short run of bytes kept inline: the VIB of a record as received is a
// VIF and a few VIFEs nearly always, and decoding must not allocate once per
// record for it. Longer runs (a plain-text unit) go to the heap.

#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mbus {

class ByteRun {
public:
    static constexpr std::size_t kInline = 16;

    ByteRun() = default;
    ByteRun(std::initializer_list<uint8_t> bytes) { assign(bytes.begin(), bytes.end()); }
    ByteRun& operator=(std::initializer_list<uint8_t> bytes) {
        assign(bytes.begin(), bytes.end());
        return *this;
    }

    void assign(const uint8_t* first, const uint8_t* last) {
        size_ = last > first ? static_cast<std::size_t>(last - first) : 0;
        if (size_ <= kInline) {
            heap_.clear();
            std::copy(first, first + size_, inline_.begin());
        } else {
            heap_.assign(first, last);
        }
    }
    void clear() {
        size_ = 0;
        heap_.clear();
    }
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    const uint8_t* data() const { return size_ <= kInline ? inline_.data() : heap_.data(); }
    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + size_; }

    friend bool operator==(const ByteRun& a, const ByteRun& b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }
    friend bool operator==(const ByteRun& a, const std::vector<uint8_t>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    std::array<uint8_t, kInline> inline_{};
    std::vector<uint8_t> heap_;
    std::size_t size_ = 0;
};

}  // namespace mbus
