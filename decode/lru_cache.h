// A map of shared, read-only values that drops the least recently used ones to stay within
// a byte budget. Not thread-safe: the caller holds its own lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <utility>

template <typename Value>
struct LruCache {
  struct Item {
    uint64_t key;
    std::shared_ptr<const Value> value;
    size_t cost;
  };
  size_t budget = 0;
  size_t used = 0;
  std::list<Item> items;  // most recently used first
  std::unordered_map<uint64_t, typename std::list<Item>::iterator> index;
};

// The value under `key`, made the most recently used; null when there is none.
template <typename Value>
std::shared_ptr<const Value> CacheFind(LruCache<Value>& cache, uint64_t key) {
  const auto found = cache.index.find(key);
  if (found == cache.index.end()) return nullptr;
  cache.items.splice(cache.items.begin(), cache.items, found->second);
  return found->second->value;
}

template <typename Value>
bool CacheHas(const LruCache<Value>& cache, uint64_t key) {
  return cache.index.count(key) != 0;
}

// Keeps `value` under `key` (replacing what was there) and drops the oldest values until
// the budget holds again. Values still in use elsewhere live on until their last user lets
// go of them.
template <typename Value>
void CachePut(LruCache<Value>& cache, uint64_t key, std::shared_ptr<const Value> value,
              size_t cost) {
  const auto found = cache.index.find(key);
  if (found != cache.index.end()) {
    cache.used -= found->second->cost;
    cache.items.erase(found->second);
  }
  cache.items.push_front(typename LruCache<Value>::Item{key, std::move(value), cost});
  cache.index[key] = cache.items.begin();
  cache.used += cost;
  while (cache.used > cache.budget && cache.items.size() > 1) {
    cache.used -= cache.items.back().cost;
    cache.index.erase(cache.items.back().key);
    cache.items.pop_back();
  }
}
