# target: decode
# file: decode/entry_reader.cpp
# fault: a mount read of a damaged entry ends one byte short of what was salvaged
s/end = std::min(end, health\.salvaged);/end = std::min(end, health.salvaged - 1);/
