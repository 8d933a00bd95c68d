#pragma once
// The dishes of an import by key (CDFILAUXPRAT and CDPRATO as UTF-8, joined by 0x1F), each with a
// number: open addressing over an FNV-1a hash of the key's bytes, the keys side by side in one
// buffer in the order they were added. An import looks a key up once per dish and once per run of
// a dish's recipe rows, a million times for a large file; Qt's hash of a byte array costs ten times
// FNV's on these short codes, and each QByteArray key an allocation of its own.
#include "fnv1a.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace RdmMethods::importacao_detail {

class DishIndex {
public:
    // The number of the key of `aux` and `prato`; when it is not there yet, it is added with the
    // number `next`, and `added` is set. Keys are entered in the order they are added.
    int findOrAdd(QByteArrayView aux, QByteArrayView prato, int next, bool &added)
    {
        if ((m_entries.size() + 1) * 2 > m_slots.size())
            grow();
        const qsizetype at = m_keys.size();
        m_keys.append(aux).append(char(0x1F)).append(prato);
        const QByteArrayView key(m_keys.constData() + at, m_keys.size() - at);
        const std::uint64_t h = hash(key);
        for (size_t i = size_t(h) & m_mask;; i = (i + 1) & m_mask) {
            Slot &s = m_slots[i];
            if (s.entry < 0) {
                s = Slot{h, int(m_entries.size())};
                m_entries.push_back(Entry{at, aux.size(), key.size(), next});
                added = true;
                return next;
            }
            if (s.hash == h && keyOf(s.entry) == key) {
                m_keys.truncate(at);
                added = false;
                return m_entries[size_t(s.entry)].value;
            }
        }
    }
    // The number of `key`, or -1. `near` is the entry found by the call before (-1 at first): a
    // file's recipe rows come in its dishes' order, so the entry after it is compared first.
    int value(QByteArrayView key, int &near) const
    {
        if (near + 1 < int(m_entries.size()) && keyOf(near + 1) == key)
            return m_entries[size_t(++near)].value;
        if (m_entries.empty())
            return -1;
        const std::uint64_t h = hash(key);
        for (size_t i = size_t(h) & m_mask;; i = (i + 1) & m_mask) {
            const Slot &s = m_slots[i];
            if (s.entry < 0)
                return -1;
            if (s.hash == h && keyOf(s.entry) == key) {
                near = s.entry;
                return m_entries[size_t(s.entry)].value;
            }
        }
    }
    bool isEmpty() const { return m_entries.empty(); }
    // Every key's number n becomes `number[n]`.
    void renumber(const std::vector<int> &number)
    {
        for (Entry &e : m_entries)
            e.value = number[size_t(e.value)];
    }
    // The parts of the `entry`-th key added.
    QByteArrayView aux(int entry) const
    {
        const Entry &e = m_entries[size_t(entry)];
        return QByteArrayView(m_keys.constData() + e.at, e.auxLength);
    }
    QByteArrayView prato(int entry) const
    {
        const Entry &e = m_entries[size_t(entry)];
        return QByteArrayView(m_keys.constData() + e.at + e.auxLength + 1, e.length - e.auxLength - 1);
    }

    static std::uint64_t hash(QByteArrayView key)
    {
        const std::uint64_t h = Fnv1a::add(Fnv1a::kBasis, key.data(), key.size());
        // The slot is taken from the low bits: the high ones are folded into them.
        return h ^ (h >> 29);
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        int entry = -1; // -1: a free slot
    };
    struct Entry {
        qsizetype at, auxLength, length; // where the key begins in m_keys, and its parts' lengths
        int value;
    };
    QByteArrayView keyOf(int entry) const
    {
        const Entry &e = m_entries[size_t(entry)];
        return QByteArrayView(m_keys.constData() + e.at, e.length);
    }
    void grow()
    {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.resize(old.empty() ? 1024 : old.size() * 2);
        m_mask = m_slots.size() - 1;
        for (const Slot &s : old) {
            if (s.entry < 0)
                continue;
            size_t i = size_t(s.hash) & m_mask;
            while (m_slots[i].entry >= 0)
                i = (i + 1) & m_mask;
            m_slots[i] = s;
        }
    }

    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    std::vector<Entry> m_entries; // in the order the keys were added
    QByteArray m_keys;
};

} // namespace RdmMethods::importacao_detail
