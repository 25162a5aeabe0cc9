// A hash map of small keys kept in one array (open addressing, linear probing): no
// allocation per entry, and a lookup touches one or two cache lines. Used where a whole
// case goes through a map, as when a case file is read (bus numbers, element keys).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace gridfold::pf {

template <class Key, class Value, class Hash>
class FlatMap {
public:
    const Value* find(const Key& key) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t at = home(key);; at = (at + 1) & mask()) {
            const Slot& slot = slots_[at];
            if (!slot.used) return nullptr;
            if (slot.key == key) return &slot.value;
        }
    }
    bool contains(const Key& key) const { return find(key) != nullptr; }
    // Adds the entry unless the key is present; true when added.
    bool insert(const Key& key, const Value& value) {
        if ((size_ + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        for (std::size_t at = home(key);; at = (at + 1) & mask()) {
            Slot& slot = slots_[at];
            if (!slot.used) {
                slot = Slot{key, true, value};
                ++size_;
                return true;
            }
            if (slot.key == key) return false;
        }
    }
    std::size_t size() const { return size_; }
    // Room for `count` entries without a rehash: a map filled from a file whose sections are
    // counted first is sized once instead of doubling its way up.
    void reserve(std::size_t count) {
        std::size_t capacity = 16;
        while (capacity < count * 2) capacity *= 2;
        if (capacity > slots_.size()) rehash(capacity);
    }
    void clear() {
        slots_.clear();
        size_ = 0;
        shift_ = 64;
    }

private:
    // The flag before the value: with a key of four bytes and a value of eight, a slot takes
    // 16 bytes instead of 24, and more of the map stays in the cache.
    struct Slot {
        Key key{};
        bool used = false;
        Value value{};
    };
    std::size_t mask() const { return slots_.size() - 1; }
    // Fibonacci hashing: the top bits of the product, which every bit of the key reaches.
    std::size_t home(const Key& key) const {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(Hash()(key)) * 0x9E3779B97F4A7C15ULL) >> shift_);
    }
    void rehash(std::size_t capacity) {
        shift_ = 64;
        for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        size_ = 0;
        for (const Slot& slot : old)
            if (slot.used) insert(slot.key, slot.value);
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    int shift_ = 64;  // 64 - log2 of the capacity, a power of two
};

}  // namespace gridfold::pf
