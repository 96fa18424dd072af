// An ordered list whose elements never move: a reference to an element stays
// valid while more elements are appended, as the configuration document
// promises its callers. Each element has its own allocation, which keeps a
// list of one or two elements small (a document may hold 100,000 sections).
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace velmora {

template <typename T> class StableList {
    using Slots = std::vector<std::unique_ptr<T>>;

public:
    template <typename Element, typename Base> class Iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Element*;
        using reference = Element&;

        Iterator() = default;
        explicit Iterator(Base base) : base_(base) {}
        reference operator*() const { return **base_; }
        pointer operator->() const { return base_->get(); }
        reference operator[](difference_type n) const { return *base_[n]; }
        Iterator& operator++() {
            ++base_;
            return *this;
        }
        Iterator operator++(int) { return Iterator(base_++); }
        Iterator& operator--() {
            --base_;
            return *this;
        }
        Iterator operator--(int) { return Iterator(base_--); }
        Iterator& operator+=(difference_type n) {
            base_ += n;
            return *this;
        }
        Iterator& operator-=(difference_type n) {
            base_ -= n;
            return *this;
        }
        friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
        friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
        friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) {
            return a.base_ - b.base_;
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.base_ == b.base_; }
        friend bool operator!=(const Iterator& a, const Iterator& b) { return a.base_ != b.base_; }
        friend bool operator<(const Iterator& a, const Iterator& b) { return a.base_ < b.base_; }
        friend bool operator>(const Iterator& a, const Iterator& b) { return a.base_ > b.base_; }
        friend bool operator<=(const Iterator& a, const Iterator& b) { return a.base_ <= b.base_; }
        friend bool operator>=(const Iterator& a, const Iterator& b) { return a.base_ >= b.base_; }

    private:
        Base base_{};
    };

    using value_type = T;
    using size_type = std::size_t;
    using reference = T&;
    using const_reference = const T&;
    using iterator = Iterator<T, typename Slots::iterator>;
    using const_iterator = Iterator<const T, typename Slots::const_iterator>;

    StableList() = default;
    StableList(StableList&&) noexcept = default;
    StableList& operator=(StableList&&) noexcept = default;
    StableList(const StableList& other) {
        slots_.reserve(other.size());
        for (const T& item : other)
            slots_.push_back(std::make_unique<T>(item));
    }
    StableList& operator=(const StableList& other) {
        if (this != &other)
            *this = StableList(other);
        return *this;
    }

    size_type size() const { return slots_.size(); }
    bool empty() const { return slots_.empty(); }
    T& operator[](size_type i) { return *slots_[i]; }
    const T& operator[](size_type i) const { return *slots_[i]; }
    T& at(size_type i) { return *slots_.at(i); }
    const T& at(size_type i) const { return *slots_.at(i); }
    T& front() { return *slots_.front(); }
    const T& front() const { return *slots_.front(); }
    T& back() { return *slots_.back(); }
    const T& back() const { return *slots_.back(); }
    iterator begin() { return iterator(slots_.begin()); }
    iterator end() { return iterator(slots_.end()); }
    const_iterator begin() const { return const_iterator(slots_.begin()); }
    const_iterator end() const { return const_iterator(slots_.end()); }

    // Appends an element; on failure the list is left as it was.
    template <typename... Args> T& emplace_back(Args&&... args) {
        auto item = std::make_unique<T>(std::forward<Args>(args)...);
        slots_.push_back(std::move(item));
        return *slots_.back();
    }
    void push_back(T item) { emplace_back(std::move(item)); }
    void pop_back() { slots_.pop_back(); }
    void clear() { slots_.clear(); }

private:
    Slots slots_;
};

} // namespace velmora
