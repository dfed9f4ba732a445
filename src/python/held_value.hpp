// The value inside a Node or Edge object: its own, or one kept in a table of
// values that query rows share, read in place until the object is written to.
//
// Rows wrap millions of values whose parts (an edge's core, a properties
// dict) lie all over memory; copying each into its object costs a cache miss
// per reference count, on making the object and again on freeing it. An
// object made for a row instead points at the value in its table and counts
// one reference to the table's keeper, which every object of the run shares.
// Nobody can tell: reads see the same parts, the properties dict is the same
// object, and assigning `properties` first copies the value into the object
// (so the table and the other rows keep theirs).
//
// Lifetimes. An object's own value never moves while the object lives, so a
// run that holds the object may read its value in place. A shared value lives
// in its table, which its keeper frees when the last object reading it lets
// go: an object that gains its own value detaches itself only, and a keeper
// whose count falls to zero while any run is on the stack is freed when the
// last run ends (reading_runs.hpp), never under a run that may be reading it.
//
// Both kinds fit the 16 bytes of the value itself, told apart by the low bit
// of the first word: a value's first member is a pointer to something
// allocated (aligned, so that bit is clear); a shared value's first word is
// the table entry's address with that bit set.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "reading_runs.hpp"

namespace velarto::py {

// What keeps a table of values alive while objects read from it. Counted
// without atomics: objects are made and freed under the interpreter lock.
struct ValueKeeper {
    std::size_t objects = 0;
    std::shared_ptr<const void> table;
    ValueKeeper** registered = nullptr; // the table's pointer to this keeper, cleared on release
    bool waiting = false;                // freed when the last run ends (reading_runs.hpp)

    void retain() { ++objects; }
    void release() {
        if (--objects != 0 || waiting) return;
        ReadingRun::release_keeper(this);
    }
    // Frees the keeper, and the table with it unless a store holds it too.
    void destroy() {
        if (registered) *registered = nullptr;
        delete this; // may free the table, and with it the values' parts
    }
};

template <class Value>
class HeldValue {
public:
    HeldValue(const Value& own) { new (bytes_) Value(own); } // NOLINT: a value converts
    HeldValue(Value&& own) { new (bytes_) Value(std::move(own)); } // NOLINT
    // A value in a table that `keeper` keeps alive; takes one count of it.
    HeldValue(const Value* shared, ValueKeeper* keeper) {
        const std::uintptr_t words[2] = {reinterpret_cast<std::uintptr_t>(shared) | 1,
                                          reinterpret_cast<std::uintptr_t>(keeper)};
        std::memcpy(bytes_, words, sizeof words);
        keeper->retain();
    }
    HeldValue(const HeldValue&) = delete;
    HeldValue& operator=(const HeldValue&) = delete;
    ~HeldValue() {
        if (shared()) {
            keeper()->release();
        } else {
            own().~Value();
        }
    }

    const Value& read() const { return shared() ? *target() : own(); }
    // The object's own value, copied out of the table first if need be.
    Value& write() {
        if (shared()) {
            ValueKeeper* kept = keeper();
            const Value* source = target();
            new (bytes_) Value(*source);
            kept->release(); // after the copy: the table may go with it, once no run reads it
        }
        return own();
    }

private:
    static_assert(sizeof(Value) >= 2 * sizeof(std::uintptr_t), "a shared value needs two words");

    std::uintptr_t word(int i) const {
        std::uintptr_t w;
        std::memcpy(&w, bytes_ + i * sizeof w, sizeof w);
        return w;
    }
    bool shared() const { return word(0) & 1; }
    const Value* target() const { return reinterpret_cast<const Value*>(word(0) & ~std::uintptr_t{1}); }
    ValueKeeper* keeper() const { return reinterpret_cast<ValueKeeper*>(word(1)); }
    Value& own() { return *std::launder(reinterpret_cast<Value*>(bytes_)); }
    const Value& own() const { return *std::launder(reinterpret_cast<const Value*>(bytes_)); }

    alignas(Value) unsigned char bytes_[sizeof(Value)];
};

} // namespace velarto::py
