// Open-addressing hash table of the tree's insertion index; its memory comes from a counted
// arena, so a table that cannot grow fails the row like any other allocation.
#include "pi_database_index.h"

#include <cstring>
#include <utility>

#include "alloc.h"

namespace pltfm::database {

namespace {

constexpr std::size_t kFirstCapacity = 64;

// FNV-1a over the link, the parent's address and the text; never 0 (0 marks a free slot).
uint64_t hash_of(InsertIndex::Link link, const void *parent, const char *text, std::size_t len) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint8_t byte) {
        h ^= byte;
        h *= 1099511628211ull;
    };
    mix(static_cast<uint8_t>(link));
    auto address = reinterpret_cast<uintptr_t>(parent);
    for (std::size_t i = 0; i < sizeof address; ++i) mix(static_cast<uint8_t>(address >> (8 * i)));
    for (std::size_t i = 0; i < len; ++i) mix(static_cast<uint8_t>(text[i]));
    return h != 0 ? h : 1;
}

}  // namespace

void **InsertIndex::slot(Link link, const void *parent, const char *text) noexcept {
    // Key texts are compared over at most 23 characters, as the tree stores them.
    const std::size_t len = ::strnlen(text, PLTFM_ATTR_VALUE_LEN - 1);
    if (!reserve(1)) return nullptr;
    const uint64_t h = hash_of(link, parent, text, len);
    for (std::size_t i = h & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
        Slot &s = slots_[i];
        if (s.hash == 0) {
            s.hash = h;
            s.link = link;
            s.parent = parent;
            std::memcpy(s.text, text, len);
            s.text[len] = '\0';
            ++used_;
            return &s.entry;
        }
        if (s.hash == h && s.link == link && s.parent == parent &&
            std::memcmp(s.text, text, len) == 0 && s.text[len] == '\0')
            return &s.entry;
    }
}

bool InsertIndex::reserve(std::size_t count) noexcept {
    // At most half full, so that probe runs stay short.
    if ((used_ + count) * 2 <= capacity_) return true;
    std::size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
    while ((used_ + count) * 2 > capacity) capacity *= 2;
    auto *slots = static_cast<Slot *>(tables_.alloc_zeroed(capacity, sizeof(Slot)));
    if (slots == nullptr) return false;
    for (std::size_t i = 0; i < capacity_; ++i) {
        const Slot &s = slots_[i];
        if (s.hash == 0) continue;
        std::size_t j = s.hash & (capacity - 1);
        while (slots[j].hash != 0) j = (j + 1) & (capacity - 1);
        slots[j] = s;
    }
    slots_ = slots;
    capacity_ = capacity;
    return true;
}

void InsertIndex::clear() noexcept {
    tables_.release_all();
    slots_ = nullptr;
    capacity_ = 0;
    used_ = 0;
}

void InsertIndex::swap(InsertIndex &other) noexcept {
    tables_.swap(other.tables_);
    std::swap(slots_, other.slots_);
    std::swap(capacity_, other.capacity_);
    std::swap(used_, other.used_);
}

}  // namespace pltfm::database
