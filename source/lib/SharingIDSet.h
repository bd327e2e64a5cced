// The ids of the processors that share one cache: ascending, each once. A
// few live inside the record itself, so that describing a processor's caches
// allocates nothing for them; more spill to the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class SharingIDSet {
public:
    std::size_t size() const { return m_size; }
    uint16_t operator[](std::size_t index) const { return Data()[index]; }
    const uint16_t* begin() const { return Data(); }
    const uint16_t* end() const { return Data() + m_size; }

    // Room for `count` ids: an insert within it never allocates. Throws
    // std::bad_alloc.
    void reserve(std::size_t count);
    // Adds an id unless present; false when it was. Throws std::bad_alloc
    // past the room reserved.
    bool insert(uint16_t id);

private:
    static constexpr std::size_t kInline = 6;
    const uint16_t* Data() const { return m_spilled.empty() ? m_inline : m_spilled.data(); }

    uint16_t m_inline[kInline] = {};
    std::vector<uint16_t> m_spilled;  // every id, once they no longer fit inside
    uint32_t m_size = 0;
};
