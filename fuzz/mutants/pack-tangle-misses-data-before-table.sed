# target: pack
# file: pack/like_layout.cpp
# fault: pack --like of a changed tree misses entry data that runs into a table from before it
s/if (after != structural\.begin() && std::prev(after)->end > range\.start) {/if (false) {/
