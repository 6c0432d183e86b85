# target: pack
# file: pack/like_layout.cpp
# fault: pack --like keeps one byte less of the slack than the largest a loader allows
s/b\.records\.size() - 1)/b.records.size() - 2)/
