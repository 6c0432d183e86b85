# target: pack
# file: pack/like_layout.cpp
# fault: pack --like drops one byte of the slack between the file and the name table
s/std::min<uint64_t>(slack, /std::min<uint64_t>(slack - 1, /
