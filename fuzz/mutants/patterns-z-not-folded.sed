# target: patterns
# file: names/entry_pattern.cpp
# fault: 'Z' is not case-folded
s/c >= 'A' && c <= 'Z'/c >= 'A' \&\& c < 'Z'/
