#pragma once

// The object type of our JSON values: members stay in file (or insertion) order, as in
// nlohmann's ordered_map, but a hash index finds a key in constant time. The plain ordered map
// searches linearly, which makes reading or writing an object of n members cost n^2: a scene of
// a hundred thousand entries would take minutes.

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace hueslice::io::detail {

template <class Key, class T, class IgnoredLess = std::less<Key>,
          class Allocator = std::allocator<std::pair<const Key, T>>>
struct IndexedOrderedMap : std::vector<std::pair<const Key, T>, Allocator> {
    using key_type = Key;
    using mapped_type = T;
    using Container = std::vector<std::pair<const Key, T>, Allocator>;
    using iterator = typename Container::iterator;
    using const_iterator = typename Container::const_iterator;
    using size_type = typename Container::size_type;
    using value_type = typename Container::value_type;
    using key_compare = std::equal_to<>;
    // Overloads for key-like arguments (string views, literals) that are not the key type itself.
    template <class K>
    using OtherKey = std::enable_if_t<!std::is_same_v<std::decay_t<K>, key_type>, int>;

    IndexedOrderedMap() = default;
    template <class It>
    IndexedOrderedMap(It first, It last) {
        insert(first, last);
    }
    IndexedOrderedMap(std::initializer_list<value_type> init) { insert(init.begin(), init.end()); }

    std::pair<iterator, bool> emplace(const key_type& key, T&& value) {
        const auto [slot, added] = index.emplace(key, this->size());
        if (!added)
            return {this->begin() + static_cast<std::ptrdiff_t>(slot->second), false};
        Container::emplace_back(key, std::forward<T>(value));
        return {std::prev(this->end()), true};
    }
    template <class K, OtherKey<K> = 0>
    std::pair<iterator, bool> emplace(K&& key, T&& value) {
        return emplace(key_type(std::forward<K>(key)), std::forward<T>(value));
    }

    T& operator[](const key_type& key) { return emplace(key, T{}).first->second; }
    template <class K, OtherKey<K> = 0>
    T& operator[](K&& key) {
        return (*this)[key_type(std::forward<K>(key))];
    }
    const T& operator[](const key_type& key) const { return at(key); }

    T& at(const key_type& key) { return const_cast<T&>(std::as_const(*this).at(key)); }
    const T& at(const key_type& key) const {
        const auto found = index.find(key);
        if (found == index.end())
            throw std::out_of_range("key not found");
        return (this->begin() + static_cast<std::ptrdiff_t>(found->second))->second;
    }
    template <class K, OtherKey<K> = 0>
    T& at(K&& key) {
        return at(key_type(std::forward<K>(key)));
    }
    template <class K, OtherKey<K> = 0>
    const T& at(K&& key) const {
        return at(key_type(std::forward<K>(key)));
    }

    iterator find(const key_type& key) {
        const auto found = index.find(key);
        return found == index.end() ? this->end()
                                    : this->begin() + static_cast<std::ptrdiff_t>(found->second);
    }
    const_iterator find(const key_type& key) const {
        const auto found = index.find(key);
        return found == index.end() ? this->end()
                                    : this->begin() + static_cast<std::ptrdiff_t>(found->second);
    }
    template <class K, OtherKey<K> = 0>
    iterator find(K&& key) {
        return find(key_type(std::forward<K>(key)));
    }
    template <class K, OtherKey<K> = 0>
    const_iterator find(K&& key) const {
        return find(key_type(std::forward<K>(key)));
    }

    size_type count(const key_type& key) const { return index.count(key); }
    template <class K, OtherKey<K> = 0>
    size_type count(K&& key) const {
        return index.count(key_type(std::forward<K>(key)));
    }

    // Erasing is rare (nothing here erases members): it rebuilds the array and the index.
    size_type erase(const key_type& key) {
        const auto at = find(key);
        if (at == this->end())
            return 0;
        erase(at);
        return 1;
    }
    template <class K, OtherKey<K> = 0>
    size_type erase(K&& key) {
        return erase(key_type(std::forward<K>(key)));
    }
    iterator erase(iterator pos) { return erase(pos, std::next(pos)); }
    iterator erase(iterator first, iterator last) {
        const auto offset = first - this->begin();
        Container kept;
        kept.reserve(this->size() - static_cast<size_type>(last - first));
        for (auto it = this->begin(); it != this->end(); ++it) {
            if (it < first || it >= last)
                kept.emplace_back(it->first, std::move(it->second));
        }
        Container::swap(kept);
        reindex();
        return this->begin() + offset;
    }

    std::pair<iterator, bool> insert(value_type&& value) {
        return emplace(value.first, std::move(value.second));
    }
    std::pair<iterator, bool> insert(const value_type& value) {
        T copy = value.second;
        return emplace(value.first, std::move(copy));
    }
    template <class It>
    void insert(It first, It last) {
        for (; first != last; ++first)
            insert(*first);
    }

    void clear() noexcept {
        Container::clear();
        index.clear();
    }

  private:
    void reindex() {
        index.clear();
        size_type i = 0;
        for (auto it = this->begin(); it != this->end(); ++it)
            index.emplace(it->first, i++);
    }

    std::unordered_map<Key, size_type> index;
};

}  // namespace hueslice::io::detail
