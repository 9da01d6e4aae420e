#pragma once
// A scalar shared between threads with no ordering implied: a std::atomic whose plain
// reads, writes and compound updates (=, ++, +=, |= ...) and load()/store() without an
// argument are relaxed. Each access is whole (never torn); a reader sees the value of a
// previous instant, as the shared record promises. Where one value must publish others
// (a flag that says "the rest is written"), use std::atomic with its default ordering.
#include <atomic>

template <typename T>
struct Relaxed : std::atomic<T> {
    static constexpr std::memory_order order = std::memory_order_relaxed;

    Relaxed() noexcept : std::atomic<T>(T{}) {}
    constexpr Relaxed(T value) noexcept : std::atomic<T>(value) {}
    Relaxed(const Relaxed&) = delete;
    // One shared value assigned from another: a relaxed read, then a relaxed write.
    Relaxed& operator=(const Relaxed& other) noexcept
    {
        store(other.load());
        return *this;
    }

    T load(std::memory_order o = order) const noexcept { return std::atomic<T>::load(o); }
    void store(T value, std::memory_order o = order) noexcept { std::atomic<T>::store(value, o); }
    operator T() const noexcept { return load(); }
    T operator=(T value) noexcept
    {
        store(value);
        return value;
    }

    T operator++() noexcept { return this->fetch_add(1, order) + 1; }
    T operator++(int) noexcept { return this->fetch_add(1, order); }
    T operator--() noexcept { return this->fetch_sub(1, order) - 1; }
    T operator--(int) noexcept { return this->fetch_sub(1, order); }
    T operator+=(T v) noexcept { return this->fetch_add(v, order) + v; }
    T operator-=(T v) noexcept { return this->fetch_sub(v, order) - v; }
    T operator|=(T v) noexcept { return this->fetch_or(v, order) | v; }
    T operator&=(T v) noexcept { return this->fetch_and(v, order) & v; }
    T operator^=(T v) noexcept { return this->fetch_xor(v, order) ^ v; }
};
