// Growable array of heap records that owns (and deletes) its elements.
#pragma once

#include <cstdint>
#include <vector>

// The array starts with room for 5 elements and grows in steps of 5; that is the capacity it
// reports. The storage underneath grows geometrically, so filling it stays linear with
// thousands of rows.
template <class T> class COwningPtrArray
{
  public:
    static constexpr int32_t kInitialCapacity = 5;
    static constexpr int32_t kGrowBy = 5;

    COwningPtrArray() { m_data.reserve(kInitialCapacity); }
    ~COwningPtrArray() { RemoveAll(); }
    COwningPtrArray(const COwningPtrArray&) = delete;
    COwningPtrArray& operator=(const COwningPtrArray&) = delete;

    int32_t GetSize() const { return static_cast<int32_t>(m_data.size()); }
    int32_t GetCapacity() const { return m_capacity; }

    // An index out of range yields no element rather than an error.
    T* GetAt(int32_t index) const
    {
        return (index >= 0 && index < GetSize()) ? m_data[static_cast<std::size_t>(index)]
                                                 : nullptr;
    }

    // Takes ownership of element; returns its index.
    int32_t Add(T* element)
    {
        if (GetSize() == m_capacity)
            m_capacity += kGrowBy;
        m_data.push_back(element);
        return GetSize() - 1;
    }

    // Deletes the element at index and closes the gap; out-of-range indexes are ignored.
    void RemoveAt(int32_t index)
    {
        if (index < 0 || index >= GetSize())
            return;
        delete m_data[static_cast<std::size_t>(index)];
        m_data.erase(m_data.begin() + index);
    }

    // Deletes every element for which pred holds, keeping the others in order, in one pass.
    template <class Pred> void RemoveWhere(Pred pred)
    {
        std::size_t kept = 0;
        for (T* element : m_data)
        {
            if (pred(*element))
                delete element;
            else
                m_data[kept++] = element;
        }
        m_data.resize(kept);
    }

    // Deletes every element and starts again with the initial capacity.
    void RemoveAll()
    {
        for (T* element : m_data)
            delete element;
        m_data.clear();
        m_capacity = kInitialCapacity;
    }

  private:
    std::vector<T*> m_data;
    int32_t m_capacity = kInitialCapacity;
};
