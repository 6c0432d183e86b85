// The folders one run has made, so that an entry pays folder calls only for the folders on
// its way that are new. Memory stays bounded: past the bounds the oldest are forgotten
// (and made again, at one call each, should a later entry need them). One record may be
// shared by threads extracting side by side: it guards itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

// Far more folders than real archives have (65,535 entries), in at most 16 MiB of text.
constexpr size_t kMaxRememberedFolders = 16384;
constexpr size_t kMaxRememberedBytes = 16u << 20;

struct MadeFolders {
  mutable std::mutex lock;                     // over the three below
  std::deque<std::string> order;               // oldest first; holds the text
  std::unordered_set<std::string_view> known;  // views of the strings in `order`
  size_t bytes = 0;
  size_t maxFolders = kMaxRememberedFolders;  // smaller in tests
  std::atomic<uint64_t> calls{0};             // folder creations asked of the system

  MadeFolders() = default;
  MadeFolders(const MadeFolders&) = delete;  // `known` points into `order`
  MadeFolders& operator=(const MadeFolders&) = delete;
};

bool Remembers(const MadeFolders& made, std::string_view folder);

// Remembers `folder`, forgetting the oldest ones first when a bound would be passed. The
// newest is always kept, however long: it is the folder the next entry most likely shares.
void Remember(MadeFolders& made, std::string_view folder);
