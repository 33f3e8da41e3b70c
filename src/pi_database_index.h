// Hash index beside a tuning tree: finds the entry of a list by its parent and key text, and
// the last lane of a port, so that adding a row costs the same however long the lists grow.
// Only insertion uses it; lookups keep walking the lists, whose order it never changes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "alloc.h"
#include "platform_types.h"

namespace pltfm::database {

class InsertIndex {
  public:
    // What a slot links to: the child of `parent` whose key text is `text`, or (with an empty
    // text) the last lane of the port `parent`.
    enum class Link : uint8_t { child, last_lane };

    InsertIndex() = default;
    ~InsertIndex() { clear(); }
    InsertIndex(const InsertIndex &) = delete;
    InsertIndex &operator=(const InsertIndex &) = delete;

    // The slot of (link, parent, text), added empty (null) when absent; the caller reads or
    // stores the entry through it. Null only when the table could not grow. The pointer is
    // valid until the table grows: after reserve(n), the next n slots are had without growing.
    void **slot(Link link, const void *parent, const char *text) noexcept;
    // Makes room for `count` new slots; false when the table could not grow.
    bool reserve(std::size_t count) noexcept;
    // Frees the table; the index is empty afterwards.
    void clear() noexcept;
    void swap(InsertIndex &other) noexcept;

  private:
    struct Slot {
        const void *parent;
        void *entry;
        uint64_t hash;  // 0: unused slot
        Link link;
        char text[PLTFM_ATTR_VALUE_LEN];
    };

    // Tables come from an arena of their own: one that the table outgrew is left there until
    // clear(), which costs at most the size of the current table and keeps a large index
    // on few pages (no fresh table faulted in page by page at each growth).
    mem::Arena tables_;
    Slot *slots_ = nullptr;
    std::size_t capacity_ = 0;  // a power of two, or 0
    std::size_t used_ = 0;
};

}  // namespace pltfm::database
